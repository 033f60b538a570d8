#include "catalogue/address_check.h"

#include <mutex>

#include "catalogue/album_address.h"
#include "catalogue/album_list.h"
#include "shell/application.h"

namespace velmora {

void check_album_address(Application& app) {
  CatalogueState& state = app.catalogue;
  WindowPort& window = app.window;
  // Enter released in the box reaches here while the button is locked; a
  // running scrape keeps its address, and no second one starts.
  if (state.scraping) return;

  const std::string typed = window.url_text();
  std::string address = typed;
  std::string user;
  if (!typed.empty()) {
    address = with_http_scheme(typed);
    if (address != typed) window.set_url_text(address);
    user = site_user_in_address(address, app.hosts.album_site);
  }
  {
    std::lock_guard lock(state.mutex);
    state.album_address = address;
    if (!typed.empty()) state.site_user = user;
  }
  if (typed.empty()) return;

  if (user.empty()) {
    window.set_status_text("网址有误");
    return;
  }
  state.scraping = true;
  window.set_enter_enabled(false);
  if (!app.threads.start([&app] { scrape_album_list(app); })) {
    // No thread, no scrape: the button must not stay locked for good.
    state.scraping = false;
    window.set_enter_enabled(true);
  }
}

}  // namespace velmora
