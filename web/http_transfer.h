#pragma once
// What the page request and the picture request share underneath: one
// initialisation of the HTTP library, handle ownership, the idle timer, the
// request-target escaping and the header-list building. Internal to web/.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <curl/curl.h>

namespace velmora::http {

// Initialises libcurl once per process; safe to call from any thread.
void ensure_library_ready();

struct EasyHandleDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyHandleDeleter>;

struct UrlHandleDeleter {
  void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlHandleDeleter>;

// Owns a curl_slist; append() takes a line that must hold no CR or LF.
class HeaderList {
 public:
  HeaderList() = default;
  ~HeaderList() { curl_slist_free_all(list_); }
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;
  bool append(const std::string& line);
  curl_slist* get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
};

// Cuts `header_text` into lines at every "\r\n", drops empty lines and any
// stray CR or LF inside a line (so no text can smuggle in a header line of its
// own), and appends each line to `list`.
bool append_header_lines(HeaderList& list, std::string_view header_text);

// `text` with every CR and LF removed.
std::string without_line_breaks(std::string_view text);

// The path (with its query) ready for a request line: spaces and control bytes
// are percent-encoded, a fragment ("#" onwards) is dropped, every other byte
// is kept as it is, bytes above 0x7F included.
std::string request_target(std::string_view path);

// An "http" URL handle for host, port (0 taken as 80) and path; null when the
// HTTP library refuses the host or the port.
UrlHandle http_url(const std::string& host, std::int32_t port, std::string_view path);

// Aborts a transfer that has neither sent nor received a byte for `limit`.
// Install with watch_idle_time(); call note_activity() from the header and
// body callbacks.
class IdleTimer {
 public:
  explicit IdleTimer(std::chrono::milliseconds limit) : limit_(limit) {}
  void note_activity() { last_activity_ = std::chrono::steady_clock::now(); }
  bool expired(curl_off_t received, curl_off_t sent);
  bool fired() const { return fired_; }

 private:
  std::chrono::milliseconds limit_;
  std::chrono::steady_clock::time_point last_activity_ = std::chrono::steady_clock::now();
  curl_off_t last_received_ = 0;
  curl_off_t last_sent_ = 0;
  bool fired_ = false;
};
void watch_idle_time(CURL* easy, IdleTimer& timer);

}  // namespace velmora::http
