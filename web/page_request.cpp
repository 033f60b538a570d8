#include "web/page_request.h"

#include <algorithm>
#include <utility>

#include "text/gbk_text.h"
#include "web/http_limits.h"
#include "web/http_transfer.h"
#include "web/url.h"

namespace velmora {
namespace {

constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
constexpr const char* kAcceptLine =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n";
constexpr std::size_t kResponseHeaderBuffer = 1024;
constexpr long kMaxRedirects = 20;

thread_local std::function<void()> page_request_pump;

struct PageTransfer {
  explicit PageTransfer(std::chrono::milliseconds idle_limit) : idle(idle_limit) {}
  CURL* easy = nullptr;
  std::string body;
  std::string headers;  // of the latest answer only
  bool headers_overflowed = false;
  http::IdleTimer idle;
};

// Room for the declared length up front spares the copies of a growing
// buffer; a declared length beyond this cap is not trusted that far.
constexpr curl_off_t kMaxReservation = 64 << 20;

void reserve_declared_length(PageTransfer& transfer) {
  curl_off_t declared = -1;
  if (curl_easy_getinfo(transfer.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared) != CURLE_OK) return;
  if (declared > 0) transfer.body.reserve(static_cast<std::size_t>(std::min(declared, kMaxReservation)));
}

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<PageTransfer*>(user);
  transfer->idle.note_activity();
  try {
    if (transfer->body.empty()) reserve_declared_length(*transfer);
    transfer->body.append(data, size * count);
  } catch (...) {
    return 0;  // out of memory: end the transfer with what arrived
  }
  return size * count;
}

std::size_t on_header(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<PageTransfer*>(user);
  transfer->idle.note_activity();
  const std::string_view line(data, size * count);
  // Each answer of a redirect chain (and each interim answer) starts with its
  // status line; only the last answer's block is handed back.
  if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
    transfer->headers.clear();
    transfer->headers_overflowed = false;
  }
  if (transfer->headers.size() + line.size() < kResponseHeaderBuffer) {
    transfer->headers.append(line);
  } else {
    transfer->headers_overflowed = true;
  }
  return size * count;
}

// The whole exchange driven by hand, so that the pump runs between reads and
// never inside a callback of the HTTP library (the pump may start a page
// request of its own).
void perform_with_pump(CURL* easy, const std::function<void()>& pump) {
  CURLM* multi = curl_multi_init();
  if (multi == nullptr) return;
  if (curl_multi_add_handle(multi, easy) == CURLM_OK) {
    int running = 1;
    while (running != 0) {
      try {
        pump();
      } catch (...) {
      }
      if (curl_multi_perform(multi, &running) != CURLM_OK) break;
      if (running == 0) break;
      if (curl_multi_poll(multi, nullptr, 0, 20, nullptr) != CURLM_OK) break;
    }
    curl_multi_remove_handle(multi, easy);
  }
  curl_multi_cleanup(multi);
}

std::string build_header_text(const std::string& url, const std::string& request_headers, bool post,
                              const std::string& post_data) {
  std::string text = request_headers;
  // A caller's last line without its "\r\n" would run into the first default.
  if (!text.empty() && !text.ends_with("\r\n")) text += "\r\n";
  if (find_text(text, "Accept: ", 0, true) == npos) text += kAcceptLine;
  if (find_text(text, "Referer: ", 0, true) == npos) text += "Referer: " + http::without_line_breaks(url) + "\r\n";
  if (find_text(text, "Accept-Language: ", 0, true) == npos) text += "Accept-Language: zh-cn\r\n";
  if (post && !post_data.empty()) {
    text += "Content-Type: application/x-www-form-urlencoded\r\n";
    text += "Content-Length: " + std::to_string(post_data.size()) + "\r\n";
  }
  return text;
}

std::string run_page_request(const std::string& url, const std::string& method,
                             const std::optional<std::string>& proxy, const std::string& request_headers,
                             const std::string& post_data, std::string* response_headers,
                             const PageRequestLimits& limits) {
  http::ensure_library_ready();
  http::EasyHandle easy(curl_easy_init());
  if (!easy) return {};

  const SplitUrl parts = split_url(url);
  http::UrlHandle target = http::http_url(parts.host, parts.port, parts.path);
  if (!target) return {};

  const bool post = ascii_lower(method) == "post";
  http::HeaderList headers;
  if (!http::append_header_lines(headers, build_header_text(url, request_headers, post, post_data))) return {};
  // Header lines the HTTP library would add on its own but this request does
  // not send: its default Accept line (when the caller's marker test left the
  // Accept line out), the Expect handshake, and for an empty POST the body
  // description.
  if (!headers.append("Accept:") || !headers.append("Expect:")) return {};
  if (post && post_data.empty() && (!headers.append("Content-Type:") || !headers.append("Content-Length:"))) {
    return {};
  }

  PageTransfer transfer(limits.idle);
  CURL* h = easy.get();
  transfer.easy = h;
  curl_easy_setopt(h, CURLOPT_CURLU, target.get());
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count()));
  // Only the caller's proxy counts: the proxy variables of the environment,
  // no_proxy included, are ignored.
  const bool through_proxy = proxy.has_value() && !proxy->empty();
  curl_easy_setopt(h, CURLOPT_PROXY, through_proxy ? proxy->c_str() : "");
  curl_easy_setopt(h, CURLOPT_NOPROXY, "");
  if (through_proxy) curl_easy_setopt(h, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
  if (post) {
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, post_data.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(post_data.size()));
    // "post" in another letter case goes out as spelled.
    if (method != "POST") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
  } else {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  }
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
  http::watch_idle_time(h, transfer.idle);

  // The outcome is not examined: a failed or broken transfer simply leaves
  // the body with the bytes that arrived, possibly none.
  if (page_request_pump) {
    const std::function<void()> pump = page_request_pump;
    perform_with_pump(h, pump);
  } else {
    curl_easy_perform(h);
  }

  if (response_headers != nullptr && !transfer.headers_overflowed) *response_headers = std::move(transfer.headers);
  return std::move(transfer.body);
}

}  // namespace

std::string fetch_page_bytes_with_limits(const std::string& url, const std::string& method,
                                         const std::optional<std::string>& proxy,
                                         const std::string& request_headers, const std::string& post_data,
                                         std::string* response_headers, const PageRequestLimits& limits) {
  try {
    if (response_headers != nullptr) response_headers->clear();
    return run_page_request(url, method, proxy, request_headers, post_data, response_headers, limits);
  } catch (...) {
    return {};
  }
}

std::string fetch_page_bytes(const std::string& url, const std::string& method,
                             const std::optional<std::string>& proxy, const std::string& request_headers,
                             const std::string& post_data, std::string* response_headers) {
  return fetch_page_bytes_with_limits(url, method, proxy, request_headers, post_data, response_headers,
                                      PageRequestLimits{});
}

std::string fetch_page(const std::string& url, const std::string& method, const std::optional<std::string>& proxy,
                       const std::string& request_headers, const std::string& post_data,
                       std::string* response_headers) {
  std::string body = fetch_page_bytes(url, method, proxy, request_headers, post_data, response_headers);
  const std::size_t zero = body.find('\0');
  if (zero != std::string::npos) body.resize(zero);
  return body;
}

ScopedPageRequestPump::ScopedPageRequestPump(std::function<void()> pump)
    : previous_(std::exchange(page_request_pump, std::move(pump))) {}

ScopedPageRequestPump::~ScopedPageRequestPump() { page_request_pump = std::move(previous_); }

}  // namespace velmora
