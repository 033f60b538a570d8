#include "support/private_display.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace velmora::testing {

PrivateDisplay::PrivateDisplay() {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) {
    error_ = "pipe failed";
    return;
  }
  server_ = ::fork();
  if (server_ < 0) {
    error_ = "fork failed";
    return;
  }
  if (server_ == 0) {
    // Xvfb picks a free display and writes its number to descriptor 3.
    ::dup2(pipe_fds[1], 3);
    int null_fd = ::open("/dev/null", O_WRONLY);
    ::dup2(null_fd, 1);
    ::dup2(null_fd, 2);
    ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp", nullptr);
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  char c;
  while (::read(pipe_fds[0], &c, 1) == 1 && c != '\n') number_.push_back(c);
  ::close(pipe_fds[0]);
  if (number_.empty()) {
    error_ = "Xvfb did not start (is it installed?)";
    return;
  }
  ::setenv("DISPLAY", (":" + number_).c_str(), 1);
  ::setenv("GSETTINGS_BACKEND", "memory", 1);
  ::setenv("NO_AT_BRIDGE", "1", 1);
}

PrivateDisplay::~PrivateDisplay() {
  if (server_ > 0) {
    ::kill(server_, SIGTERM);
    ::waitpid(server_, nullptr, 0);
  }
}

}  // namespace velmora::testing
