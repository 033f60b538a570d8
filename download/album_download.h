#pragma once
namespace velmora {
struct Application;
// A double click on row `row` of album_list (-1: no row): asks for a folder
// and downloads every photo of the album into a folder named after it. Called
// on the UI thread; the job itself runs on threads of its own.
void run_album_download(Application& app, int row);
}  // namespace velmora
