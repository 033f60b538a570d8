#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace velmora {

// The pace of an album download. A job copies them when it starts.
struct DownloadLimits {
  int max_running_workers = 5;                        // photos downloaded at the same time
  std::chrono::milliseconds start_spacing{100};       // between two worker starts, at least
  std::chrono::milliseconds full_check_interval{200}; // while every worker slot is taken
  std::chrono::milliseconds final_pause{2000};        // from the last start to "下载完成"
  int attempts_per_photo = 3;
  std::chrono::milliseconds wait_before_attempt{100}; // before every attempt, the first included
  // A site whose every page links to a next one would otherwise be read for
  // ever; no real album comes near this.
  int max_pages = 10000;
};

// One album's download, shared by its job and its photo workers: each job
// has its own, so a later job never disturbs an earlier job's workers.
struct DownloadJob {
  std::filesystem::path album_folder;     // every photo file of the job goes in here
  std::vector<std::string> photo_chunks;  // element k belongs to photo k; fixed before the first worker starts
  int active_workers = 0;                 // started and not yet finished; guarded by DownloadState::download_lock
  DownloadLimits limits;                  // as when the job started
};

// What the album download keeps between events.
struct DownloadState {
  std::mutex download_lock;  // guards the worker counts and the file-name choice
  DownloadLimits limits;
  // A job is between its folder dialog and "下载完成"; another double click
  // is ignored meanwhile.
  std::atomic<bool> job_running{false};

  // Set once when the program ends: jobs stop starting workers and workers
  // stop retrying, so that nothing keeps the program waiting.
  std::mutex stop_mutex;
  std::condition_variable stop_signal;
  bool stop_requested = false;  // guarded by stop_mutex
};

}  // namespace velmora
