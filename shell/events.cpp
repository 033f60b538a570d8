#include "shell/events.h"

#include "catalogue/address_check.h"
#include "shell/application.h"
#include "shell/history.h"
#include "update/update_check.h"

namespace velmora {

bool address_key_up(Application& app, int key_code, int /*modifiers*/) {
  if (key_code != key_code_enter) return false;
  check_album_address(app);
  return true;
}

void show_help(Application& app) {
  app.window.message_box(help_text, help_title, MessageBoxButtons::ok, /*owned_by_window=*/true);
}

void start_up(Application& app) {
  remember_address(app, "");
  check_for_update(app);
  // The download lock is a member of the application's download state: it
  // exists from the moment the application does, so it is ready here, before
  // the window is shown and any download can start.
}

}  // namespace velmora
