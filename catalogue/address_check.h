#pragma once
namespace velmora {
struct Application;
// The user asks to open the address in url_edit (the go button, or Enter
// released in the box). Starts the album list scrape for an accepted address;
// writes "网址有误" for a rejected one. UI thread; returns at once.
void check_album_address(Application& app);
}  // namespace velmora
