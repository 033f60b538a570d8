#pragma once
// The album download: a double click on an album asks for a folder and saves
// every photo of the album into a folder named after it, at most a few at a
// time, reporting its start, its end and every finished photo in the status
// bar.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

struct Application;
struct DownloadJob;
class WindowPort;

// A double click on row `row` of album_list (-1: no row): asks for a folder
// and downloads every photo of the album into a folder named after it. Called
// on the UI thread; returns once the job has been handed to a thread of its
// own. Ignored while an earlier job is still reading pages or starting
// workers.
void run_album_download(Application& app, int row);

// The program is ending: running jobs stop before their next page or worker
// start (showing nothing more), and workers make no further attempt. A
// transfer under way runs to its end. Cannot be undone.
void stop_album_downloads(Application& app);

// One photo of `job`: takes photo `photo_index`'s picture address from its
// chunk, claims a free file name in the album folder, downloads the picture
// with a few attempts and shows the completion text once a complete picture
// (a 2xx answer whose size matches its declared length) is on disk. A failed
// photo leaves no empty file and no error page; a transfer that broke off
// leaves what arrived. Lowers the job's worker count in every case. Runs on a
// worker thread.
void photo_worker(Application& app, const std::shared_ptr<DownloadJob>& job, std::int32_t photo_index);

// Shows "第 N 张下载完成" for photo `photo_index` when `received` bytes make
// 100 % of `total` (truncated; nothing when total is 0 or less). elapsed_ms
// plays no part.
void report_picture_progress(WindowPort& window, std::int32_t total, std::int32_t received,
                             std::int32_t elapsed_ms, std::int32_t photo_index);
std::string completion_text(std::int32_t photo_index);

// Claims a free file for a photo in `folder`: base + extension, else
// base-001 + extension ... base-999 + extension, the first name at which
// nothing (file, folder or link) exists, created empty so that no other
// worker can choose it too. Each try holds `download_lock` for one file
// creation only. nullopt when every name is taken or the folder cannot take a
// new file.
std::optional<std::filesystem::path> claim_photo_file(std::mutex& download_lock,
                                                      const std::filesystem::path& folder,
                                                      std::string_view base_name, std::string_view extension);

}  // namespace velmora
