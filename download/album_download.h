#pragma once
// The album download: a double click on an album asks for a folder and saves
// every photo of the album into a folder named after it, at most a few at a
// time, reporting its start, its end and every finished photo in the status
// bar.
#include <chrono>
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
struct DownloadState;
class WindowPort;

// A double click on row `row` of album_list (-1: no row): asks for a folder
// and downloads every photo of the album into a folder named after it. Called
// on the UI thread; returns once the job has been handed to a thread of its
// own. Ignored while an earlier job runs (reads pages, starts workers or
// waits to show "下载完成"); workers of an earlier job may still run.
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
// worker thread; `started` is when the job started it, and the wait before
// the first attempt counts from then.
void photo_worker(Application& app, const std::shared_ptr<DownloadJob>& job, std::int32_t photo_index,
                  std::chrono::steady_clock::time_point started);

// Shows "第 N 张下载完成" for photo `photo_index` when `received` bytes make
// 100 % of `total` (truncated; nothing when total is 0 or less). elapsed_ms
// plays no part.
void report_picture_progress(WindowPort& window, std::int32_t total, std::int32_t received,
                             std::int32_t elapsed_ms, std::int32_t photo_index);
std::string completion_text(std::int32_t photo_index);

// Chooses a free file for a photo in `folder`: base + extension, else
// base-001 + extension ... base-999 + extension, the first name at which
// nothing is on disk (file, folder or link, a dangling one too) and that no
// running worker holds. The name is held (in names_in_use) until
// release_photo_file, so no other worker can choose it before its file
// exists. Each try holds download_lock for one look-up only. nullopt when
// every name is taken or `folder` is not a folder.
std::optional<std::filesystem::path> claim_photo_file(DownloadState& state, const std::filesystem::path& folder,
                                                      std::string_view base_name, std::string_view extension);
void release_photo_file(DownloadState& state, const std::filesystem::path& path);

}  // namespace velmora
