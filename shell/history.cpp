#include "shell/history.h"

#include "shell/application.h"

namespace velmora {

// Not built yet.
void remember_address(Application&, const std::string&) {}
void pick_history_item(Application&, int) {}

}  // namespace velmora
