#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "demo/demo_site.h"
#include "support/test_text.h"
#include "text/gbk_text.h"
#include "web/encoding.h"
#include "web/page_request.h"
#include "web/picture_request.h"
#include "web/text_between.h"

namespace velmora::demo {
namespace {

using testing::u8s;
using namespace std::chrono_literals;

// The album marker the program splits the list at (ASCII, so alike in UTF-8
// and in program text).
const std::string kAlbumMarker = "<div class=\"Sets\">";

// A piece of text between two markers, as the program takes it: the first
// start marker, then the first end marker after it; empty when either lacks.
std::string between(const std::string& text, const std::string& start, const std::string& end) {
  const std::size_t from = text.find(start);
  if (from == std::string::npos) return {};
  const std::size_t begin = from + start.size();
  const std::size_t to = text.find(end, begin);
  if (to == std::string::npos) return {};
  return text.substr(begin, to - begin);
}

std::vector<std::string> pieces_after(const std::string& text, const std::string& marker) {
  std::vector<std::string> pieces;
  std::size_t at = text.find(marker);
  while (at != std::string::npos) {
    const std::size_t begin = at + marker.size();
    at = text.find(marker, begin);
    pieces.push_back(text.substr(begin, at == std::string::npos ? std::string::npos : at - begin));
  }
  return pieces;
}

bool is_jpeg(const std::string& bytes) { return bytes.size() > 3 && bytes.compare(0, 3, "\xFF\xD8\xFF") == 0; }

std::string path_of(const std::string& url) {
  const std::size_t scheme = url.find("://");
  const std::size_t slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  return slash == std::string::npos ? "/" : url.substr(slash);
}

// Opens a connection and sends `request` as it is; -1 when that fails.
int send_raw(int port, const std::string& request) {
  const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::send(sock, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
    ::close(sock);
    return -1;
  }
  timeval limit{10, 0};
  ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  return sock;
}

// Reads into `received` until `enough` holds for it, the server closes the
// connection, or 10 s pass without a byte; false unless `enough` held.
bool receive_until(int sock, std::string& received, const std::function<bool(const std::string&)>& enough) {
  char buffer[4096];
  while (!enough(received)) {
    const ssize_t n = ::recv(sock, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

// Sends `request` as it is on a new connection and returns everything the
// server writes until it closes the connection.
std::string raw_exchange(int port, const std::string& request) {
  std::string received;
  const int sock = send_raw(port, request);
  if (sock < 0) return received;
  receive_until(sock, received, [](const std::string&) { return false; });
  ::close(sock);
  return received;
}

// The body of a GET through libcurl, as the program's requests are made; curl
// sends every *.localhost name to loopback by itself.
std::string curl_get(const std::string& url) {
  CURL* curl = curl_easy_init();
  std::string body;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char* data, std::size_t size, std::size_t count, void* sink) {
    static_cast<std::string*>(sink)->append(data, size * count);
    return size * count;
  });
  const CURLcode result = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  EXPECT_EQ(result, CURLE_OK) << url << ": " << curl_easy_strerror(result);
  return body;
}

class DemoSiteTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(site.start()) << "the demo site could not bind a loopback port"; }
  void TearDown() override { site.stop(); }

  httplib::Result get(const std::string& target, const std::string& host = {}) {
    httplib::Client client("127.0.0.1", site.port());
    client.set_read_timeout(10, 0);
    httplib::Headers headers;
    if (!host.empty()) headers.emplace("Host", host);
    return client.Get(target.c_str(), headers);
  }

  std::string album_host() const { return "localhost:" + std::to_string(site.port()); }

  DemoSite site{SiteContent::demo()};
};

TEST_F(DemoSiteTest, AlbumListAnswersInBothAddressFormsWithTheMarkersTheScraperReads) {
  const std::string page = curl_get("http://" + album_host() + "/photos/alice/albums/");
  // The sub-domain form names the same albums, with addresses on the plain host.
  EXPECT_EQ(curl_get("http://alice." + album_host() + "/"), page);
  EXPECT_EQ(curl_get("http://" + album_host() + "/photos/alice/"), page);

  EXPECT_EQ(between(page, "<title>", u8s(u8"的")), u8s(u8"林小雨"));
  const std::vector<std::string> albums = pieces_after(page, kAlbumMarker);
  ASSERT_EQ(albums.size(), 4u) << page;

  struct Expected {
    std::string title, number, count;
    bool src_data;
  };
  const std::vector<Expected> expected = {
      {u8s(u8"西湖春游"), "10231", "19", false},
      {u8s(u8"春节 &amp; 元宵 &#183; 合家欢"), "10232", "10", false},
      {u8s(u8"鼓浪屿的猫"), "10240", "6", true},
      {u8s(u8"待整理"), "10255", "0", false},
  };
  for (std::size_t i = 0; i < albums.size(); ++i) {
    SCOPED_TRACE("album " + std::to_string(i + 1));
    const std::string& piece = albums[i];
    EXPECT_EQ(between(piece, "title=\"", "\">"), expected[i].title);
    EXPECT_EQ(between(piece, "albums/", "/"), expected[i].number);
    EXPECT_EQ(between(piece, "<b>", "<"), expected[i].count);
    const std::string src = between(piece, "src=\"", "\"");
    const std::string src_data = between(piece, "src_data=\"", "\"");
    EXPECT_EQ(src.empty(), expected[i].src_data);
    const std::string cover = src.empty() ? src_data : src;
    ASSERT_EQ(cover.rfind("http://" + album_host() + "/", 0), 0u) << cover;
    // Every cover is a real picture on the site.
    const auto picture = get(path_of(cover));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->status, 200) << cover;
    EXPECT_TRUE(is_jpeg(picture->body)) << cover;
  }
}

TEST_F(DemoSiteTest, AlbumListPageConvertsToProgramTextWithTheOwnerAndTitles) {
  const std::string page = utf8_to_text(fetch_page_bytes("http://bob." + album_host() + "/"));
  EXPECT_EQ(text_between(page, "<title>", "的"), "陈默");
  EXPECT_NE(find_text(page, "title=\"北京胡同\">"), npos);
  EXPECT_NE(find_text(page, "title=\"雪后故宫\">"), npos);
}

TEST_F(DemoSiteTest, AlbumsDownloadThroughTheProgramsOwnRequestsAsRealJpegs) {
  struct Case {
    std::string user;
    int album;
    std::vector<int> photos_per_page;
  };
  const std::vector<Case> cases = {
      {"alice", 10231, {8, 8, 3}},  // three pages, the last one short
      {"alice", 10232, {8, 2}},
      {"alice", 10240, {6}},
      {"alice", 10255, {0}},  // an album without photos still has its first page
      {"bob", 3, {8, 4}},
  };
  testing::TempDir folder;
  // Each album is read the way the download job reads it, in program text:
  // pages 1, 2, … while the page just read holds the next-page marker, the
  // thumbnail-to-large rewrite, the split at the photo marker, each chunk's
  // picture address; then each picture is saved as a worker saves it.
  for (const Case& album : cases) {
    SCOPED_TRACE(album.user + " album " + std::to_string(album.album));
    std::vector<int> counted;
    std::string all_pages;
    for (int page = 1;; ++page) {
      ASSERT_LE(page, 10) << "the next-page marker never ends";
      const std::string page_text =
          utf8_to_text(fetch_page_bytes("http://" + album_host() + "/photos/" + album.user + "/albums/" +
                                        std::to_string(album.album) + "/page" + std::to_string(page) +
                                        "/?style=thumbnail"));
      ASSERT_NE(find_text(page_text, "<title>"), npos) << "page " << page << " is missing";
      counted.push_back(static_cast<int>(split_text(page_text, "lightbox lb[album] ListPhoto").size()) - 1);
      all_pages += page_text;
      if (find_text(page_text, "thumbnail\">下一页</a>") == npos) break;
    }
    EXPECT_EQ(counted, album.photos_per_page);

    const std::vector<std::string> chunks =
        split_text(replace_text(all_pages, "/square.jpg", "/big.jpg", true), "lightbox lb[album] ListPhoto");
    std::set<std::string> distinct;
    for (std::size_t photo = 1; photo < chunks.size(); ++photo) {
      const std::string url = text_between(chunks[photo], "src=\"", "\"");
      ASSERT_EQ(url.rfind("http://" + album_host() + "/photos/" + album.user + "/albums/", 0), 0u) << url;
      ASSERT_TRUE(url.ends_with("/big.jpg")) << url;
      distinct.insert(url);
      const std::string file = (folder.path() / (std::to_string(album.album) + "-" + std::to_string(photo))).string();
      int status = 0;
      const std::int32_t declared = fetch_picture(url, file, static_cast<std::int32_t>(photo), {}, std::nullopt, &status);
      const std::string saved = testing::read_file(file);
      EXPECT_EQ(status, 200) << url;
      // The worker's test of success: a declared length that the file matches.
      EXPECT_GT(declared, 0) << url;
      EXPECT_EQ(static_cast<std::size_t>(declared), saved.size()) << url;
      EXPECT_TRUE(is_jpeg(saved)) << url;
    }
    EXPECT_EQ(distinct.size(), chunks.empty() ? 0 : chunks.size() - 1) << "two photos share an address";
  }
  // The pictures went out as pictures: the log names each big.jpg once.
  std::size_t pictures = 0;
  for (const RequestRecord& request : site.requests()) pictures += request.target.ends_with("/big.jpg");
  EXPECT_EQ(pictures, 19u + 10u + 6u + 12u);
}

TEST_F(DemoSiteTest, UpdateServerOffersVersionOneOneWithNotesInGbk) {
  const std::string banner = fetch_page("http://127.0.0.1:" + std::to_string(site.port()) + "/quillbay/velmoraget/banner.htm");
  // The test's narrow literals are GBK, like the page.
  EXPECT_EQ(text_between(banner, "最新版本：", "<"), "1.1");
  EXPECT_EQ(text_between(banner, "新版", "|"), "说明：下载更稳定，中断后自动重试；相册列表显示更快。");
  // Another version on offer changes only the version.
  const std::string offering = demo_banner_gbk("1.2");
  EXPECT_EQ(text_between(offering, "最新版本：", "<"), "1.2");
  EXPECT_EQ(text_between(offering, "新版", "|"), text_between(banner, "新版", "|"));

  const auto background = get("/quillbay/velmoraget/banner2.png");
  ASSERT_TRUE(background);
  EXPECT_EQ(background->status, 200);
  EXPECT_EQ(background->body.substr(0, 8), "\x89PNG\r\n\x1A\n");

  // Version 1.1 is current, so no new program is handed out.
  const auto program = get("/quillbay/velmoraget/velmoraget.exe");
  ASSERT_TRUE(program);
  EXPECT_EQ(program->status, 404);
}

TEST_F(DemoSiteTest, UnknownAddressesAnswerNotFound) {
  for (const std::string target :
       {"/photos/nobody/albums/", "/photos/alice/albums/999/page1/?style=thumbnail",
        "/photos/alice/albums/10231/page4/?style=thumbnail", "/photos/alice/albums/10231/page0/?style=thumbnail",
        "/photos/alice/albums/10231/pageX/?style=thumbnail", "/photos/alice/albums/10231/99/big.jpg",
        "/no/such/thing"}) {
    const auto answer = get(target, album_host());
    ASSERT_TRUE(answer) << target;
    EXPECT_EQ(answer->status, 404) << target;
  }
}

TEST_F(DemoSiteTest, RequestLogKeepsHeadersInTheOrderSentWithTimes) {
  // Header lines out of alphabetical order, one spelled in an odd case: the
  // log must give them exactly as they came.
  const std::string request =
      "GET /photos/bob/albums/?style=list HTTP/1.1\r\n"
      "Zeta: last letter\r\n"
      "Accept: */*\r\n"
      "Host: bob.localhost:1\r\n"
      "referer: http://localhost\r\n"
      "Accept-Language: zh-cn\r\n"
      "Connection: close\r\n\r\n";
  const std::string answer = raw_exchange(site.port(), request);
  ASSERT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;

  const auto log = site.requests();
  ASSERT_EQ(log.size(), 1u);
  const RequestRecord& record = log[0];
  EXPECT_EQ(record.method, "GET");
  EXPECT_EQ(record.target, "/photos/bob/albums/?style=list");
  EXPECT_EQ(record.host, "bob.localhost:1");
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Zeta", "last letter"}, {"Accept", "*/*"}, {"Host", "bob.localhost:1"},
      {"referer", "http://localhost"}, {"Accept-Language", "zh-cn"}, {"Connection", "close"}};
  EXPECT_EQ(record.headers, expected);
  EXPECT_LE(record.started, record.finished);
  EXPECT_NE(record.finished, std::chrono::steady_clock::time_point::max());
}

// The head and the body of a raw answer.
struct RawAnswer {
  std::string head;
  std::string body;
};
RawAnswer split_answer(const std::string& raw) {
  const std::size_t blank = raw.find("\r\n\r\n");
  if (blank == std::string::npos) return {raw, {}};
  return {raw.substr(0, blank + 2), raw.substr(blank + 4)};
}

std::string get_request(const std::string& target) {
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

TEST_F(DemoSiteTest, OverridesShapeTheAnswerOnTheWire) {
  struct Case {
    const char* what;
    Answer answer;
    std::string expected_head_part;  // a line the head must hold
    std::string absent_head_part;    // a line it must not hold
    std::string expected_body;       // the body bytes as they arrive on the wire
  };
  const std::string body = "0123456789abcdefghij";
  const auto make = [&](auto&& change) {
    Answer answer;
    answer.body = body;
    answer.block_size = 7;
    change(answer);
    return answer;
  };
  const std::vector<Case> cases = {
      {"status and content type",
       make([](Answer& a) { a.status = 503; a.content_type = "text/plain"; }),
       "HTTP/1.1 503", "Transfer-Encoding", body},
      {"length declared", make([](Answer&) {}), "Content-Length: 20\r\n", "Transfer-Encoding", body},
      {"no length: chunked", make([](Answer& a) { a.declare_length = false; }), "Transfer-Encoding: chunked\r\n",
       "Content-Length", "7\r\n0123456\r\n7\r\n789abcd\r\n6\r\nefghij\r\n0\r\n\r\n"},
      {"length declared, dropped after 9 bytes", make([](Answer& a) { a.drop_after = 9; }),
       "Content-Length: 20\r\n", "Transfer-Encoding", "012345678"},
      {"chunked, dropped after 9 bytes: no final chunk",
       make([](Answer& a) { a.declare_length = false; a.drop_after = 9; }), "Transfer-Encoding: chunked\r\n",
       "Content-Length", "7\r\n0123456\r\n2\r\n78\r\n"},
      {"dropped before the body", make([](Answer& a) { a.drop_after = 0; }), "Content-Length: 20\r\n", "", ""},
      {"empty body", make([](Answer& a) { a.body.clear(); }), "Content-Length: 0\r\n", "Transfer-Encoding", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    site.set_override([&](const RequestRecord&, int) { return c.answer; });
    const RawAnswer answer = split_answer(raw_exchange(site.port(), get_request("/anything")));
    EXPECT_NE(answer.head.find(c.expected_head_part), std::string::npos) << answer.head;
    if (!c.absent_head_part.empty()) {
      EXPECT_EQ(answer.head.find(c.absent_head_part), std::string::npos) << answer.head;
    }
    EXPECT_EQ(answer.body, c.expected_body);
    // Whatever the answer, its record is closed once the connection is.
    const RequestRecord last = site.requests().back();
    EXPECT_NE(last.finished, std::chrono::steady_clock::time_point::max());
  }
  // Text is not compressed, even for a client that accepts it.
  site.set_override([](const RequestRecord&, int) {
    Answer text;
    text.content_type = "text/html";
    text.body = std::string(2000, 'a');
    text.declare_length = false;
    return text;
  });
  const RawAnswer plain = split_answer(raw_exchange(
      site.port(), "GET /page HTTP/1.1\r\nHost: x\r\nAccept-Encoding: gzip, deflate\r\nConnection: close\r\n\r\n"));
  EXPECT_EQ(plain.head.find("Content-Encoding"), std::string::npos) << plain.head;
  EXPECT_NE(plain.body.find(std::string(2000, 'a')), std::string::npos);
  EXPECT_EQ(site.requests().back().headers.at(1), std::make_pair(std::string("Accept-Encoding"), std::string("gzip, deflate")));

  // Content-Length must not appear twice for the empty body.
  site.set_override([](const RequestRecord&, int) { return Answer{}; });
  const std::string head = split_answer(raw_exchange(site.port(), get_request("/x"))).head;
  EXPECT_EQ(head.find("Content-Length"), head.rfind("Content-Length")) << head;
}

TEST_F(DemoSiteTest, OverrideSeesTheRequestAndCountsAttemptsPerTarget) {
  std::vector<std::pair<std::string, int>> seen;
  std::mutex seen_mutex;
  site.set_override([&](const RequestRecord& request, int attempt) -> std::optional<Answer> {
    std::lock_guard lock(seen_mutex);
    seen.emplace_back(request.target, attempt);
    if (request.target == "/photos/bob/albums/" && attempt < 3) {
      Answer refused;
      refused.status = 500;
      refused.body = "busy";
      return refused;
    }
    return std::nullopt;  // the site answers as usual
  });
  for (int i = 0; i < 3; ++i) {
    const auto answer = get("/photos/bob/albums/", album_host());
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, i < 2 ? 500 : 200) << "attempt " << i + 1;
    if (i == 2) {
      EXPECT_NE(answer->body.find(kAlbumMarker), std::string::npos);
    }
  }
  ASSERT_TRUE(get("/photos/alice/albums/", album_host()));
  const std::vector<std::pair<std::string, int>> expected = {
      {"/photos/bob/albums/", 1}, {"/photos/bob/albums/", 2}, {"/photos/bob/albums/", 3}, {"/photos/alice/albums/", 1}};
  EXPECT_EQ(seen, expected);

  // Taking the override away gives the site back.
  site.set_override(nullptr);
  const auto answer = get("/photos/bob/albums/", album_host());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 200);
}

TEST_F(DemoSiteTest, SlowBlocksStretchTheTransferAndTheRecordShowsIt) {
  site.set_override([](const RequestRecord&, int) {
    Answer slow;
    slow.body = std::string(30, 'x');
    slow.block_size = 10;
    slow.delay_before_answer = 100ms;
    slow.delay_each_block = 150ms;
    return slow;
  });
  const auto before = std::chrono::steady_clock::now();
  const RawAnswer answer = split_answer(raw_exchange(site.port(), get_request("/slow")));
  EXPECT_EQ(answer.body, std::string(30, 'x'));
  const RequestRecord record = site.requests().back();
  // The silence first, then two pauses between three blocks.
  EXPECT_GE(record.finished - record.started, 400ms);
  EXPECT_GE(record.started, before);
}

TEST_F(DemoSiteTest, CountsPictureTransfersRunningAtTheSameTime) {
  // Pictures answer slowly, so that transfers started together overlap.
  site.set_override([](const RequestRecord& request, int) -> std::optional<Answer> {
    if (!request.target.ends_with(".jpg")) return std::nullopt;
    Answer slow;
    slow.content_type = "image/jpeg";
    slow.body = std::string("\xFF\xD8\xFF") + std::string(297, 'p');
    slow.block_size = 100;
    slow.delay_each_block = 100ms;
    return slow;
  });
  const std::string picture = "/photos/alice/albums/10231/1023101/big.jpg";
  std::vector<std::future<std::string>> transfers;
  for (int i = 0; i < 3; ++i)
    transfers.push_back(std::async(std::launch::async, [&] { return raw_exchange(site.port(), get_request(picture)); }));
  // A page in the middle is no picture.
  ASSERT_TRUE(get("/photos/alice/albums/", album_host()));
  for (auto& transfer : transfers) EXPECT_TRUE(is_jpeg(split_answer(transfer.get()).body));
  EXPECT_EQ(site.max_concurrent_pictures(), 3);

  // One after the other does not raise it.
  for (int i = 0; i < 2; ++i) raw_exchange(site.port(), get_request(picture));
  EXPECT_EQ(site.max_concurrent_pictures(), 3);
}

TEST(DemoSiteLifetime, StopEndsTransfersInProgressPromptly) {
  DemoSite site(SiteContent::demo());
  ASSERT_TRUE(site.start());
  site.set_override([](const RequestRecord&, int) {
    Answer stalled;
    stalled.body = std::string(64, 's');
    stalled.block_size = 8;
    stalled.delay_each_block = 30s;
    return stalled;
  });
  const int port = site.port();
  const int sock = send_raw(port, get_request("/stalled"));
  ASSERT_GE(sock, 0);
  // Wait until the first block has arrived: the site is inside the answer.
  std::string received;
  const auto first_block = [](const std::string& text) {
    const std::size_t blank = text.find("\r\n\r\n");
    return blank != std::string::npos && text.size() >= blank + 4 + 8;
  };
  ASSERT_TRUE(receive_until(sock, received, first_block)) << received;

  const auto before = std::chrono::steady_clock::now();
  site.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
  // The connection is closed, with nothing more sent.
  EXPECT_FALSE(receive_until(sock, received, [](const std::string&) { return false; }));
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
  ::close(sock);
  EXPECT_EQ(split_answer(received).body, std::string(8, 's'));
  // A stopped site refuses connections; start() serves again, keeping its
  // content, its log and its override.
  EXPECT_EQ(raw_exchange(port, get_request("/")), "");
  site.set_override(nullptr);
  ASSERT_TRUE(site.start());
  EXPECT_NE(raw_exchange(site.port(), get_request("/photos/bob/albums/")).find(kAlbumMarker), std::string::npos);
  EXPECT_EQ(site.requests().size(), 2u);
}

TEST(DemoSiteLifetime, StartFailsWhenThePortIsTaken) {
  DemoSite first(SiteContent{});
  ASSERT_TRUE(first.start());
  DemoSite second(SiteContent{}, first.port());
  EXPECT_FALSE(second.start());
  EXPECT_EQ(second.port(), 0);
}

TEST(DemoSiteLargeList, TenThousandAlbumsListInOnePage) {
  SiteContent content;
  DemoUser user{"many", u8s(u8"百家"), {}};
  for (int i = 1; i <= 10000; ++i) {
    DemoAlbum album;
    album.number = 500000 + i;
    album.title_html = u8s(u8"相册 ") + std::to_string(i);
    album.cover_path = "/photos/many/albums/" + std::to_string(album.number) + "/cover/square.jpg";
    album.listed_count = i % 97;
    user.albums.push_back(std::move(album));
  }
  content.users.push_back(std::move(user));
  DemoSite site(std::move(content));
  ASSERT_TRUE(site.start());

  const std::string page = curl_get("http://localhost:" + std::to_string(site.port()) + "/photos/many/albums/");
  const std::vector<std::string> albums = pieces_after(page, kAlbumMarker);
  ASSERT_EQ(albums.size(), 10000u);
  EXPECT_EQ(between(albums.back(), "albums/", "/"), "510000");
  EXPECT_EQ(between(albums.back(), "<b>", "<"), std::to_string(10000 % 97));
  EXPECT_EQ(between(albums[4999], "title=\"", "\">"), u8s(u8"相册 5000"));
  // About half a kilobyte per album, as on the real pages.
  EXPECT_GT(page.size(), 4'000'000u);
  EXPECT_LT(page.size(), 7'000'000u);
}

}  // namespace
}  // namespace velmora::demo
