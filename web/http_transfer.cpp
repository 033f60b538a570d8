#include "web/http_transfer.h"

#include <string>

namespace velmora::http {

void ensure_library_ready() {
  // A function-local static runs the initialisation exactly once, even when
  // the first requests start on several threads at the same moment.
  static const bool ready = [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    return true;
  }();
  (void)ready;
}

bool HeaderList::append(const std::string& line) {
  curl_slist* extended = curl_slist_append(list_, line.c_str());
  if (extended == nullptr) return false;
  list_ = extended;
  return true;
}

std::string without_line_breaks(std::string_view text) {
  std::string clean;
  clean.reserve(text.size());
  for (char c : text) {
    if (c != '\r' && c != '\n') clean.push_back(c);
  }
  return clean;
}

bool append_header_lines(HeaderList& list, std::string_view header_text) {
  while (!header_text.empty()) {
    std::size_t end = header_text.find("\r\n");
    std::string_view line = header_text.substr(0, end);
    header_text = end == std::string_view::npos ? std::string_view{} : header_text.substr(end + 2);
    std::string clean = without_line_breaks(line);
    if (!clean.empty() && !list.append(clean)) return false;
  }
  return true;
}

std::string request_target(std::string_view path) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string target;
  target.reserve(path.size());
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '#') break;
    if (byte <= 0x20 || byte == 0x7F) {
      target.push_back('%');
      target.push_back(hex[byte >> 4]);
      target.push_back(hex[byte & 0x0F]);
    } else {
      target.push_back(c);
    }
  }
  return target;
}

UrlHandle http_url(const std::string& host, std::int32_t port, std::string_view path) {
  UrlHandle url(curl_url());
  if (!url) return nullptr;
  const std::string target = request_target(path);
  const std::size_t question = target.find('?');
  const std::string only_path = target.substr(0, question);
  const std::string port_text = std::to_string(port == 0 ? 80 : port);
  if (curl_url_set(url.get(), CURLUPART_SCHEME, "http", 0) != CURLUE_OK ||
      curl_url_set(url.get(), CURLUPART_HOST, host.c_str(), 0) != CURLUE_OK ||
      curl_url_set(url.get(), CURLUPART_PORT, port_text.c_str(), 0) != CURLUE_OK ||
      curl_url_set(url.get(), CURLUPART_PATH, only_path.c_str(), 0) != CURLUE_OK) {
    return nullptr;
  }
  if (question != std::string::npos &&
      curl_url_set(url.get(), CURLUPART_QUERY, target.c_str() + question + 1, 0) != CURLUE_OK) {
    return nullptr;
  }
  // Read the whole URL back once: the library checks the parts only then.
  char* whole = nullptr;
  if (curl_url_get(url.get(), CURLUPART_URL, &whole, 0) != CURLUE_OK) return nullptr;
  curl_free(whole);
  return url;
}

bool IdleTimer::expired(curl_off_t received, curl_off_t sent) {
  const auto now = std::chrono::steady_clock::now();
  if (received != last_received_ || sent != last_sent_) {
    last_received_ = received;
    last_sent_ = sent;
    last_activity_ = now;
  }
  if (now - last_activity_ >= limit_) fired_ = true;
  return fired_;
}

namespace {

int on_transfer_info(void* timer, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
  return static_cast<IdleTimer*>(timer)->expired(received, sent) ? 1 : 0;
}

// Called once a connection stands and a request is about to go out: the wait
// for the connection is the connect time-out's business, not the idle timer's.
int on_request_ready(void* timer, char*, char*, int, int) {
  static_cast<IdleTimer*>(timer)->note_activity();
  return CURL_PREREQFUNC_OK;
}

}  // namespace

void watch_idle_time(CURL* easy, IdleTimer& timer) {
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, on_transfer_info);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &timer);
  curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, on_request_ready);
  curl_easy_setopt(easy, CURLOPT_PREREQDATA, &timer);
}

}  // namespace velmora::http
