#pragma once
// Starts the program's background threads (the album list scrape, download
// jobs, photo workers) without keeping their handles, but counts them, so that
// an owner can wait until every one has ended: each test starts fresh, and no
// thread outlives the state it works on.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace velmora {

class BackgroundThreads {
 public:
  BackgroundThreads() = default;
  ~BackgroundThreads();  // waits for every thread started here
  BackgroundThreads(const BackgroundThreads&) = delete;
  BackgroundThreads& operator=(const BackgroundThreads&) = delete;

  // Runs `work` on a new thread. False when the system refuses the thread;
  // `work` then never runs.
  bool start(std::function<void()> work);

  // Waits until no thread started here runs any more; false on time-out.
  bool wait_idle(std::chrono::milliseconds timeout);
  int running() const;

  // The next `count` starts are refused as the system would refuse them
  // (used to show how callers recover from a thread that cannot be started).
  void refuse_next_starts(int count) { refused_starts_ = count; }

 private:
  mutable std::mutex mutex_;
  std::condition_variable idle_;
  int running_ = 0;
  std::atomic<int> refused_starts_{0};
};

}  // namespace velmora
