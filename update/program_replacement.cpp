#include "update/program_replacement.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace velmora {

namespace fs = std::filesystem;

fs::path moved_aside_path(const fs::path& executable) {
  fs::path aside = executable;
  aside += ".delete";
  return aside;
}

namespace {

std::error_code last_error() { return std::error_code(errno, std::generic_category()); }

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// The new program's permission bits: those of the program it replaces (so a
// program shared by several users stays shared), at least readable and
// executable by its owner, never set-user or set-group.
mode_t new_program_mode(const fs::path& executable) {
  struct stat old_status {};
  mode_t mode = 0755;
  if (::stat(executable.c_str(), &old_status) == 0) mode = old_status.st_mode & 0777;
  return mode | S_IRUSR | S_IWUSR | S_IXUSR;
}

// Writes the new program into a fresh file beside `executable`; its path, or
// an empty path and `error`.
fs::path write_beside(const fs::path& executable, std::string_view new_program, std::error_code& error) {
  std::string pattern = executable.string() + ".download-XXXXXX";
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    error = last_error();
    return {};
  }
  const fs::path written(pattern);
  bool ok = write_all(fd, new_program) && ::fsync(fd) == 0 && ::fchmod(fd, new_program_mode(executable)) == 0;
  if (!ok) error = last_error();
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = last_error();
  }
  if (!ok) {
    ::unlink(written.c_str());
    return {};
  }
  return written;
}

}  // namespace

ReplacementResult replace_program_file(const fs::path& executable, std::string_view new_program) {
  ReplacementResult result;
  if (executable.filename().empty()) {
    result.failed_step = ReplacementStep::write_new;
    result.error = std::make_error_code(std::errc::no_such_file_or_directory);
    return result;
  }
  const fs::path fresh = write_beside(executable, new_program, result.error);
  if (fresh.empty()) {
    result.failed_step = ReplacementStep::write_new;
    return result;
  }
  const fs::path aside = moved_aside_path(executable);
  if (::rename(executable.c_str(), aside.c_str()) != 0) {
    result.error = last_error();
    result.failed_step = ReplacementStep::move_old_aside;
    ::unlink(fresh.c_str());
    return result;
  }
  if (::rename(fresh.c_str(), executable.c_str()) != 0) {
    result.error = last_error();
    result.failed_step = ReplacementStep::move_new_in;
    ::unlink(fresh.c_str());
    result.old_program_in_place = ::rename(aside.c_str(), executable.c_str()) == 0;
    return result;
  }
  // The renames are durable only once the folder itself is flushed.
  int folder = ::open(executable.parent_path().empty() ? "." : executable.parent_path().c_str(),
                      O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return result;
}

bool put_old_program_back(const fs::path& executable, std::error_code& error) {
  const fs::path aside = moved_aside_path(executable);
  if (::rename(aside.c_str(), executable.c_str()) != 0) {
    error = last_error();
    return false;
  }
  error.clear();
  return true;
}

std::error_code start_detached_program(const fs::path& program) {
  // Everything the child processes need is made before fork: after it, only
  // async-signal-safe calls are allowed, since other threads may hold locks.
  std::string path = program.string();
  char* argv[] = {path.data(), nullptr};

  // The grandchild reports a failed exec through this pipe; a successful exec
  // closes it (close-on-exec), and the parent reads end-of-file.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return last_error();

  pid_t child = ::fork();
  if (child < 0) {
    std::error_code error = last_error();
    ::close(report[0]);
    ::close(report[1]);
    return error;
  }
  if (child == 0) {
    ::close(report[0]);
    pid_t grandchild = ::fork();
    if (grandchild < 0) {
      int error = errno;
      (void)!::write(report[1], &error, sizeof error);
      ::_exit(1);
    }
    if (grandchild > 0) ::_exit(0);  // the new program is handed to the system's reaper

    // A fresh start for the new program: no blocked signals and no ignored
    // ones inherited from this program's libraries, no descriptors but 0-2.
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    for (int signal_number = 1; signal_number < NSIG; ++signal_number)
      ::sigaction(signal_number, &default_action, nullptr);
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);

    ::execv(path.c_str(), argv);
    int error = errno;
    (void)!::write(report[1], &error, sizeof error);
    ::_exit(127);
  }

  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t got;
  do {
    got = ::read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  if (got == static_cast<ssize_t>(sizeof error)) return std::error_code(error, std::generic_category());
  if (got != 0) return std::make_error_code(std::errc::io_error);
  return {};
}

}  // namespace velmora
