#pragma once
#include <mutex>

namespace velmora {

// What the album download keeps between events.
struct DownloadState {
  std::mutex download_lock;  // guards the worker count and the file-name choice
};

}  // namespace velmora
