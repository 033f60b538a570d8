// The album catalogue: the address check, the preview page, and the whole
// road of an address (check, scrape, list, history, preview) driven through a
// recording window against the demo album site on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "catalogue/address_check.h"
#include "catalogue/album_address.h"
#include "catalogue/album_preview.h"
#include "catalogue/preview_page.h"
#include "demo/demo_site.h"
#include "shell/application.h"
#include "support/recording_window.h"
#include "support/test_text.h"
#include "web/encoding.h"

namespace velmora {
namespace {

// ---------------------------------------------------------------------------
// The accepted address forms

struct AddressCase {
  const char* what;
  std::string typed;
  std::string address;  // after the scheme step
  std::string user;     // empty: rejected
};

void PrintTo(const AddressCase& c, std::ostream* out) { *out << c.what; }

class AddressForms : public ::testing::TestWithParam<AddressCase> {};

constexpr const char* album_host = "photos.test:8080";

TEST_P(AddressForms, SchemeAndUser) {
  const AddressCase& c = GetParam();
  const std::string address = with_http_scheme(c.typed);
  EXPECT_EQ(address, c.address) << c.what;
  EXPECT_EQ(site_user_in_address(address, album_host), c.user) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Typed, AddressForms,
    ::testing::Values(
        AddressCase{"path form", "http://photos.test:8080/photos/alice/albums/",
                    "http://photos.test:8080/photos/alice/albums/", "alice"},
        AddressCase{"path form without a scheme gets one", "photos.test:8080/photos/alice/albums/",
                    "http://photos.test:8080/photos/alice/albums/", "alice"},
        AddressCase{"path form without the closing slash", "http://photos.test:8080/photos/alice",
                    "http://photos.test:8080/photos/alice", ""},
        AddressCase{"path form with an empty name", "http://photos.test:8080/photos//albums/",
                    "http://photos.test:8080/photos//albums/", ""},
        AddressCase{"sub-domain form", "http://alice.photos.test:8080/", "http://alice.photos.test:8080/", "alice"},
        AddressCase{"sub-domain form typed alone", "alice.photos.test:8080", "http://alice.photos.test:8080",
                    "alice"},
        AddressCase{"the path form wins over the sub-domain form",
                    "http://bob.photos.test:8080/photos/alice/albums/",
                    "http://bob.photos.test:8080/photos/alice/albums/", "alice"},
        AddressCase{"a Chinese user name", "http://photos.test:8080/photos/小林/albums/",
                    "http://photos.test:8080/photos/小林/albums/", "小林"},
        AddressCase{"a scheme further in gets no second one", " http://photos.test:8080/photos/bob/albums/",
                    " http://photos.test:8080/photos/bob/albums/", "bob"},
        AddressCase{"a scheme in capitals is not recognised, the path form still fits",
                    "HTTP://photos.test:8080/photos/carol/albums/",
                    "http://HTTP://photos.test:8080/photos/carol/albums/", "carol"},
        AddressCase{"the secure scheme gets http:// in front, the path form still fits",
                    "https://photos.test:8080/photos/dave/albums/",
                    "http://https://photos.test:8080/photos/dave/albums/", "dave"},
        AddressCase{"the host in capitals matches neither form", "http://PHOTOS.TEST:8080/photos/erin/albums/",
                    "http://PHOTOS.TEST:8080/photos/erin/albums/", ""},
        AddressCase{"another host that carries the album host further on",
                    "http://evil.example/?next=mallory.photos.test:8080/",
                    "http://evil.example/?next=mallory.photos.test:8080/", "evil.example/?next=mallory"},
        AddressCase{"another site altogether", "http://example.com/alice/", "http://example.com/alice/", ""}));

// ---------------------------------------------------------------------------
// The preview page

// The preview page of the worked example (user alice, album 42, cover C, title
// T, count 12张), written out in full: every line of the head ends in CR LF.
const std::string worked_example_page =
    "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
    "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n"
    "<html xmlns=\"http://www.w3.org/1999/xhtml\">\r\n"
    "<head>\r\n"
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />\r\n"
    "<title>无标题文档</title>\r\n"
    "<style type=\"text/css\">\r\n"
    "\r\n"
    ".Set {\r\n"
    "\tOVERFLOW: hidden; MARGIN-BOTTOM: 15px; WIDTH: 130px; TEXT-ALIGN: center\r\n"
    "}\r\n"
    ".Set H4 {\r\n"
    "\tFONT-SIZE: 15px; MARGIN-BOTTOM: 0px; WIDTH: 120px; MARGIN-TOP: 0px; FONT-WEIGHT: bold\r\n"
    "}\r\n"
    ".Set P {\r\n"
    "\tFONT-SIZE: 11px; MARGIN-TOP: 2px; COLOR: #000\r\n"
    "}\r\n"
    ".Sets {\r\n"
    "\tOVERFLOW: hidden; MARGIN-BOTTOM: 10px; HEIGHT: 180px; WIDTH: 109px; POSITION: relative; FLOAT: left; "
    "TEXT-ALIGN: left; DISPLAY: inline; PADDING-RIGHT: 4px; MARGIN-RIGHT: 5px\r\n"
    "}\r\n"
    ".Sets H4 {\r\n"
    "\tFONT-SIZE: 12px; OVERFLOW: hidden; WIDTH: 100px; FONT-WEIGHT: bold; TEXT-ALIGN: center; MARGIN: 0px auto; "
    "MAX-HEIGHT: 45px; _height: 45px\r\n"
    "}\r\n"
    ".Sets P {\r\n"
    "\tFONT-SIZE: 11px; MARGIN-TOP: 2px; COLOR: #000; TEXT-ALIGN: center\r\n"
    "}\r\n"
    ".SetCase {\r\n"
    "\tHEIGHT: 95px; WIDTH: 91px; VERTICAL-ALIGN: middle; BACKGROUND: url(http://photos.test:8080/img/set_case.gif) "
    "no-repeat; POSITION: relative; PADDING-BOTTOM: 0px; TEXT-ALIGN: center; PADDING-TOP: 7px; MARGIN: 5px auto\r\n"
    "}\r\n"
    ".SetCase IMG {\r\n"
    "\tBORDER-TOP: #000 1px solid; BORDER-RIGHT: #000 1px solid; BORDER-BOTTOM: #000 1px solid; PADDING-BOTTOM: 0px; "
    "PADDING-TOP: 0px; PADDING-LEFT: 0px; BORDER-LEFT: #000 1px solid; MARGIN: 0px; PADDING-RIGHT: 0px\r\n"
    "}\r\n"
    ".SetCase IMG.icon {\r\n"
    "\tBORDER-TOP-STYLE: none; BORDER-LEFT-STYLE: none; BORDER-BOTTOM-STYLE: none; BORDER-RIGHT-STYLE: none\r\n"
    "}\r\n"
    ".SetCase A {\r\n"
    "\tFONT-SIZE: 0px\r\n"
    "}\r\n"
    ".SetCase IMG.lazyload {\r\n"
    "\tBACKGROUND: #ddd; MARGIN-LEFT: 6px; DISPLAY: block\r\n"
    "}\r\n"
    ".SetCase IMG.Icon {\r\n"
    "\tBORDER-LEFT-WIDTH: 0px; BORDER-RIGHT-WIDTH: 0px; BORDER-BOTTOM-WIDTH: 0px; BORDER-TOP-WIDTH: 0px\r\n"
    "}\r\n"
    ".SetCommentsLink {\r\n"
    "\tPOSITION: absolute; LEFT: 10px; TOP: 65px\r\n"
    "}\r\n"
    ".SetCaseStar {\r\n"
    "\tMARGIN-BOTTOM: 3px; HEIGHT: 95px; WIDTH: 91px; VERTICAL-ALIGN: middle; BACKGROUND: "
    "url(http://photos.test:8080/img/set_case_star.gif) no-repeat; MARGIN-TOP: 5px; POSITION: relative; "
    "PADDING-BOTTOM: 0px; TEXT-ALIGN: center; PADDING-TOP: 7px\r\n"
    "}\r\n"
    ".SetCaseStar IMG {\r\n"
    "\tBORDER-TOP: #000 1px solid; BORDER-RIGHT: #000 1px solid; BORDER-BOTTOM: #000 1px solid; PADDING-BOTTOM: 0px; "
    "PADDING-TOP: 0px; PADDING-LEFT: 0px; BORDER-LEFT: #000 1px solid; MARGIN: 0px; PADDING-RIGHT: 0px\r\n"
    "}\r\n"
    ".SetCaseStar IMG.Icon {\r\n"
    "\tBORDER-LEFT-WIDTH: 0px; BORDER-RIGHT-WIDTH: 0px; BORDER-BOTTOM-WIDTH: 0px; BORDER-TOP-WIDTH: 0px\r\n"
    "}\r\n"
    ".Seta:link {\r\n"
    "\tTEXT-DECORATION: none; COLOR: #990000\r\n"
    "}\r\n"
    ".Seta:visited {\r\n"
    "\tTEXT-DECORATION: none; COLOR: #990000\r\n"
    "}\r\n"
    ".Seta:hover {\r\n"
    "\tTEXT-DECORATION: none; BACKGROUND: #990000; COLOR: #fff\r\n"
    "}\r\n"
    ".Seta:active {\r\n"
    "\tTEXT-DECORATION: none; BACKGROUND: #990000; COLOR: #fff\r\n"
    "}\r\n"
    "\r\n"
    "\r\n"
    "body {\r\n"
    "\tbackground-image: url(http://updates.test:81/quillbay/velmoraget/banner2.png);\r\n"
    "\tbackground-repeat: no-repeat;\r\n"
    "}\r\n"
    "\r\n"
    "body,td,th {\r\n"
    "\tfont-family: \"微软雅黑\";\r\n"
    "\tfont-size: 12px;\r\n"
    "}\r\n"
    "</style>\r\n"
    "</head>\r\n"
    "\r\n"
    "<body> <DIV class=Sets> <DIV class=SetCase><A target=blank href=http://photos.test:8080/photos/alice/albums/42/>"
    "<IMG class=setThumb alt='' src='C' width=75 height=75></A> </DIV> <H4><A target=blank class=Seta "
    "href='http://photos.test:8080/photos/alice/albums/42/'>T</A></H4> <P><B>12张图片</B> </P></DIV></BODY></HTML>";

TEST(PreviewPage, WorkedExampleByteForByte) {
  PreviewCard card{"alice", 42, "C", "T", "12张"};
  EXPECT_EQ(build_preview_page("photos.test:8080", "updates.test:81", card), worked_example_page);
}

TEST(PreviewPage, HeadIsThePageUpToTheUserName) {
  const std::string head = preview_page_head("photos.test:8080", "updates.test:81");
  EXPECT_EQ(worked_example_page.substr(0, head.size()), head);
  EXPECT_EQ(worked_example_page.substr(head.size(), 5), "alice");
}

TEST(PreviewPage, NegativeNumberAndEmptyCoverAndName) {
  // After a rejected address the user name is empty; an album without cover
  // still gets its frame.
  PreviewCard card{"", -5, "", "T", "张"};
  const std::string page = build_preview_page("photos.test:8080", "updates.test:81", card);
  const std::string head = preview_page_head("photos.test:8080", "updates.test:81");
  EXPECT_EQ(page.substr(head.size()),
            "/albums/-5/><IMG class=setThumb alt='' src='' width=75 height=75></A> </DIV> <H4><A target=blank "
            "class=Seta href='http://photos.test:8080/photos//albums/-5/'>T</A></H4> <P><B>张图片</B> </P></DIV>"
            "</BODY></HTML>");
}

TEST(PreviewPage, HostileTextsStayText) {
  // A title that would open a script, covers and counts that would leave
  // their attribute, and a typed user name with a blank (the first link's
  // address is not quoted). The site's own &amp; must reach the view as it is.
  PreviewCard card{"x onmouseover=alert(1) <b>", 7, "c.jpg' onerror='alert(2)",
                   "<script>alert(\"t\")</script> Tom &amp; 'Jerry'", "<i>3</i>张"};
  const std::string page = build_preview_page("photos.test:8080", "updates.test:81", card);
  const std::string head = preview_page_head("photos.test:8080", "updates.test:81");
  ASSERT_EQ(page.substr(0, head.size()), head);
  EXPECT_EQ(page.substr(head.size()),
            "x%20onmouseover=alert(1)%20&lt;b&gt;/albums/7/><IMG class=setThumb alt='' "
            "src='c.jpg&#39; onerror=&#39;alert(2)' width=75 height=75></A> </DIV> <H4><A target=blank class=Seta "
            "href='http://photos.test:8080/photos/x%20onmouseover=alert(1)%20&lt;b&gt;/albums/7/'>"
            "&lt;script&gt;alert(&quot;t&quot;)&lt;/script&gt; Tom &amp; &#39;Jerry&#39;</A></H4> "
            "<P><B>&lt;i&gt;3&lt;/i&gt;张图片</B> </P></DIV></BODY></HTML>");
  EXPECT_EQ(page.find("<script"), std::string::npos);
}

TEST(PreviewPage, EscapingLeavesDoubleByteCharactersAlone) {
  // Second bytes of GBK characters are never below 0x40, so no character can
  // hide one of the four escaped bytes; 0x5C (backslash) and 0x7C are
  // ordinary second bytes and stay.
  EXPECT_EQ(escape_html_text("\xB1\\\xD6\x7C<'\"&>"), "\xB1\\\xD6\x7C&lt;&#39;&quot;&&gt;");
  EXPECT_EQ(escape_html_text(""), "");
  EXPECT_EQ(escape_html_text("春天 &#38; 夏天"), "春天 &#38; 夏天");
}

// ---------------------------------------------------------------------------
// The road of an address, through a recording window, against the demo site

using namespace std::chrono_literals;

// A recording window that also checks, at every row it is given, that the
// row's cover address is already in cover_urls (a click on a row may come at
// any moment and must find it there).
class CoverCheckingWindow : public testing::RecordingWindow {
 public:
  CatalogueState* catalogue = nullptr;
  std::atomic<int> rows_before_their_cover{0};

  int append_album(const std::string& title, std::int32_t album_number) override {
    check(1);
    return RecordingWindow::append_album(title, album_number);
  }
  void append_albums(const std::vector<AlbumRow>& rows) override {
    check(rows.size());
    RecordingWindow::append_albums(rows);
  }

 private:
  void check(std::size_t new_rows) {
    std::size_t covers;
    {
      std::lock_guard lock(catalogue->mutex);
      covers = catalogue->cover_urls.size();
    }
    if (covers < static_cast<std::size_t>(album_count()) + new_rows) ++rows_before_their_cover;
  }
};

demo::DemoAlbum demo_album(const std::string& user, std::int32_t number, std::u8string_view title_html,
                           bool cover_in_src_data, int photos) {
  demo::DemoAlbum album;
  album.number = number;
  album.title_html = testing::u8s(title_html);
  const std::string base = "/photos/" + user + "/albums/" + std::to_string(number) + "/";
  album.cover_path = base + "p1/square.jpg";
  album.cover_in_src_data = cover_in_src_data;
  for (int i = 1; i <= photos; ++i)
    album.photos.push_back(demo::DemoPhoto{base + "p" + std::to_string(i) + "/big.jpg", "\xFF\xD8\xFF\xD9"});
  return album;
}

demo::SiteContent road_content() {
  demo::SiteContent content;
  content.users.push_back(demo::DemoUser{"lin", testing::u8s(u8"小林"),
                                         {demo_album("lin", 11, u8"春天", false, 3),
                                          demo_album("lin", 12, u8"Tom &amp; Jerry", false, 5),
                                          demo_album("lin", 13, u8"懒加载", true, 1),
                                          demo_album("lin", 14, u8"<script>alert(\"x\")</script> &amp; 'Tom'", false, 2)}});
  content.users.push_back(demo::DemoUser{"bo", testing::u8s(u8"阿波"), {demo_album("bo", 21, u8"冬天", false, 4)}});
  demo::DemoUser many{"many", testing::u8s(u8"许多"), {}};
  for (int i = 1; i <= 1500; ++i) many.albums.push_back(demo_album("many", 1000 + i, u8"相册", false, 1));
  content.users.push_back(std::move(many));
  return content;
}

using RowTuple = std::tuple<std::string, std::int32_t, std::string>;
std::vector<RowTuple> as_tuples(const std::vector<AlbumRow>& rows) {
  std::vector<RowTuple> tuples;
  for (const AlbumRow& row : rows) tuples.emplace_back(row.title, row.album_number, row.count_text);
  return tuples;
}

std::size_t index_of(const std::vector<std::string>& calls, const std::string& name, std::size_t from = 0) {
  for (std::size_t i = from; i < calls.size(); ++i)
    if (calls[i] == name) return i;
  return std::string::npos;
}

class CatalogueRoad : public ::testing::Test {
 protected:
  virtual demo::SiteContent content() { return road_content(); }

  void SetUp() override {
    site = std::make_unique<demo::DemoSite>(content());
    ASSERT_TRUE(site->start()) << "the demo site did not start";
    host = "localhost:" + std::to_string(site->port());
    update_host = "127.0.0.1:" + std::to_string(site->port());
    app = std::make_unique<Application>(window, Hosts{host, update_host},
                                        ProgramFiles{dir.path() / "velmora", dir.path()});
    window.catalogue = &app->catalogue;
  }
  void TearDown() override {
    app.reset();  // waits for the scrape
    site->stop();
  }

  // Types `text` into the address box and releases Enter there.
  void enter(const std::string& text) {
    window.set_url_text(text);
    check_album_address(*app);
  }
  void await_scrape() { ASSERT_TRUE(app->threads.wait_idle(30s)) << "the scrape did not end within 30 s"; }

  std::string list_address(const std::string& user) { return "http://" + host + "/photos/" + user + "/albums/"; }
  // The cover address as the demo site writes it into the list page.
  std::string cover(const std::string& user, int number) {
    return "http://" + host + "/photos/" + user + "/albums/" + std::to_string(number) + "/p1/square.jpg";
  }
  std::vector<RowTuple> lin_rows() {
    return {{"春天", 11, "3张"},
            {"Tom &amp; Jerry", 12, "5张"},
            {"懒加载", 13, "1张"},
            {"<script>alert(\"x\")</script> &amp; 'Tom'", 14, "2张"}};
  }
  std::vector<std::string> lin_covers() { return {cover("lin", 11), cover("lin", 12), cover("lin", 13), cover("lin", 14)}; }

  std::vector<std::string> cover_urls() {
    std::lock_guard lock(app->catalogue.mutex);
    return app->catalogue.cover_urls;
  }
  std::string album_address() {
    std::lock_guard lock(app->catalogue.mutex);
    return app->catalogue.album_address;
  }
  std::string site_user() {
    std::lock_guard lock(app->catalogue.mutex);
    return app->catalogue.site_user;
  }
  std::filesystem::path settings_file() { return dir.path() / "cfg.ini"; }
  std::string settings() { return testing::read_file(settings_file()); }
  std::size_t requests_for(const std::string& target_part) {
    std::size_t n = 0;
    for (const auto& request : site->requests())
      if (request.target.find(target_part) != std::string::npos) ++n;
    return n;
  }

  testing::TempDir dir;
  CoverCheckingWindow window;
  std::unique_ptr<demo::DemoSite> site;
  std::unique_ptr<Application> app;
  std::string host, update_host;
};

TEST_F(CatalogueRoad, PathFormWithoutSchemeListsEveryAlbum) {
  enter(host + "/photos/lin/albums/");
  EXPECT_EQ(window.url_text(), list_address("lin")) << "the completed address shows in the box";
  await_scrape();

  EXPECT_EQ(as_tuples(window.rows()), lin_rows());
  EXPECT_EQ(cover_urls(), lin_covers());
  EXPECT_EQ(window.status_text(), "[小林] 合计 4个相册");
  EXPECT_TRUE(window.enter_enabled());
  EXPECT_NE(settings().find("|*|" + list_address("lin") + "|小林"), std::string::npos) << settings();
  EXPECT_EQ(window.rows_before_their_cover, 0);

  // The button is locked before the list is emptied and given back last.
  const auto calls = window.calls();
  const std::size_t disabled = index_of(calls, "disable_enter");
  const std::size_t emptied = index_of(calls, "delete_all_albums");
  ASSERT_NE(disabled, std::string::npos);
  ASSERT_NE(emptied, std::string::npos);
  EXPECT_LT(disabled, emptied);
  EXPECT_LT(emptied, index_of(calls, "append_albums"));
  EXPECT_EQ(calls.back(), "enable_enter");
  EXPECT_EQ(index_of(calls, "append_album"), std::string::npos) << "rows go in batches";
}

TEST_F(CatalogueRoad, SubDomainFormListsTheSameAlbums) {
  enter("lin." + host);
  EXPECT_EQ(window.url_text(), "http://lin." + host);
  EXPECT_EQ(site_user(), "lin");
  await_scrape();

  EXPECT_EQ(as_tuples(window.rows()), lin_rows());
  EXPECT_EQ(window.status_text(), "[小林] 合计 4个相册");
  EXPECT_TRUE(window.enter_enabled());
  EXPECT_NE(settings().find("|*|http://lin." + host + "|小林"), std::string::npos) << settings();
  bool asked_for_the_user_host = false;
  for (const auto& request : site->requests())
    if (request.host == "lin." + host && request.target == "/") asked_for_the_user_host = true;
  EXPECT_TRUE(asked_for_the_user_host);
}

TEST_F(CatalogueRoad, PreviewOfListedAlbums) {
  enter(list_address("lin"));
  await_scrape();
  const std::string head = preview_page_head(host, update_host);

  // The album whose cover the page names in src_data only.
  show_album_preview(*app, 2);
  const std::string expected = build_preview_page(host, update_host, PreviewCard{"lin", 13, cover("lin", 13), "懒加载", "1张"});
  EXPECT_EQ(window.preview(), expected);
  EXPECT_EQ(window.clipboard(), expected);
  EXPECT_EQ(window.preview().substr(head.size()),
            "lin/albums/13/><IMG class=setThumb alt='' src='" + cover("lin", 13) +
                "' width=75 height=75></A> </DIV> <H4><A target=blank class=Seta href='http://" + host +
                "/photos/lin/albums/13/'>懒加载</A></H4> <P><B>1张图片</B> </P></DIV></BODY></HTML>");

  // A hostile title shows as text; the site's &amp; stays a reference.
  show_album_preview(*app, 3);
  EXPECT_EQ(window.preview().substr(0, head.size()), head);
  EXPECT_EQ(window.preview().substr(head.size()),
            "lin/albums/14/><IMG class=setThumb alt='' src='" + cover("lin", 14) +
                "' width=75 height=75></A> </DIV> <H4><A target=blank class=Seta href='http://" + host +
                "/photos/lin/albums/14/'>&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; &#39;Tom&#39;"
                "</A></H4> <P><B>2张图片</B> </P></DIV></BODY></HTML>");
  EXPECT_EQ(window.clipboard(), window.preview());

  // A click outside the rows changes neither the view nor the clipboard.
  const std::size_t calls_before = window.calls().size();
  const std::string page_before = window.preview();
  show_album_preview(*app, -1);
  EXPECT_EQ(window.calls().size(), calls_before);
  EXPECT_EQ(window.preview(), page_before);
  EXPECT_EQ(window.clipboard(), page_before);
}

TEST_F(CatalogueRoad, RejectedAddressLeavesTheListAsItWas) {
  enter(list_address("lin"));
  await_scrape();
  const auto rows = window.rows();
  const auto covers = cover_urls();
  const std::size_t requests = site->requests().size();

  const std::string typed = "http://" + host + "/photos/lin";
  enter(typed);
  EXPECT_EQ(window.status_text(), "网址有误");
  EXPECT_EQ(as_tuples(window.rows()), as_tuples(rows));
  EXPECT_EQ(cover_urls(), covers);
  EXPECT_TRUE(window.enter_enabled());
  EXPECT_EQ(app->threads.running(), 0);
  EXPECT_EQ(site->requests().size(), requests);
  EXPECT_EQ(window.url_text(), typed);
  EXPECT_EQ(album_address(), typed);
  EXPECT_EQ(site_user(), "");

  // The old rows still preview, now with no user in their links.
  show_album_preview(*app, 0);
  EXPECT_NE(window.preview().find("href='http://" + host + "/photos//albums/11/'"), std::string::npos);
  EXPECT_NE(window.preview().find("src='" + cover("lin", 11) + "'"), std::string::npos);
}

TEST_F(CatalogueRoad, EmptyBoxChangesNothingButTheAddress) {
  enter(list_address("lin"));
  await_scrape();
  const std::size_t calls = window.calls().size();
  enter("");
  EXPECT_EQ(window.calls().size(), calls + 1) << "only the test's own typing";
  EXPECT_EQ(app->threads.running(), 0);
  EXPECT_EQ(album_address(), "");
  EXPECT_EQ(site_user(), "lin");
  EXPECT_EQ(window.status_text(), "[小林] 合计 4个相册");
}

TEST_F(CatalogueRoad, EnterDuringAScrapeStartsNoSecondOne) {
  // The list page of lin is held back until the test lets it go.
  std::mutex gate_mutex;
  std::condition_variable gate;
  bool open = false;
  auto open_gate = [&] {
    std::lock_guard lock(gate_mutex);
    open = true;
    gate.notify_all();
  };
  site->set_override([&](const demo::RequestRecord& request, int) -> std::optional<demo::Answer> {
    if (request.target.find("/photos/lin/albums/") == 0) {
      std::unique_lock lock(gate_mutex);
      gate.wait_for(lock, 30s, [&] { return open; });
    }
    return std::nullopt;
  });
  struct OpenAtExit {
    std::function<void()> f;
    ~OpenAtExit() { f(); }
  } open_at_exit{open_gate};

  enter(list_address("lin"));
  ASSERT_TRUE(window.wait_until([&] { return index_of(window.calls(), "delete_all_albums") != std::string::npos; }));
  EXPECT_FALSE(window.enter_enabled());

  enter(list_address("bo"));
  enter("bo." + host);
  EXPECT_EQ(album_address(), list_address("lin"));
  EXPECT_EQ(site_user(), "lin");
  EXPECT_EQ(app->threads.running(), 1);
  EXPECT_FALSE(window.enter_enabled());

  open_gate();
  await_scrape();
  EXPECT_EQ(as_tuples(window.rows()), lin_rows());
  EXPECT_EQ(window.status_text(), "[小林] 合计 4个相册");
  EXPECT_EQ(requests_for("/photos/bo/"), 0u);
  EXPECT_EQ(settings().find("阿波"), std::string::npos);
  EXPECT_TRUE(window.enter_enabled());

  // Once the scrape has ended, Enter works again and the new list replaces the old one.
  enter(list_address("bo"));
  await_scrape();
  EXPECT_EQ(as_tuples(window.rows()), (std::vector<RowTuple>{{"冬天", 21, "4张"}}));
  EXPECT_EQ(cover_urls(), std::vector<std::string>{cover("bo", 21)});
  EXPECT_EQ(window.status_text(), "[阿波] 合计 1个相册");
}

TEST_F(CatalogueRoad, RefusedThreadGivesTheButtonBack) {
  app->threads.refuse_next_starts(1);
  enter(list_address("lin"));
  EXPECT_TRUE(window.enter_enabled());
  const auto calls = window.calls();
  EXPECT_LT(index_of(calls, "disable_enter"), index_of(calls, "enable_enter"));
  EXPECT_EQ(app->threads.running(), 0);
  EXPECT_TRUE(window.rows().empty());

  enter(list_address("lin"));
  await_scrape();
  EXPECT_EQ(as_tuples(window.rows()), lin_rows());
}

TEST_F(CatalogueRoad, FailedFetchEmptiesTheListAndRemembersNothing) {
  enter(list_address("bo"));
  await_scrape();
  ASSERT_EQ(window.rows().size(), 1u);
  const std::string history = settings();

  site->set_override([](const demo::RequestRecord& request, int) -> std::optional<demo::Answer> {
    if (request.target.find("/photos/lin/") != 0) return std::nullopt;
    demo::Answer broken;
    broken.body = "<title>x的</title>";
    broken.drop_after = 0;  // the connection closes before any byte of the body
    return broken;
  });
  enter(list_address("lin"));
  await_scrape();
  EXPECT_TRUE(window.rows().empty());
  EXPECT_TRUE(cover_urls().empty());
  EXPECT_EQ(window.status_text(), "[] 合计 0个相册");
  EXPECT_TRUE(window.enter_enabled());
  EXPECT_EQ(settings(), history);
}

TEST_F(CatalogueRoad, PageThatIsNotAnAlbumListNamesItsOwnerOnly) {
  site->set_override([](const demo::RequestRecord& request, int) -> std::optional<demo::Answer> {
    if (request.target.find("/photos/lin/") != 0) return std::nullopt;
    demo::Answer answer;
    answer.body = testing::u8s(u8"<html><head><title>小林的空间</title></head><body>没有相册</body></html>");
    return answer;
  });
  enter(list_address("lin"));
  await_scrape();
  EXPECT_TRUE(window.rows().empty());
  EXPECT_EQ(window.status_text(), "[小林] 合计 0个相册");
  EXPECT_FALSE(std::filesystem::exists(settings_file())) << "no album, no history";
}

TEST_F(CatalogueRoad, PreviewWhileTheListIsStillFilling) {
  enter(list_address("many"));
  int previews = 0;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while ((app->threads.running() > 0 || previews == 0) && std::chrono::steady_clock::now() < deadline) {
    const int rows = window.album_count();
    if (rows == 0) {
      std::this_thread::yield();
      continue;
    }
    // Each row shown has its own cover, whatever the scrape is doing.
    const int row = rows - 1;
    show_album_preview(*app, row);
    ++previews;
    const std::int32_t number = 1001 + row;
    ASSERT_NE(window.preview().find("src='" + cover("many", number) + "'"), std::string::npos) << "row " << row;
    ASSERT_NE(window.preview().find("/photos/many/albums/" + std::to_string(number) + "/'>"), std::string::npos);
  }
  await_scrape();
  EXPECT_EQ(window.rows().size(), 1500u);
  EXPECT_EQ(cover_urls().size(), 1500u);
  EXPECT_EQ(window.status_text(), "[许多] 合计 1500个相册");
  EXPECT_EQ(window.rows_before_their_cover, 0);
  const auto calls = window.calls();
  EXPECT_LT(std::count(calls.begin(), calls.end(), "append_albums"), 1500 / 100) << "a few hundred rows a trip";
}

// The demo site's own content, as a newcomer sees it on the first run.
class DemoContentRoad : public CatalogueRoad {
 protected:
  demo::SiteContent content() override { return demo::SiteContent::demo(); }
};

TEST_F(DemoContentRoad, EveryUserListsEveryAlbum) {
  const demo::SiteContent content = demo::SiteContent::demo();
  ASSERT_FALSE(content.users.empty());
  for (const demo::DemoUser& user : content.users) {
    enter(list_address(user.name));
    await_scrape();
    std::vector<RowTuple> expected;
    for (const demo::DemoAlbum& album : user.albums)
      expected.emplace_back(utf8_to_text(album.title_html), album.number,
                            std::to_string(album.listed_count >= 0 ? static_cast<std::size_t>(album.listed_count)
                                                                   : album.photos.size()) +
                                "张");
    EXPECT_EQ(as_tuples(window.rows()), expected) << user.name;
    EXPECT_EQ(window.status_text(),
              "[" + utf8_to_text(user.display_name) + "] 合计 " + std::to_string(user.albums.size()) + "个相册");
    const auto covers = cover_urls();
    ASSERT_EQ(covers.size(), user.albums.size());
    for (std::size_t i = 0; i < covers.size(); ++i) EXPECT_EQ(covers[i], "http://" + host + user.albums[i].cover_path);
  }
}

}  // namespace
}  // namespace velmora
