#include "web/picture_request.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>

#include "text/gbk_text.h"
#include "web/http_limits.h"
#include "web/http_transfer.h"
#include "web/url.h"

namespace velmora {
namespace {

constexpr const char* kHeaderBlock =
    "Accept: */*\r\nAccept-Language: zh-cn\r\nAccept-Encoding: gzip, deflate\r\n"
    "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)";
// Progress is reported per block of this size at most, whatever the size of
// the reads underneath.
constexpr std::size_t kBlockSize = 5120;
// Reads this large keep the transfer as fast as a plain download to disk; the
// blocks above are cut out of them.
constexpr long kReceiveBufferSize = 256 * 1024;
constexpr int kMaxRedirects = 20;

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && ascii_lower(text.substr(0, prefix.size())) == prefix;
}

// The leading decimal number of a header value as a 32-bit number; 0 when it
// is missing, not a number or too large for one.
std::int32_t read_header_number(std::string_view value) {
  std::size_t i = 0;
  while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
  if (i == value.size() || value[i] < '0' || value[i] > '9') return 0;
  std::int64_t length = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    length = length * 10 + (value[i] - '0');
    if (length > INT32_MAX) return 0;
  }
  return static_cast<std::int32_t>(length);
}

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile() { close(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  bool create(const std::string& path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd_ >= 0;
  }
  // Plain writes reach the system at once, so a process that is killed leaves
  // every block written so far in the file. A failed write is not repeated.
  void write_all(const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t written = ::write(fd_, data, size);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return;
      data += written;
      size -= static_cast<std::size_t>(written);
    }
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

struct PictureTransfer {
  PictureTransfer(const std::string& path, std::int32_t value, const ProgressCallback& callback,
                  std::chrono::milliseconds idle_limit)
      : file_path(path), user_value(value), progress(callback), idle(idle_limit) {}

  const std::string& file_path;
  std::int32_t user_value;
  const ProgressCallback& progress;
  http::IdleTimer idle;

  // The answer being read.
  long status = 0;
  bool has_location = false;
  std::int32_t declared_length = 0;
  bool declared_length_seen = false;
  bool redirecting = false;

  // The final answer.
  bool answered = false;
  bool file_failed = false;
  long final_status = 0;
  std::int32_t total = 0;
  OutputFile file;
  std::uint64_t received = 0;
  std::chrono::steady_clock::time_point start;
  std::array<char, kBlockSize> pending{};
  std::size_t pending_size = 0;
};

bool is_followed_redirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Ends one header block: an interim answer is skipped, a redirect is noted
// for the loop below, anything else is the answer, and only now is the file
// created, so that an address that cannot be reached leaves it untouched.
bool finish_header_block(PictureTransfer& transfer) {
  if (transfer.status >= 100 && transfer.status < 200) return true;
  if (is_followed_redirect(transfer.status) && transfer.has_location) {
    transfer.redirecting = true;
    return true;
  }
  if (!transfer.file.create(transfer.file_path)) {
    transfer.file_failed = true;
    return false;
  }
  transfer.answered = true;
  transfer.final_status = transfer.status;
  transfer.total = transfer.declared_length;
  transfer.start = std::chrono::steady_clock::now();
  return true;
}

std::size_t on_header(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<PictureTransfer*>(user);
  transfer->idle.note_activity();
  const std::string_view line(data, size * count);
  // Lines after the answer's header (trailers of a chunked body) change nothing.
  if (transfer->answered) return size * count;
  if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
    // "HTTP/1.1 200 OK": the status is the number after the first blank.
    const std::size_t blank = line.find(' ');
    transfer->status = blank == std::string_view::npos ? 0 : read_header_number(line.substr(blank + 1));
    transfer->has_location = false;
    transfer->declared_length = 0;
    transfer->declared_length_seen = false;
    transfer->redirecting = false;
  } else if (line == "\r\n" || line == "\n") {
    if (!finish_header_block(*transfer)) return 0;
  } else if (starts_with_ignoring_case(line, "location:")) {
    transfer->has_location = true;
  } else if (starts_with_ignoring_case(line, "content-length:") && !transfer->declared_length_seen) {
    transfer->declared_length_seen = true;
    transfer->declared_length = read_header_number(line.substr(15));
  }
  return size * count;
}

// Reports the blocks received so far to the progress callback.
void report_progress(PictureTransfer& transfer) {
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - transfer.start);
  std::int32_t elapsed_ms = static_cast<std::int32_t>(std::min<std::int64_t>(elapsed.count(), INT32_MAX));
  if (elapsed_ms == 0) elapsed_ms = 10;
  if (!transfer.progress) return;
  try {
    transfer.progress(transfer.total, static_cast<std::int32_t>(static_cast<std::uint32_t>(transfer.received)),
                      elapsed_ms, transfer.user_value);
  } catch (...) {
    // The callback's result is ignored; so is its failure.
  }
}

// Writes whole blocks (or the one short last block) and reports each.
// A run of whole blocks goes to the file in one write, which keeps the
// transfer as fast as a plain download; each progress call still stands for
// one block, and the file always holds at least the bytes it reports.
void hand_on_blocks(PictureTransfer& transfer, const char* data, std::size_t size) {
  transfer.file.write_all(data, size);
  for (std::size_t offset = 0; offset < size; offset += kBlockSize) {
    transfer.received += std::min(kBlockSize, size - offset);
    report_progress(transfer);
  }
}

// Cuts whatever the library delivers into whole blocks, as a reader that
// waits for a full block would see them: only the last block of a transfer
// may be shorter. Bytes short of a block wait in `pending`.
std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<PictureTransfer*>(user);
  transfer->idle.note_activity();
  const std::size_t length = size * count;
  if (!transfer->answered) return length;  // the body of a redirect
  std::string_view rest(data, length);
  if (transfer->pending_size > 0) {
    const std::size_t taken = std::min(kBlockSize - transfer->pending_size, rest.size());
    std::copy_n(rest.data(), taken, transfer->pending.data() + transfer->pending_size);
    transfer->pending_size += taken;
    rest.remove_prefix(taken);
    if (transfer->pending_size < kBlockSize) return length;
    hand_on_blocks(*transfer, transfer->pending.data(), kBlockSize);
    transfer->pending_size = 0;
  }
  const std::size_t whole_blocks = rest.size() - rest.size() % kBlockSize;
  if (whole_blocks > 0) hand_on_blocks(*transfer, rest.data(), whole_blocks);
  rest.remove_prefix(whole_blocks);
  std::copy(rest.begin(), rest.end(), transfer->pending.data());
  transfer->pending_size = rest.size();
  return length;
}

std::int32_t run_picture_request(const std::string& url, const std::string& file_path, std::int32_t user_value,
                                 const ProgressCallback& progress, const std::optional<std::string>& referer,
                                 int* http_status, const PictureRequestLimits& limits) {
  http::ensure_library_ready();
  http::EasyHandle easy(curl_easy_init());
  if (!easy) return -1;
  CURL* h = easy.get();

  // An "http" address goes to the host and port its text names (a port of 0
  // is the default port); an "https" address is handed on as it is.
  http::UrlHandle first_url;
  std::string https_url;
  if (starts_with_ignoring_case(url, "http://")) {
    const SplitUrl parts = split_url(url);
    first_url = http::http_url(parts.host, parts.port, parts.path);
    if (!first_url) return -1;
    curl_easy_setopt(h, CURLOPT_CURLU, first_url.get());
  } else if (starts_with_ignoring_case(url, "https://")) {
    https_url = http::request_target(url);
    curl_easy_setopt(h, CURLOPT_URL, https_url.c_str());
  } else {
    return -1;
  }

  const std::string referer_value =
      http::without_line_breaks(referer ? *referer : "http://" + host_from_url(url));
  http::HeaderList headers;
  if (!http::append_header_lines(headers, kHeaderBlock) ||
      // "Name;" is how an empty value is sent; "Name:" alone would drop it.
      !headers.append(referer_value.empty() ? "Referer;" : "Referer: " + referer_value) ||
      // A fresh copy from the origin server, not from any cache on the way.
      !headers.append("Cache-Control: no-cache") || !headers.append("Pragma: no-cache")) {
    return -1;
  }

  PictureTransfer transfer(file_path, user_value, progress, limits.idle);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
  http::watch_idle_time(h, transfer.idle);

  // Redirects are followed here rather than by the library, so that the file
  // is created for the final answer alone.
  std::string next_url;
  for (int hop = 0; hop <= kMaxRedirects; ++hop) {
    curl_easy_perform(h);
    if (transfer.answered || transfer.file_failed || !transfer.redirecting || transfer.idle.fired()) break;
    char* location = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &location) != CURLE_OK || location == nullptr) break;
    next_url = location;
    curl_easy_setopt(h, CURLOPT_CURLU, nullptr);
    curl_easy_setopt(h, CURLOPT_URL, next_url.c_str());
  }
  if (!transfer.answered) return -1;
  // The end of the body, or the end of what arrived of it.
  if (transfer.pending_size > 0) hand_on_blocks(transfer, transfer.pending.data(), transfer.pending_size);
  transfer.file.close();
  if (http_status != nullptr) *http_status = static_cast<int>(transfer.final_status);
  return transfer.total;
}

}  // namespace

std::int32_t fetch_picture_with_limits(const std::string& url, const std::string& file_path,
                                       std::int32_t user_value, const ProgressCallback& progress,
                                       const std::optional<std::string>& referer, int* http_status,
                                       const PictureRequestLimits& limits) {
  if (http_status != nullptr) *http_status = 0;
  try {
    return run_picture_request(url, file_path, user_value, progress, referer, http_status, limits);
  } catch (...) {
    return -1;
  }
}

std::int32_t fetch_picture(const std::string& url, const std::string& file_path, std::int32_t user_value,
                           const ProgressCallback& progress, std::optional<std::string> referer, int* http_status) {
  return fetch_picture_with_limits(url, file_path, user_value, progress, referer, http_status,
                                   PictureRequestLimits{});
}

}  // namespace velmora
