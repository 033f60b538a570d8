#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "demo/demo_site.h"
#include "support/test_text.h"
#include "text/gbk_text.h"
#include "web/encoding.h"
#include "web/text_between.h"

namespace velmora::demo {
namespace {

using testing::u8s;
using namespace std::chrono_literals;

// The markers the program reads, as UTF-8 (the pages' encoding).
const std::string kAlbumMarker = "<div class=\"Sets\">";
const std::string kPhotoMarker = "lightbox lb[album] ListPhoto";
const std::string kNextPage = u8s(u8"thumbnail\">下一页</a>");

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

// Sends `request` as it is on a new connection and returns everything the
// server writes until it closes the connection.
std::string raw_exchange(int port, const std::string& request) {
  const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string received;
  if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::send(sock, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
    timeval limit{10, 0};
    ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(sock, buffer, sizeof buffer, 0)) > 0) received.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(sock);
  return received;
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
  const auto path_form = get("/photos/alice/albums/", album_host());
  const auto subdomain_form = get("/", "alice." + album_host());
  ASSERT_TRUE(path_form && subdomain_form) << "no answer from the demo site";
  ASSERT_EQ(path_form->status, 200);
  ASSERT_EQ(subdomain_form->status, 200);
  // The sub-domain form names the same albums, with addresses on the plain host.
  EXPECT_EQ(path_form->body, subdomain_form->body);

  const std::string& page = path_form->body;
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
  const auto answer = get("/photos/bob/albums/", album_host());
  ASSERT_TRUE(answer);
  const std::string page = utf8_to_text(answer->body);
  EXPECT_EQ(text_between(page, "<title>", "的"), "陈默");
  EXPECT_NE(find_text(page, "title=\"北京胡同\">"), npos);
  EXPECT_NE(find_text(page, "title=\"雪后故宫\">"), npos);
}

TEST_F(DemoSiteTest, ThumbnailPagesLeadFromPageToPageAndEveryPhotoIsARealJpeg) {
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
  // Each album is read the way the download job reads it: pages 1, 2, … while
  // the page just read holds the next-page marker, then every photo's picture
  // address after the thumbnail-to-large rewrite.
  for (const Case& album : cases) {
    SCOPED_TRACE(album.user + " album " + std::to_string(album.album));
    std::vector<int> counted;
    std::string all_pages;
    for (int page = 1;; ++page) {
      ASSERT_LE(page, 10) << "the next-page marker never ends";
      const std::string target = "/photos/" + album.user + "/albums/" + std::to_string(album.album) + "/page" +
                                 std::to_string(page) + "/?style=thumbnail";
      const auto answer = get(target, album_host());
      ASSERT_TRUE(answer);
      ASSERT_EQ(answer->status, 200) << target;
      counted.push_back(static_cast<int>(pieces_after(answer->body, kPhotoMarker).size()));
      all_pages += answer->body;
      if (answer->body.find(kNextPage) == std::string::npos) break;
    }
    EXPECT_EQ(counted, album.photos_per_page);

    std::string rewritten = all_pages;
    for (std::size_t at = rewritten.find("/square.jpg"); at != std::string::npos;
         at = rewritten.find("/square.jpg", at))
      rewritten.replace(at, 11, "/big.jpg");
    std::set<std::string> distinct;
    for (const std::string& chunk : pieces_after(rewritten, kPhotoMarker)) {
      const std::string url = between(chunk, "src=\"", "\"");
      ASSERT_EQ(url.rfind("http://" + album_host() + "/photos/" + album.user + "/albums/", 0), 0u) << url;
      ASSERT_TRUE(url.ends_with("/big.jpg")) << url;
      distinct.insert(url);
      const auto picture = get(path_of(url));
      ASSERT_TRUE(picture);
      EXPECT_EQ(picture->status, 200) << url;
      EXPECT_TRUE(is_jpeg(picture->body)) << url;
      EXPECT_EQ(picture->get_header_value("Content-Type"), "image/jpeg");
      EXPECT_EQ(picture->get_header_value("Content-Length"), std::to_string(picture->body.size()));
    }
    EXPECT_EQ(distinct.size(), pieces_after(rewritten, kPhotoMarker).size()) << "two photos share an address";
  }
}

TEST_F(DemoSiteTest, UpdateServerOffersVersionOneOneWithNotesInGbk) {
  const auto banner = get("/quillbay/velmoraget/banner.htm", "127.0.0.1:" + std::to_string(site.port()));
  ASSERT_TRUE(banner);
  ASSERT_EQ(banner->status, 200);
  // The test's narrow literals are GBK, like the page.
  EXPECT_EQ(text_between(banner->body, "最新版本：", "<"), "1.1");
  EXPECT_EQ(text_between(banner->body, "新版", "|"), "说明：下载更稳定，中断后自动重试；相册列表显示更快。");

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

}  // namespace
}  // namespace velmora::demo
