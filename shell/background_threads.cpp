#include "shell/background_threads.h"

#include <system_error>
#include <thread>

namespace velmora {

BackgroundThreads::~BackgroundThreads() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return running_ == 0; });
}

bool BackgroundThreads::start(std::function<void()> work) {
  if (refused_starts_.load() > 0 && refused_starts_.fetch_sub(1) > 0) return false;
  {
    std::lock_guard lock(mutex_);
    ++running_;
  }
  try {
    std::thread([this, work = std::move(work)] {
      work();
      std::lock_guard lock(mutex_);
      if (--running_ == 0) idle_.notify_all();
    }).detach();
    return true;
  } catch (const std::system_error&) {
    std::lock_guard lock(mutex_);
    if (--running_ == 0) idle_.notify_all();
    return false;
  }
}

bool BackgroundThreads::wait_idle(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return idle_.wait_for(lock, timeout, [this] { return running_ == 0; });
}

int BackgroundThreads::running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

}  // namespace velmora
