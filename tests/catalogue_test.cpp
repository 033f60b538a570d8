// The album catalogue: the address check, the preview page, and the whole
// road of an address (check, scrape, list, history, preview) driven through a
// recording window against the demo album site on loopback.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/album_address.h"
#include "catalogue/preview_page.h"

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

}  // namespace
}  // namespace velmora
