#pragma once
#include <string_view>

#include "catalogue/album_list_page.h"

namespace velmora {
struct Application;
// The album list scrape of an accepted address, run on its own thread (started
// by check_album_address with enter_button disabled): empties album_list and
// cover_urls, fetches and reads album_address, fills both in step, remembers
// the address when at least one album was listed, writes the summary status
// and gives enter_button back, whatever happened.
void scrape_album_list(Application& app);

// The middle of that run, from the fetched page to the filled list: reads
// `page_bytes` and appends each album's cover address and then its row, a
// batch of rows per trip to the window. Returns what the page held.
AlbumListPage show_album_list_page(Application& app, std::string_view page_bytes);
}  // namespace velmora
