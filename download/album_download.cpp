#include "download/album_download.h"

#include "shell/application.h"

namespace velmora {
// Not built yet.
void run_album_download(Application&, int) {}
}  // namespace velmora
