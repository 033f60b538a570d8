#include "catalogue/album_preview.h"

#include <mutex>

#include "catalogue/preview_page.h"
#include "shell/application.h"

namespace velmora {

void show_album_preview(Application& app, int row) {
  if (row < 0) return;
  WindowPort& window = app.window;
  PreviewCard card;
  card.album_number = window.album_value(row);
  card.count_text = window.album_cell(row, 1);
  card.title = window.album_cell(row, 0);
  {
    std::lock_guard lock(app.catalogue.mutex);
    const auto& covers = app.catalogue.cover_urls;
    // A new scrape may have emptied the list since the click was made.
    if (static_cast<std::size_t>(row) < covers.size()) card.cover_url = covers[row];
    card.site_user = app.catalogue.site_user;
  }
  const std::string page = build_preview_page(app.hosts.album_site, app.hosts.update_site, card);
  window.set_clipboard_text(page);
  window.write_preview(page);
}

}  // namespace velmora
