#pragma once
// The page request: one complete, blocking HTTP exchange whose whole body is
// handed back. Failure is an empty result; a transfer that breaks off gives
// the bytes that arrived. Nothing is thrown, nothing is logged.
#include <functional>
#include <optional>
#include <string>

namespace velmora {

// `method`: "POST" in any letter case is sent as spelled, anything else as GET.
// `proxy`: host:port of an HTTP proxy; absent means a direct connection (the
// proxy variables of the environment are ignored). `request_headers`: extra
// header lines, each ending in "\r\n"; the default Accept, Referer and
// Accept-Language lines are appended unless already named. `response_headers`:
// when given, receives the raw response header block (at most 1023 bytes).
std::string fetch_page_bytes(const std::string& url, const std::string& method = {},
                             const std::optional<std::string>& proxy = std::nullopt,
                             const std::string& request_headers = {}, const std::string& post_data = {},
                             std::string* response_headers = nullptr);

// The same request; the body as text, up to its first zero byte.
std::string fetch_page(const std::string& url, const std::string& method = {},
                       const std::optional<std::string>& proxy = std::nullopt,
                       const std::string& request_headers = {}, const std::string& post_data = {},
                       std::string* response_headers = nullptr);

// While alive, page requests made on the constructing thread call `pump`
// between reads, so that the window on that thread keeps handling its events.
// Other threads are not affected and pay nothing.
class ScopedPageRequestPump {
 public:
  explicit ScopedPageRequestPump(std::function<void()> pump);
  ~ScopedPageRequestPump();
  ScopedPageRequestPump(const ScopedPageRequestPump&) = delete;
  ScopedPageRequestPump& operator=(const ScopedPageRequestPump&) = delete;

 private:
  std::function<void()> previous_;
};

}  // namespace velmora
