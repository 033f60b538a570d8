#include "update/update_check.h"

#include "shell/application.h"

namespace velmora {
// Not built yet.
void check_for_update(Application&) {}
}  // namespace velmora
