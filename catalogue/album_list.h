#pragma once
namespace velmora {
struct Application;
// The album list scrape of an accepted address, run on its own thread (started
// by check_album_address with enter_button disabled): empties album_list and
// cover_urls, fetches and reads album_address, fills both in step, remembers
// the address when at least one album was listed, writes the summary status
// and gives enter_button back, whatever happened.
void scrape_album_list(Application& app);
}  // namespace velmora
