#pragma once
#include <filesystem>
#include <mutex>
#include <vector>

#include "shell/window_port.h"

namespace velmora {

// What the application shell keeps: where cfg.ini lives and the items of
// history_menu as last built.
struct ShellState {
  std::filesystem::path settings_path;
  std::mutex history_mutex;  // guards history_items
  std::vector<HistoryMenuItem> history_items;
};

}  // namespace velmora
