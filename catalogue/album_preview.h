#pragma once
namespace velmora {
struct Application;
// A single click on row `row` of album_list (-1: no row): the album's preview
// card goes to the clipboard and into the preview view. UI thread.
void show_album_preview(Application& app, int row);
}  // namespace velmora
