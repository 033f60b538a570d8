#include "demo/demo_site.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <iconv.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <unordered_map>

namespace velmora::demo {
namespace {

using Clock = std::chrono::steady_clock;

// The pages of the site are UTF-8 whatever the compiler makes of narrow
// literals, so every non-ASCII literal here is a u8"" literal.
std::string u8(std::u8string_view text) { return std::string(text.begin(), text.end()); }

// UTF-8 to GBK for the update page; the texts are our own, so a character GBK
// lacks is a fault of this file.
std::string utf8_to_gbk(const std::string& utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv cannot convert UTF-8 to GBK");
  std::string out(utf8.size() * 2 + 16, '\0');
  char* in_ptr = const_cast<char*>(utf8.data());
  std::size_t in_left = utf8.size();
  char* out_ptr = out.data();
  std::size_t out_left = out.size();
  const std::size_t result = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(cd);
  if (result == static_cast<std::size_t>(-1)) throw std::runtime_error("the update page holds a character GBK lacks");
  out.resize(out.size() - out_left);
  return out;
}

std::string read_data_file(const std::string& name) {
  const std::string path = std::string(VELMORA_DEMO_DATA_DIR) + "/" + name;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the demo picture " + path);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool ends_with_ignoring_case(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                                std::tolower(static_cast<unsigned char>(b)); });
}

std::string thumbnail_path_of(const DemoPhoto& photo) {
  if (!photo.thumbnail_path.empty()) return photo.thumbnail_path;
  constexpr std::string_view big = "/big.jpg";
  if (!ends_with(photo.picture_path, big)) return photo.picture_path;
  return photo.picture_path.substr(0, photo.picture_path.size() - big.size()) + "/square.jpg";
}

int page_count(const DemoAlbum& album) {
  if (album.photos.empty() || album.photos_per_page <= 0) return 1;
  const std::size_t per_page = static_cast<std::size_t>(album.photos_per_page);
  return static_cast<int>((album.photos.size() + per_page - 1) / per_page);
}

std::vector<std::string_view> split_path(std::string_view path) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = path.find('/', start);
    const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
    if (end > start) parts.push_back(path.substr(start, end - start));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return parts;
}

template <typename Number>
std::optional<Number> parse_number(std::string_view text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

template <typename... Pieces>
void append(std::string& text, const Pieces&... pieces) {
  (text.append(std::string_view(pieces)), ...);
}

// A made-up but steady "month-day" and view count for an album's info line.
void append_date_and_views(std::string& page, std::int32_t number) {
  const std::uint32_t seed = static_cast<std::uint32_t>(number) * 2654435761u;
  const unsigned month = 1 + seed % 12;
  const unsigned day = 1 + (seed >> 8) % 28;
  static const std::string views = u8(u8" · 浏览 ");
  static const std::string times = u8(u8" 次 · ");
  const char digits[] = "0123456789";
  const char date[] = {digits[month / 10], digits[month % 10], '-', digits[day / 10], digits[day % 10]};
  page.append(date, sizeof date);
  append(page, views, std::to_string(seed % 9973), times);
}

std::string not_found_page(const std::string& what) {
  return u8(u8"<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>404 找不到页面</title></head>\n"
            u8"<body><h1>找不到页面</h1><p>") +
         what + "</p></body></html>\n";
}

Answer page_answer(int status, std::string body, std::string content_type = "text/html; charset=utf-8") {
  Answer answer;
  answer.status = status;
  answer.content_type = std::move(content_type);
  answer.body = std::move(body);
  answer.block_size = 64 * 1024;
  return answer;
}

// One request on a connection, from its first byte to the end of its answer.
// It lives on the connection's thread for the duration of the exchange.
struct Exchange {
  std::vector<std::pair<std::string, std::string>> headers;
  Clock::time_point started;
  std::optional<std::size_t> record;
  bool picture = false;
  bool ended = false;
};
thread_local Exchange* current_exchange = nullptr;

std::vector<std::pair<std::string, std::string>> parse_header_block(std::string_view head) {
  std::vector<std::pair<std::string, std::string>> headers;
  std::size_t line_start = head.find('\n');  // skips the request line
  while (line_start != std::string_view::npos && line_start + 1 < head.size()) {
    ++line_start;
    std::size_t line_end = head.find('\n', line_start);
    std::string_view line = head.substr(line_start, line_end == std::string_view::npos ? std::string_view::npos
                                                                                       : line_end - line_start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos) {
      std::string_view value = line.substr(colon + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
      while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
      headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
    }
    line_start = line_end;
  }
  return headers;
}

// A socket stream that keeps the raw header block of each request, so the
// log can give the headers in the order the client sent them (the parsed
// request keeps them sorted). Every wait is cut into short slices so that
// stopping the site never waits for a silent client.
class RecordingStream final : public httplib::Stream {
 public:
  RecordingStream(int sock, const std::atomic<bool>& stopping) : sock_(sock), stopping_(stopping) {}

  bool is_readable() const override { return pos_ < buffer_.size() || wait_for(POLLIN, kReadTimeout); }
  bool is_writable() const override { return !stopping_ && wait_for(POLLOUT, kWriteTimeout); }

  ssize_t read(char* ptr, std::size_t size) override {
    if (pos_ == buffer_.size()) {
      const ssize_t filled = fill();
      if (filled <= 0) return filled;
    }
    const std::size_t n = std::min(size, buffer_.size() - pos_);
    std::memcpy(ptr, buffer_.data() + pos_, n);
    if (recording_head_) head_.append(buffer_.data() + pos_, n);
    pos_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, std::size_t size) override {
    std::size_t sent = 0;
    while (sent < size) {
      if (stopping_ || !wait_for(POLLOUT, kWriteTimeout)) return -1;
      const ssize_t n = ::send(sock_, ptr + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
        return -1;
      }
      sent += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(sent);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { address_of(true, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { address_of(false, ip, port); }
  socket_t socket() const override { return sock_; }

  // Waits (up to the keep-alive time) for the next request to begin.
  bool wait_for_request() { return pos_ < buffer_.size() || wait_for(POLLIN, kKeepAliveTimeout); }
  void begin_head() {
    head_.clear();
    recording_head_ = true;
  }
  std::string end_head() {
    recording_head_ = false;
    return std::move(head_);
  }

 private:
  static constexpr std::chrono::milliseconds kReadTimeout{10000};
  static constexpr std::chrono::milliseconds kWriteTimeout{10000};
  static constexpr std::chrono::milliseconds kKeepAliveTimeout{5000};
  static constexpr std::chrono::milliseconds kSlice{50};

  bool wait_for(short events, std::chrono::milliseconds limit) const {
    const auto deadline = Clock::now() + limit;
    while (!stopping_) {
      pollfd fd{sock_, events, 0};
      const int ready = ::poll(&fd, 1, static_cast<int>(kSlice.count()));
      if (ready > 0) return true;
      if (ready < 0 && errno != EINTR) return false;
      if (Clock::now() >= deadline) return false;
    }
    return false;
  }

  ssize_t fill() {
    if (!wait_for(POLLIN, kReadTimeout)) return -1;
    buffer_.erase(0, pos_);
    pos_ = 0;
    char chunk[16384];
    ssize_t n;
    do {
      n = ::recv(sock_, chunk, sizeof chunk, 0);
    } while (n < 0 && errno == EINTR);
    if (n > 0) buffer_.append(chunk, static_cast<std::size_t>(n));
    return n;
  }

  void address_of(bool remote, std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int result = remote ? ::getpeername(sock_, reinterpret_cast<sockaddr*>(&address), &length)
                              : ::getsockname(sock_, reinterpret_cast<sockaddr*>(&address), &length);
    if (result != 0 || address.ss_family != AF_INET) return;
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    ip = text;
    port = ntohs(v4->sin_port);
  }

  int sock_;
  const std::atomic<bool>& stopping_;
  std::string buffer_;
  std::size_t pos_ = 0;
  bool recording_head_ = false;
  std::string head_;
};

}  // namespace

struct DemoSite::Impl {
  // The site's content with lookups into it; built once, read-only afterwards.
  struct Served {
    const std::string* bytes;
    std::string content_type;
  };
  struct UserIndex {
    const DemoUser* user;
    std::unordered_map<std::int32_t, const DemoAlbum*> albums;
  };

  class Server final : public httplib::Server {
   public:
    explicit Server(Impl& impl) : impl_(impl) {
      // Enough threads that five picture transfers, page fetches and idle
      // keep-alive connections never wait for each other.
      new_task_queue = [] { return new httplib::ThreadPool(32); };
    }

   protected:
    bool process_and_close_socket(socket_t sock) override {
      RecordingStream stream(sock, impl_.stopping);
      bool ok = true;
      for (int served = 0; served < kRequestsPerConnection; ++served) {
        if (impl_.stopping || !stream.wait_for_request()) break;
        Exchange exchange;
        exchange.started = Clock::now();
        current_exchange = &exchange;
        stream.begin_head();
        bool connection_closed = false;
        ok = process_request(stream, served + 1 == kRequestsPerConnection, connection_closed,
                             [&](httplib::Request& request) {
                               exchange.headers = parse_header_block(stream.end_head());
                               // Bodies go out exactly as given: the library would
                               // otherwise compress text for clients that accept it.
                               request.headers.erase("Accept-Encoding");
                             });
        current_exchange = nullptr;
        impl_.end_exchange(exchange);
        if (!ok || connection_closed) break;
      }
      ::shutdown(sock, SHUT_RDWR);
      ::close(sock);
      return ok;
    }

   public:
    static constexpr int kRequestsPerConnection = 100;

   private:
    Impl& impl_;
  };

  Impl(SiteContent site_content, int wanted_port) : content(std::move(site_content)), requested_port(wanted_port) {
    index_content();
  }

  SiteContent content;
  int requested_port;
  std::map<std::string, UserIndex, std::less<>> users;
  std::unordered_map<std::string, Served> files;

  std::atomic<bool> stopping{false};
  std::unique_ptr<Server> server;
  std::thread listener;
  int bound_port = 0;

  mutable std::mutex mutex;  // guards everything below
  Override override_answer;
  std::vector<RequestRecord> log;
  std::unordered_map<std::string, int> attempts;
  int pictures_now = 0;
  int pictures_most = 0;
  mutable std::unordered_map<std::string, std::string> list_pages;

  void index_content() {
    for (const DemoUser& user : content.users) {
      UserIndex& entry = users[user.name];
      entry.user = &user;
      for (const DemoAlbum& album : user.albums) {
        entry.albums.emplace(album.number, &album);
        for (const DemoPhoto& photo : album.photos) {
          files.emplace(photo.picture_path, Served{&photo.jpeg, "image/jpeg"});
          files.emplace(thumbnail_path_of(photo),
                        Served{photo.thumbnail_jpeg.empty() ? &photo.jpeg : &photo.thumbnail_jpeg, "image/jpeg"});
        }
        const std::string* cover = nullptr;
        if (!album.cover_jpeg.empty()) {
          cover = &album.cover_jpeg;
        } else if (!album.photos.empty()) {
          const DemoPhoto& first = album.photos.front();
          cover = first.thumbnail_jpeg.empty() ? &first.jpeg : &first.thumbnail_jpeg;
        }
        if (cover && !album.cover_path.empty()) files.emplace(album.cover_path, Served{cover, "image/jpeg"});
      }
    }
    for (const DemoFile& file : content.files) files.emplace(file.path, Served{&file.bytes, file.content_type});
  }

  // ---- the site's own answers ----

  // The user named by a sub-domain Host ("alice.localhost:47180"), and the
  // host the site's absolute addresses use (the Host without that sub-domain).
  std::pair<const UserIndex*, std::string> split_host(const std::string& host) const {
    const std::size_t dot = host.find('.');
    if (dot != std::string::npos && dot + 1 < host.size()) {
      const auto found = users.find(std::string_view(host).substr(0, dot));
      if (found != users.end()) return {&found->second, host.substr(dot + 1)};
    }
    return {nullptr, host};
  }

  std::string index_page(const std::string& host) const {
    // Sub-domains need a name, not an address: curl sends every *.localhost
    // name to loopback.
    const std::string named_host = host.rfind("127.0.0.1", 0) == 0 ? "localhost" + host.substr(9) : host;
    std::string page = u8(u8"<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
                          u8"<title>Velmora 演示相册站</title>\n</head>\n<body>\n<h1>演示相册站</h1>\n<ul>\n");
    for (const DemoUser& user : content.users) {
      page += "<li><a href=\"http://" + host + "/photos/" + user.name + "/albums/\">" + user.display_name +
              u8(u8"的相册</a> （") + std::to_string(user.albums.size()) + u8(u8" 个相册；也可用 http://") +
              user.name + "." + named_host + u8(u8"/）</li>\n");
    }
    page += "</ul>\n</body>\n</html>\n";
    return page;
  }

  std::string album_list_page(const DemoUser& user, const std::string& host) const {
    static const std::string count_end = u8(u8"</b>张</p>\n<p class=\"SetInfo\">更新于 2024-");
    static const std::string comments_end = u8(u8"/#comments\">评论</a></p>\n</div>\n");
    const std::string user_base = "http://" + host + "/photos/" + user.name + "/albums/";
    const std::string site_base = "http://" + host;
    std::string page;
    page.reserve(1024 + user.albums.size() * (600 + user_base.size() * 3));
    append(page, u8(u8"<!DOCTYPE html>\n<html>\n<head>\n"
                    u8"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />\n<title>"),
           user.display_name, u8(u8"的相册</title>\n</head>\n<body>\n<div id=\"Header\"><h2>"), user.display_name,
           u8(u8"的相册</h2><p>共 "), std::to_string(user.albums.size()),
           u8(u8" 个相册</p></div>\n<div id=\"Albums\">\n"));
    for (const DemoAlbum& album : user.albums) {
      char number[16];
      const std::string_view number_text(number, static_cast<std::size_t>(
          std::to_chars(number, number + sizeof number, album.number).ptr - number));
      char count[24];
      const std::size_t count_value =
          album.listed_count >= 0 ? static_cast<std::size_t>(album.listed_count) : album.photos.size();
      const std::string_view count_text(count, static_cast<std::size_t>(
          std::to_chars(count, count + sizeof count, count_value).ptr - count));
      append(page, "<div class=\"Sets\">\n<div class=\"SetCase\"><a href=\"", user_base, number_text,
             "/\"><img class=\"setThumb", album.cover_in_src_data ? " lazyload\" src_data=\"" : "\" src=\"",
             site_base, album.cover_path,
             "\" width=\"75\" height=\"75\" alt=\"\" /></a></div>\n<h4><a class=\"Seta\" href=\"", user_base,
             number_text, "/\" title=\"", album.title_html, "\">", album.title_html, "</a></h4>\n<p><b>", count_text,
             count_end);
      append_date_and_views(page, album.number);
      append(page, "<a class=\"SetComments\" href=\"", user_base, number_text, comments_end);
    }
    page += u8(u8"</div>\n<div id=\"Footer\">演示相册站 · 仅供本机试用</div>\n</body>\n</html>\n");
    return page;
  }

  // Album lists are kept once made: a list of ten thousand albums takes tens
  // of milliseconds to write, and the content never changes.
  std::string cached_album_list_page(const DemoUser& user, const std::string& host) const {
    const std::string key = user.name + '\n' + host;
    {
      std::lock_guard lock(mutex);
      if (const auto found = list_pages.find(key); found != list_pages.end()) return found->second;
    }
    std::string page = album_list_page(user, host);
    std::lock_guard lock(mutex);
    return list_pages.emplace(key, std::move(page)).first->second;
  }

  std::string thumbnail_page(const DemoUser& user, const DemoAlbum& album, int page_number,
                             const std::string& host) const {
    const int pages = page_count(album);
    const std::size_t per_page = album.photos_per_page > 0 ? static_cast<std::size_t>(album.photos_per_page)
                                                           : std::max<std::size_t>(album.photos.size(), 1);
    const std::size_t first = static_cast<std::size_t>(page_number - 1) * per_page;
    const std::size_t last = std::min(album.photos.size(), first + per_page);
    const std::string album_base = "/photos/" + user.name + "/albums/" + std::to_string(album.number) + "/";

    std::string page = u8(u8"<!DOCTYPE html>\n<html>\n<head>\n"
                          u8"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />\n<title>");
    page += album.title_html + " - " + user.display_name + u8(u8"的相册</title>\n</head>\n<body>\n");
    page += "<div id=\"AlbumHead\"><h2>" + album.title_html + "</h2><p>" + u8(u8"共 ") +
            std::to_string(album.photos.size()) + u8(u8" 张，第 ") + std::to_string(page_number) + " / " +
            std::to_string(pages) + u8(u8" 页</p></div>\n<ul class=\"PhotoList\">\n");
    for (std::size_t i = first; i < last; ++i) {
      const DemoPhoto& photo = album.photos[i];
      page += "<li class=\"Photo\"><a class=\"lightbox lb[album] ListPhoto\" href=\"http://" + host +
              photo.picture_path + "\" title=\"" + std::to_string(i + 1) + "\"><img src=\"http://" + host +
              thumbnail_path_of(photo) + "\" width=\"75\" height=\"75\" alt=\"\" /></a></li>\n";
    }
    page += "</ul>\n<div class=\"Pager\">";
    if (page_number > 1)
      page += "<a href=\"" + album_base + "page" + std::to_string(page_number - 1) + u8(u8"/?style=thumbnail\">上一页</a> ");
    page += "<span class=\"Current\">" + std::to_string(page_number) + "</span>";
    if (page_number < pages)
      page += " <a href=\"" + album_base + "page" + std::to_string(page_number + 1) + u8(u8"/?style=thumbnail\">下一页</a>");
    page += "</div>\n</body>\n</html>\n";
    return page;
  }

  Answer site_answer(const std::string& path, const std::string& host_header) const {
    const auto [subdomain_user, host] = split_host(host_header);
    if (path == "/" || path.empty()) {
      if (subdomain_user) return page_answer(200, cached_album_list_page(*subdomain_user->user, host));
      return page_answer(200, index_page(host));
    }
    if (path == "/quillbay/velmoraget/banner.htm")
      return page_answer(200, content.update.banner_gbk, "text/html; charset=GBK");
    if (path == "/quillbay/velmoraget/velmoraget.exe") {
      if (content.update.new_program.empty()) return page_answer(404, not_found_page("no new program is offered"));
      return page_answer(200, content.update.new_program, "application/octet-stream");
    }
    if (const auto file = files.find(path); file != files.end())
      return page_answer(200, *file->second.bytes, file->second.content_type);

    // /photos/<user>[/albums[/<n>[/page<k>]]][/]
    const std::vector<std::string_view> parts = split_path(path);
    if (parts.size() >= 2 && parts.size() <= 5 && parts[0] == "photos") {
      const auto user = users.find(parts[1]);
      if (user == users.end()) return page_answer(404, not_found_page(u8(u8"没有这个用户")));
      if (parts.size() == 2 || (parts.size() == 3 && parts[2] == "albums"))
        return page_answer(200, cached_album_list_page(*user->second.user, host));
      if (parts[2] == "albums") {
        const auto number = parse_number<std::int32_t>(parts[3]);
        const auto album = number ? user->second.albums.find(*number) : user->second.albums.end();
        if (album == user->second.albums.end()) return page_answer(404, not_found_page(u8(u8"没有这个相册")));
        int page_number = 1;
        if (parts.size() == 5) {
          const auto parsed = parts[4].substr(0, 4) == "page" ? parse_number<int>(parts[4].substr(4)) : std::nullopt;
          if (!parsed) return page_answer(404, not_found_page(u8(u8"没有这一页")));
          page_number = *parsed;
        }
        if (page_number < 1 || page_number > page_count(*album->second))
          return page_answer(404, not_found_page(u8(u8"没有这一页")));
        return page_answer(200, thumbnail_page(*user->second.user, *album->second, page_number, host));
      }
    }
    return page_answer(404, not_found_page(u8(u8"没有这个地址")));
  }

  // ---- requests, the log and the answer on the wire ----

  void end_exchange(Exchange& exchange) {
    if (exchange.ended || !exchange.record) return;
    exchange.ended = true;
    const auto now = Clock::now();
    std::lock_guard lock(mutex);
    log[*exchange.record].finished = now;
    if (exchange.picture) --pictures_now;
  }

  // Sleeps, unless the site stops meanwhile; false when it does.
  bool pause(std::chrono::milliseconds duration) const {
    const auto deadline = Clock::now() + duration;
    while (!stopping) {
      const auto now = Clock::now();
      if (now >= deadline) return true;
      std::this_thread::sleep_for(std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(20)));
    }
    return false;
  }

  void handle(const httplib::Request& request, httplib::Response& response) {
    if (!current_exchange) {  // only connections opened by Server reach here
      response.status = 500;
      return;
    }
    Exchange& exchange = *current_exchange;

    RequestRecord record;
    record.method = request.method;
    record.target = request.target;
    record.host = request.get_header_value("Host");
    record.headers = exchange.headers;
    record.body = request.body;
    record.started = exchange.started;

    int attempt;
    Override answer_with;
    {
      std::lock_guard lock(mutex);
      exchange.record = log.size();
      log.push_back(record);
      attempt = ++attempts[record.target];
      if (ends_with_ignoring_case(request.path, ".jpg")) {
        exchange.picture = true;
        pictures_most = std::max(pictures_most, ++pictures_now);
      }
      answer_with = override_answer;
    }

    std::optional<Answer> answer;
    if (answer_with) answer = answer_with(record, attempt);
    if (!answer) answer = site_answer(request.path, record.host);
    if (answer->delay_before_answer.count() > 0) pause(answer->delay_before_answer);
    send(std::move(*answer), response, exchange);
  }

  void send(Answer answer, httplib::Response& response, Exchange& exchange) {
    response.status = answer.status;
    auto body = std::make_shared<std::string>(std::move(answer.body));
    const std::size_t block = std::max<std::size_t>(answer.block_size, 1);
    const auto delay = answer.delay_each_block;
    const std::size_t limit = answer.drop_after ? std::min(*answer.drop_after, body->size()) : body->size();
    const bool drops = answer.drop_after.has_value();
    Exchange* ongoing = &exchange;

    if (answer.declare_length) {
      if (body->empty()) {
        response.set_content(std::string(), answer.content_type.c_str());
        return;
      }
      response.set_content_provider(
          body->size(), answer.content_type.c_str(),
          [this, body, block, delay, limit, drops, ongoing](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (offset > 0 && delay.count() > 0 && !pause(delay)) return false;
            if (drops && offset >= limit && limit < body->size()) {
              end_exchange(*ongoing);
              return false;
            }
            const std::size_t n = std::min(block, limit - offset);
            if (!sink.is_writable() || !sink.write(body->data() + offset, n)) {
              end_exchange(*ongoing);
              return false;
            }
            if (offset + n == body->size()) end_exchange(*ongoing);
            return true;
          });
      return;
    }
    response.set_chunked_content_provider(
        answer.content_type.c_str(),
        [this, body, block, delay, limit, drops, ongoing](std::size_t offset, httplib::DataSink& sink) {
          if (offset > 0 && delay.count() > 0 && !pause(delay)) return false;
          if (offset >= limit) {
            end_exchange(*ongoing);
            if (drops) return false;
            sink.done();
            return true;
          }
          const std::size_t n = std::min(block, limit - offset);
          if (!sink.is_writable() || !sink.write(body->data() + offset, n)) {
            end_exchange(*ongoing);
            return false;
          }
          if (!drops && offset + n == body->size()) {
            sink.done();
            end_exchange(*ongoing);
          }
          return true;
        });
  }
};

DemoSite::DemoSite(SiteContent content, int port) : impl_(std::make_unique<Impl>(std::move(content), port)) {}

DemoSite::~DemoSite() { stop(); }

bool DemoSite::start() {
  if (impl_->server) return impl_->bound_port != 0;
  impl_->stopping = false;
  impl_->server = std::make_unique<Impl::Server>(*impl_);
  auto& server = *impl_->server;
  // Address reuse only: the library's default also sets SO_REUSEPORT, which
  // would let a second site share a port that is taken.
  server.set_keep_alive_max_count(Impl::Server::kRequestsPerConnection);
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
    impl_->handle(request, response);
  };
  server.Get(".*", handler);
  server.Post(".*", handler);
  server.Put(".*", handler);
  server.Patch(".*", handler);
  server.Delete(".*", handler);
  server.Options(".*", handler);

  if (impl_->requested_port == 0) {
    impl_->bound_port = server.bind_to_any_port("127.0.0.1");
    if (impl_->bound_port <= 0) impl_->bound_port = 0;
  } else if (server.bind_to_port("127.0.0.1", impl_->requested_port)) {
    impl_->bound_port = impl_->requested_port;
  }
  if (impl_->bound_port == 0) {
    impl_->server.reset();
    return false;
  }
  impl_->listener = std::thread([&server] { server.listen_after_bind(); });
  // The socket listens already; once the accept loop runs, requests are served.
  while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return true;
}

void DemoSite::stop() {
  if (!impl_->server) return;
  impl_->stopping = true;
  impl_->server->stop();
  if (impl_->listener.joinable()) impl_->listener.join();
  impl_->server.reset();
  impl_->bound_port = 0;
}

int DemoSite::port() const { return impl_->bound_port; }

void DemoSite::set_override(Override override_answer) {
  std::lock_guard lock(impl_->mutex);
  impl_->override_answer = std::move(override_answer);
}

std::vector<RequestRecord> DemoSite::requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->log;
}

int DemoSite::max_concurrent_pictures() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->pictures_most;
}

std::string demo_banner_gbk(const std::string& latest_version) {
  return utf8_to_gbk(
      u8(u8"<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
         u8"\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
         u8"<html xmlns=\"http://www.w3.org/1999/xhtml\">\n<head>\n"
         u8"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\" />\n"
         u8"<title>Velmora 相册下载</title>\n<style type=\"text/css\">\n"
         u8"body { margin: 0; padding: 14px 18px; background: #fbf4e6 url(banner2.png) no-repeat right top; "
         u8"font-family: \"微软雅黑\", sans-serif; font-size: 12px; color: #333; }\n"
         u8"h1 { font-size: 18px; color: #990000; margin: 0 0 8px 0; }\n"
         u8".notes { color: #555; }\n.version { color: #990000; font-weight: bold; }\n"
         u8"</style>\n</head>\n<body>\n<h1>Velmora 相册下载</h1>\n"
         u8"<p>在上方输入相册地址后按回车：单击相册看封面，双击下载整本相册。</p>\n"
         u8"<p class=\"notes\">新版说明：下载更稳定，中断后自动重试；相册列表显示更快。| 发布于 2024-05-20</p>\n"
         u8"<p class=\"version\">最新版本：") +
      latest_version + u8(u8"</p>\n</body>\n</html>\n"));
}

SiteContent SiteContent::demo() {
  std::vector<std::string> pictures;
  std::vector<std::string> thumbnails;
  for (int i = 1; i <= 6; ++i) {
    pictures.push_back(read_data_file("photo" + std::to_string(i) + ".jpg"));
    thumbnails.push_back(read_data_file("thumb" + std::to_string(i) + ".jpg"));
  }
  int next_picture = 0;

  const auto album = [&](const std::string& user, std::int32_t number, std::u8string_view title_html,
                         int photo_count, bool cover_in_src_data) {
    DemoAlbum made;
    made.number = number;
    made.title_html = u8(title_html);
    made.cover_in_src_data = cover_in_src_data;
    const std::string base = "/photos/" + user + "/albums/" + std::to_string(number) + "/";
    for (int i = 1; i <= photo_count; ++i) {
      const std::size_t which = static_cast<std::size_t>(next_picture++ % 6);
      DemoPhoto photo;
      photo.picture_path = base + std::to_string(number) + (i < 10 ? "0" : "") + std::to_string(i) + "/big.jpg";
      photo.jpeg = pictures[which];
      photo.thumbnail_jpeg = thumbnails[which];
      made.photos.push_back(std::move(photo));
    }
    if (made.photos.empty()) {
      made.cover_path = base + "cover/square.jpg";
      made.cover_jpeg = thumbnails[4];
    } else {
      made.cover_path = thumbnail_path_of(made.photos.front());
    }
    return made;
  };

  SiteContent content;
  DemoUser alice{"alice", u8(u8"林小雨"), {}};
  alice.albums.push_back(album("alice", 10231, u8"西湖春游", 19, false));
  alice.albums.push_back(album("alice", 10232, u8"春节 &amp; 元宵 &#183; 合家欢", 10, false));
  alice.albums.push_back(album("alice", 10240, u8"鼓浪屿的猫", 6, true));
  alice.albums.push_back(album("alice", 10255, u8"待整理", 0, false));
  DemoUser bob{"bob", u8(u8"陈默"), {}};
  bob.albums.push_back(album("bob", 3, u8"北京胡同", 12, false));
  bob.albums.push_back(album("bob", 17, u8"雪后故宫", 5, false));
  content.users.push_back(std::move(alice));
  content.users.push_back(std::move(bob));

  content.update.banner_gbk = demo_banner_gbk("1.1");
  content.files.push_back({"/quillbay/velmoraget/banner2.png", "image/png", read_data_file("banner2.png")});
  content.files.push_back({"/img/set_case.gif", "image/gif", read_data_file("set_case.gif")});
  content.files.push_back({"/img/set_case_star.gif", "image/gif", read_data_file("set_case_star.gif")});
  return content;
}

}  // namespace velmora::demo
