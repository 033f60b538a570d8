#include "catalogue/album_preview.h"

#include "shell/application.h"

namespace velmora {
// Not built yet.
void show_album_preview(Application&, int) {}
}  // namespace velmora
