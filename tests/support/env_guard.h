#pragma once
// Sets (or clears) environment variables for the life of the object and puts
// the previous values back afterwards. Tests that use it must not run other
// threads that read the environment meanwhile.
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmora::testing {

class EnvGuard {
 public:
  EnvGuard() = default;
  ~EnvGuard() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        ::unsetenv(it->first.c_str());
      }
    }
  }
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;

  // value absent: the variable is removed.
  void set(const std::string& name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }

  // Removes every proxy variable the HTTP library reads.
  void clear_proxies() {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             "no_proxy", "NO_PROXY"}) {
      set(name, std::nullopt);
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace velmora::testing
