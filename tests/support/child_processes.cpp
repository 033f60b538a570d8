#include "support/child_processes.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace velmora::testing {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void adopt_orphans() { ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0); }

std::vector<pid_t> child_processes() {
  std::vector<pid_t> children;
  const pid_t self = ::getpid();
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat_file(entry.path() / "stat");
    std::string stat_line;
    if (!std::getline(stat_file, stat_line)) continue;
    // "pid (command) state ppid ...": the command may hold blanks and parentheses.
    const std::size_t close = stat_line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat_line.substr(close + 1));
    char state = 0;
    pid_t parent = 0;
    if (rest >> state >> parent && parent == self) children.push_back(static_cast<pid_t>(std::stol(name)));
  }
  return children;
}

std::optional<int> wait_for_child(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t got = ::waitpid(pid, &status, WNOHANG);
    if (got == pid) return status;
    if (got < 0 || Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void reap_children(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    int status = 0;
    while (::waitpid(-1, &status, WNOHANG) > 0) {
    }
    if (child_processes().empty() || Clock::now() >= deadline) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool wait_for_file(const fs::path& path, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::error_code ec;
  while (!fs::exists(path, ec)) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace velmora::testing
