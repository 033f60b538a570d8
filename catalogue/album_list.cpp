#include "catalogue/album_list.h"

#include <algorithm>
#include <mutex>
#include <new>

#include "shell/application.h"
#include "shell/history.h"
#include "web/page_request.h"

namespace velmora {

namespace {

// Rows travel to the window a batch at a time: one trip to the UI thread per
// row would cost more than reading the whole page.
constexpr std::size_t rows_per_batch = 256;

void show_albums(Application& app, const std::vector<AlbumEntry>& albums) {
  std::vector<AlbumRow> batch;
  batch.reserve(std::min(rows_per_batch, albums.size()));
  for (std::size_t first = 0; first < albums.size(); first += rows_per_batch) {
    const std::size_t end = std::min(albums.size(), first + rows_per_batch);
    batch.clear();
    {
      // The covers go in before their rows: a row the user can click always
      // has its cover address.
      std::lock_guard lock(app.catalogue.mutex);
      for (std::size_t i = first; i < end; ++i) app.catalogue.cover_urls.push_back(albums[i].cover_url);
    }
    for (std::size_t i = first; i < end; ++i)
      batch.push_back(AlbumRow{albums[i].title, albums[i].album_number, photo_count_text(albums[i].photo_count)});
    app.window.append_albums(batch);
  }
}

}  // namespace

AlbumListPage show_album_list_page(Application& app, std::string_view page_bytes) {
  AlbumListPage page = read_album_list_page(page_bytes);
  show_albums(app, page.albums);
  return page;
}

void scrape_album_list(Application& app) {
  WindowPort& window = app.window;
  window.delete_all_albums();
  std::string album_address;
  {
    std::lock_guard lock(app.catalogue.mutex);
    app.catalogue.cover_urls.clear();
    app.catalogue.cover_urls.shrink_to_fit();
    album_address = app.catalogue.album_address;
  }

  AlbumListPage page;
  try {
    page = read_album_list_page(fetch_page_bytes(album_address));
  } catch (const std::bad_alloc&) {
    // A page too large to hold lists nothing, like a page that never came.
    page = AlbumListPage{};
  }
  show_albums(app, page.albums);

  if (!page.albums.empty()) remember_address(app, history_entry(album_address, page.owner_name));
  window.set_status_text(album_list_summary(page.owner_name, page.albums.size()));
  window.set_enter_enabled(true);
  // Cleared only after the button is back, so that no second scrape can start
  // while this one still has a window call to make.
  app.catalogue.scraping = false;
}

}  // namespace velmora
