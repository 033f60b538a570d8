#include "catalogue/address_check.h"

#include "shell/application.h"

namespace velmora {
// Not built yet.
void check_album_address(Application&) {}
}  // namespace velmora
