#include "download/album_download.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <system_error>
#include <utility>

#include "download/album_pages.h"
#include "download/photo_names.h"
#include "shell/application.h"
#include "web/encoding.h"
#include "web/page_request.h"
#include "web/picture_request.h"

namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;

// Waits until `deadline`; true when the program asked the downloads to stop
// (at once, not at the deadline).
bool pause_until(DownloadState& state, Clock::time_point deadline) {
  std::unique_lock lock(state.stop_mutex);
  return state.stop_signal.wait_until(lock, deadline, [&] { return state.stop_requested; });
}

bool stop_requested(DownloadState& state) {
  std::lock_guard lock(state.stop_mutex);
  return state.stop_requested;
}

// Clears DownloadState::job_running when the job ends, however it ends,
// unless the job has been handed on.
class JobRunningFlag {
 public:
  explicit JobRunningFlag(std::atomic<bool>& flag) : flag_(&flag) {}
  JobRunningFlag(const JobRunningFlag&) = delete;
  JobRunningFlag& operator=(const JobRunningFlag&) = delete;
  ~JobRunningFlag() {
    if (flag_) flag_->store(false);
  }
  void hand_on() { flag_ = nullptr; }

 private:
  std::atomic<bool>* flag_;
};

// Lowers the job's worker count when a worker ends, however it ends.
class WorkerSlot {
 public:
  WorkerSlot(std::mutex& download_lock, DownloadJob& job) : lock_(download_lock), job_(job) {}
  WorkerSlot(const WorkerSlot&) = delete;
  WorkerSlot& operator=(const WorkerSlot&) = delete;
  ~WorkerSlot() {
    std::lock_guard lock(lock_);
    --job_.active_workers;
  }

 private:
  std::mutex& lock_;
  DownloadJob& job_;
};

// What the UI thread hands to the job's own thread: everything the job needs,
// read once, so that later events (a new address, a new album list) cannot
// change it under the job.
struct JobOrder {
  std::filesystem::path chosen_folder;
  std::string title;
  std::int32_t album_number = 0;
  std::string site_user;
  std::string album_site_host;
  DownloadLimits limits;
};

int running_workers(DownloadState& state, DownloadJob& job) {
  std::lock_guard lock(state.download_lock);
  return job.active_workers;
}

std::int64_t file_size_or_minus_one(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return -1;
  auto size = std::filesystem::file_size(path, ec);
  return ec ? -1 : static_cast<std::int64_t>(size);
}

bool is_success_status(int http_status) { return http_status >= 200 && http_status <= 299; }

void run_download_job(Application& app, const JobOrder& order) {
  DownloadState& state = app.download;
  const DownloadLimits& limits = order.limits;

  auto job = std::make_shared<DownloadJob>();
  job->limits = limits;
  job->album_folder = order.chosen_folder / album_folder_name(order.title, order.album_number);
  std::error_code ec;
  std::filesystem::create_directories(job->album_folder, ec);
  if (!std::filesystem::is_directory(job->album_folder, ec)) {
    // Going on would show the texts of a good download while nothing can be
    // saved.
    app.window.set_status_text("无法创建相册文件夹");
    return;
  }
  app.window.set_status_text("下载开始");

  std::string all_pages;
  for (int page = 1; page <= limits.max_pages; ++page) {
    if (stop_requested(state)) return;
    std::string text = utf8_to_text(
        fetch_page_bytes(album_page_address(order.album_site_host, order.site_user, order.album_number, page)));
    all_pages += text;
    if (!has_next_page(text)) break;
  }
  job->photo_chunks = photo_chunks_from_pages(all_pages);
  std::string().swap(all_pages);

  const std::int32_t last = job->photo_chunks.empty() ? 0 : static_cast<std::int32_t>(job->photo_chunks.size() - 1);
  // Each start is timed from the moment the previous one began, not from
  // when its thread was up, so the time that starting takes does not add up
  // over an album.
  Clock::time_point next_start = Clock::now() + limits.start_spacing;
  Clock::time_point last_start = Clock::now();
  for (std::int32_t photo_index = 1; photo_index <= last; ++photo_index) {
    if (pause_until(state, next_start)) return;
    last_start = Clock::now();
    next_start = last_start + limits.start_spacing;
    {
      std::lock_guard lock(state.download_lock);
      ++job->active_workers;
    }
    bool started = app.threads.start([&app, job, photo_index] { photo_worker(app, job, photo_index); });
    if (!started) {
      // The worker will never run to give its slot back.
      std::lock_guard lock(state.download_lock);
      --job->active_workers;
    }
    if (photo_index == last) break;
    bool waited = false;
    while (running_workers(state, *job) >= limits.max_running_workers) {
      waited = true;
      if (pause_until(state, Clock::now() + limits.full_check_interval)) return;
    }
    // After a wait for a free slot the next start comes a full spacing later.
    if (waited) next_start = Clock::now() + limits.start_spacing;
  }
  if (pause_until(state, last_start + limits.final_pause)) return;
  app.window.set_status_text("下载完成");
}

}  // namespace

void run_album_download(Application& app, int row) {
  if (row < 0) return;
  DownloadState& state = app.download;
  if (state.job_running.exchange(true)) return;
  JobRunningFlag running(state.job_running);

  // The row is read before the dialog: the album list may be refilled while
  // the dialog is open, and the job must download the album that was clicked.
  JobOrder order;
  order.album_number = app.window.album_value(row);
  order.title = app.window.album_cell(row, 0);
  {
    std::lock_guard lock(app.catalogue.mutex);
    order.site_user = app.catalogue.site_user;
  }
  order.album_site_host = app.hosts.album_site;
  order.limits = state.limits;

  std::optional<std::filesystem::path> chosen =
      app.window.choose_folder("请选择要保存的文件夹", app.files.executable.parent_path());
  if (!chosen) return;
  order.chosen_folder = std::move(*chosen);

  bool started = app.threads.start([&app, order = std::move(order)] {
    JobRunningFlag job_running(app.download.job_running);
    try {
      run_download_job(app, order);
    } catch (...) {
      // Out of memory or the like: the job ends; its workers end by themselves.
    }
  });
  // Without a thread there is no job, and the next double click may try again.
  if (started) running.hand_on();
}

void stop_album_downloads(Application& app) {
  {
    std::lock_guard lock(app.download.stop_mutex);
    app.download.stop_requested = true;
  }
  app.download.stop_signal.notify_all();
}

std::string completion_text(std::int32_t photo_index) {
  return "第 " + std::to_string(photo_index) + " 张下载完成";
}

void report_picture_progress(WindowPort& window, std::int32_t total, std::int32_t received, std::int32_t,
                             std::int32_t photo_index) {
  if (total <= 0) return;
  auto percent = static_cast<std::int64_t>(static_cast<double>(received) * 100.0 / static_cast<double>(total));
  if (percent == 100) window.set_status_text(completion_text(photo_index));
}

std::optional<std::filesystem::path> claim_photo_file(std::mutex& download_lock,
                                                      const std::filesystem::path& folder,
                                                      std::string_view base_name, std::string_view extension) {
  for (int n = 0; n <= last_photo_suffix; ++n) {
    std::string name = n == 0 ? std::string(base_name) : suffixed_photo_name(base_name, n);
    name += extension;
    std::filesystem::path path = folder / name;
    std::FILE* file;
    int error;
    {
      std::lock_guard lock(download_lock);
      // "x": fails when anything at all is there, a folder or a dangling
      // link included.
      file = std::fopen(path.c_str(), "wbx");
      error = errno;
    }
    if (file) {
      std::fclose(file);
      return path;
    }
    if (error != EEXIST) return std::nullopt;  // the folder takes no file at all
  }
  return std::nullopt;
}

void photo_worker(Application& app, const std::shared_ptr<DownloadJob>& job, std::int32_t photo_index) {
  DownloadState& state = app.download;
  WorkerSlot slot(state.download_lock, *job);
  try {
    if (photo_index < 1 || static_cast<std::size_t>(photo_index) >= job->photo_chunks.size()) return;
    const std::string address = picture_address(job->photo_chunks[static_cast<std::size_t>(photo_index)]);
    std::optional<std::filesystem::path> path =
        claim_photo_file(state.download_lock, job->album_folder, photo_base_name(photo_index),
                         picture_extension(address));
    if (!path) return;

    const DownloadLimits& limits = job->limits;
    bool saved = false;
    for (int attempt = 1; attempt <= limits.attempts_per_photo && !saved; ++attempt) {
      if (pause_until(state, Clock::now() + limits.wait_before_attempt)) break;
      std::int32_t last_total = 0;
      std::int32_t last_received = 0;
      std::int32_t last_elapsed = 0;
      int http_status = 0;
      std::int32_t declared = fetch_picture(
          address, path->string(), photo_index,
          [&](std::int32_t total, std::int32_t received, std::int32_t elapsed_ms, std::int32_t) {
            last_total = total;
            last_received = received;
            last_elapsed = elapsed_ms;
          },
          std::nullopt, &http_status);
      std::int64_t size = file_size_or_minus_one(*path);
      if (is_success_status(http_status) && size == declared && size > 0) {
        saved = true;
        // Only now is it known that the bytes are the picture and not an
        // error page of the same length.
        report_picture_progress(app.window, last_total, last_received, last_elapsed, photo_index);
      } else if (http_status != 0 && !is_success_status(http_status)) {
        // An error page is never left under the photo's name.
        std::error_code ec;
        std::filesystem::resize_file(*path, 0, ec);
      }
    }
    if (!saved && file_size_or_minus_one(*path) == 0) {
      std::error_code ec;
      std::filesystem::remove(*path, ec);
    }
  } catch (...) {
    // Out of memory or the like: the photo is given up; the slot goes back.
  }
}

}  // namespace velmora
