// Reading an album-list page: the owner's name and one album per
// "<div class=\"Sets\">" block, field by field, on pages that are well formed
// and on pages that are not.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/album_list_page.h"
#include "support/test_text.h"

namespace velmora {

void PrintTo(const AlbumEntry& a, std::ostream* out) {
  *out << "{title \"" << a.title << "\", number " << a.album_number << ", cover \"" << a.cover_url
       << "\", count \"" << a.photo_count << "\"}";
}

namespace {

// One album block as the site writes it.
std::string block(const std::string& number, const std::string& cover, const std::string& title,
                  const std::string& count) {
  return "<div class=\"Sets\"><div class=\"SetCase\"><a href=\"http://h/photos/lin/albums/" + number +
         "/\"><img class=\"setThumb\" src=\"" + cover + "\" /></a></div><h4><a href=\"http://h/photos/lin/albums/" +
         number + "/\" title=\"" + title + "\">" + title + "</a></h4><p><b>" + count + "</b>张</p></div>\n";
}

struct ScrapeCase {
  const char* what;
  std::string page;
  std::string owner;
  std::vector<AlbumEntry> albums;
};

void PrintTo(const ScrapeCase& c, std::ostream* out) { *out << c.what; }

class ScrapeTable : public ::testing::TestWithParam<ScrapeCase> {};

TEST_P(ScrapeTable, ReadsOwnerAndEveryAlbum) {
  const ScrapeCase& c = GetParam();
  AlbumListPage page = scrape_album_page(c.page);
  EXPECT_EQ(page.owner_name, c.owner) << c.what;
  EXPECT_EQ(page.albums, c.albums) << c.what;
}

const std::string head = "<html><head><title>林的相册</title></head><body>\n";

INSTANTIATE_TEST_SUITE_P(
    Pages, ScrapeTable,
    ::testing::Values(
        ScrapeCase{"three albums, in page order",
                   head + block("11", "http://h/a/square.jpg", "春天", "12") +
                       block("12", "http://h/b/square.jpg", "夏天", "3") +
                       block("13", "http://h/c/square.jpg", "秋天", "100") + "</body></html>",
                   "林",
                   {{"春天", 11, "http://h/a/square.jpg", "12"},
                    {"夏天", 12, "http://h/b/square.jpg", "3"},
                    {"秋天", 13, "http://h/c/square.jpg", "100"}}},
        ScrapeCase{"cover only in src_data (lazily loaded)",
                   head + "<div class=\"Sets\"><img class=\"lazyload\" src_data=\"http://h/lazy.jpg\" />"
                          "<a href=\"/photos/lin/albums/5/\" title=\"懒\">x</a><b>2</b></div>",
                   "林",
                   {{"懒", 5, "http://h/lazy.jpg", "2"}}},
        ScrapeCase{"both src_data and src: src wins even when it comes later",
                   head + "<div class=\"Sets\"><img src_data=\"http://h/data.jpg\" src=\"http://h/src.jpg\" />"
                          "<a href=\"/photos/lin/albums/6/\" title=\"t\">x</a><b>1</b></div>",
                   "林",
                   {{"t", 6, "http://h/src.jpg", "1"}}},
        ScrapeCase{"src present but empty: falls back to src_data",
                   head + "<div class=\"Sets\"><img src=\"\" src_data=\"http://h/data.jpg\" />"
                          "<a href=\"/photos/lin/albums/6/\" title=\"t\">x</a><b>1</b></div>",
                   "林",
                   {{"t", 6, "http://h/data.jpg", "1"}}},
        ScrapeCase{"album number with leading zeros",
                   head + block("0042", "c", "t", "1"), "林", {{"t", 42, "c", "1"}}},
        ScrapeCase{"album number that does not start with a digit",
                   head + block("x12", "c", "t", "1"), "林", {{"t", 0, "c", "1"}}},
        ScrapeCase{"album number in full-width digits, with a sign and a blank",
                   head + block("１２", "c", "t", "1") + block(" -7", "c", "u", "1"), "林",
                   {{"t", 12, "c", "1"}, {"u", -7, "c", "1"}}},
        ScrapeCase{"album number beyond 32 bits is clamped",
                   head + block("99999999999", "c", "t", "1"), "林", {{"t", 2147483647, "c", "1"}}},
        ScrapeCase{"the title runs to the first \\\"> even past another attribute",
                   head + "<div class=\"Sets\"><a href=\"/photos/lin/albums/8/\" title=\"雪\" class=\"Seta\">雪</a>"
                          "<b>4</b></div>",
                   "林",
                   {{"雪\" class=\"Seta", 8, "", "4"}}},
        ScrapeCase{"character references in the title are kept verbatim",
                   head + block("9", "c", "Tom &amp; Jerry &#38; &lt;3", "1"), "林",
                   {{"Tom &amp; Jerry &#38; &lt;3", 9, "c", "1"}}},
        ScrapeCase{"a block without any marker still gives an album, all empty",
                   head + "<div class=\"Sets\"><p>nothing here</p></div>", "林", {{"", 0, "", ""}}},
        ScrapeCase{"fields missing in one album do not come from the next one",
                   head + "<div class=\"Sets\"><a href=\"/photos/lin/albums/1/\">no title, no cover, no count</a>" +
                       block("2", "c2", "第二", "7"),
                   "林",
                   {{"", 1, "", ""}, {"第二", 2, "c2", "7"}}},
        ScrapeCase{"adjacent markers give an empty album between them",
                   head + "<div class=\"Sets\"><div class=\"Sets\">" + block("3", "c", "t", "5").substr(18), "林",
                   {{"", 0, "", ""}, {"t", 3, "c", "5"}}},
        ScrapeCase{"a page that ends with the marker gives no album for it",
                   head + block("3", "c", "t", "5") + "<div class=\"Sets\">", "林", {{"t", 3, "c", "5"}}},
        ScrapeCase{"a page that starts with the marker: nothing precedes the first album",
                   "<div class=\"Sets\">" + block("3", "c", "t", "5").substr(18), "", {{"t", 3, "c", "5"}}},
        ScrapeCase{"no 的 after <title>: no owner name, albums still read",
                   "<html><head><title>Lin albums</title></head>" + block("3", "c", "t", "5"), "",
                   {{"t", 3, "c", "5"}}},
        ScrapeCase{"的 only before <title>: no owner name",
                   "的<title>Lin</title>", "", {}},
        ScrapeCase{"the owner name ends at the first 的 after <title>",
                   "<title>目的地的相册</title>", "目", {}},
        ScrapeCase{"marker letters in another case do not start an album",
                   head + "<DIV class=\"Sets\">" + block("3", "c", "t", "5").substr(18), "林", {}},
        ScrapeCase{"a page that is not an album list", "<html><body>404 Not Found</body></html>", "", {}},
        ScrapeCase{"an empty page", "", "", {}}));

TEST(AlbumListPage, ConvertsTheFetchedUtf8PageFirst) {
  using testing::u8s;
  std::string bytes = u8s(u8"<title>小林的相册</title><div class=\"Sets\"><img src=\"http://h/c.jpg\"/>"
                          u8"<a href=\"/photos/lin/albums/３/\" title=\"海边·夏日\">x</a><b>１２</b>张</div>");
  AlbumListPage page = read_album_list_page(bytes);
  EXPECT_EQ(page.owner_name, "小林");
  ASSERT_EQ(page.albums.size(), 1u);
  EXPECT_EQ(page.albums[0], (AlbumEntry{"海边·夏日", 3, "http://h/c.jpg", "１２"}));
}

TEST(AlbumListPage, StatusHistoryAndCountTexts) {
  EXPECT_EQ(album_list_summary("林", 12), "[林] 合计 12个相册");
  EXPECT_EQ(album_list_summary("", 0), "[] 合计 0个相册");
  EXPECT_EQ(history_entry("http://h/photos/lin/albums/", "林"), "http://h/photos/lin/albums/|林");
  EXPECT_EQ(history_entry("http://h/photos/lin/albums/", ""), "http://h/photos/lin/albums/|");
  EXPECT_EQ(photo_count_text("12"), "12张");
  EXPECT_EQ(photo_count_text(""), "张");
}

}  // namespace
}  // namespace velmora
