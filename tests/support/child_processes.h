#pragma once
// Watching the processes that the code under test starts. Programs started
// detached are orphaned on purpose; a test process that adopts orphans gets
// them back as its own children, can see when they end and reaps them, so
// no test leaves a zombie behind.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <vector>

namespace velmora::testing {

// Makes this process the reaper of its orphaned descendants (Linux).
void adopt_orphans();

// The processes whose parent is this process, zombies included.
std::vector<pid_t> child_processes();

// Waits for the child `pid` to end and reaps it: its wait status, or nullopt
// on time-out or when it is not a child of this process.
std::optional<int> wait_for_child(pid_t pid, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Reaps every child that has ended, and those that end within `timeout`.
void reap_children(std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Waits until `path` exists; false on time-out.
bool wait_for_file(const std::filesystem::path& path, std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace velmora::testing
