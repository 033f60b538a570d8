#pragma once
// A private X server (Xvfb) for a test or benchmark process, so that the real
// window can run in-process without touching the user's display.
#include <sys/types.h>

#include <string>

namespace velmora::testing {

class PrivateDisplay {
 public:
  // Starts Xvfb on a free display and points DISPLAY at it. error() says why
  // when it could not be started.
  PrivateDisplay();
  ~PrivateDisplay();  // stops the server
  PrivateDisplay(const PrivateDisplay&) = delete;
  PrivateDisplay& operator=(const PrivateDisplay&) = delete;

  bool running() const { return !number_.empty(); }
  const std::string& error() const { return error_; }

 private:
  pid_t server_ = -1;
  std::string number_;
  std::string error_;
};

}  // namespace velmora::testing
