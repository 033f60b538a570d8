// The album download's rules on text and names: album folder names, photo
// file names, page addresses and photo entries; and the free-name choice on a
// real disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <thread>

#include <unistd.h>

#include "download/album_download.h"
#include "download/album_pages.h"
#include "download/photo_names.h"
#include "support/recording_window.h"
#include "support/test_text.h"

namespace velmora {
namespace {

using testing::u8s;

struct FolderNameCase {
  std::string title;  // program text (GBK)
  std::string expected;  // UTF-8
};

TEST(AlbumFolderName, KeepsSoundTitlesAndMendsUnsafeOnes) {
  const std::string fallback = u8s(u8"相册12");  // "album" + the album number
  const std::vector<FolderNameCase> cases = {
      {"Summer", "Summer"},
      {"夏天 2019 (海边)", u8s(u8"夏天 2019 (海边)")},
      {" leading blank", " leading blank"},
      {"a.b", "a.b"},
      // The second byte of 乗 is "\", of 亅 "|": whole characters, not separators.
      {"乗亅", u8s(u8"乗亅")},
      // Ways out of the chosen folder.
      {"../../x", ".._.._x"},
      {"/etc/cron.d", "_etc_cron.d"},
      {"C:\\Windows\\System32", "C__Windows_System32"},
      {"\\\\server\\share", "__server_share"},
      {"..\\..\\x", ".._.._x"},
      // Characters Windows forbids and control characters.
      {"a<b>c:d\"e|f?g*h", "a_b_c_d_e_f_g_h"},
      {"tab\there\nline\x7F", "tab_here_line_"},
      // Trailing dots and blanks, "." and "..".
      {"name. . ", "name"},
      {".hidden", ".hidden"},
      {".", fallback},
      {"..", fallback},
      {"...", fallback},
      {" . ", fallback},
      {"", fallback},
      // Reserved device names, with or without an extension, in any case.
      {"CON", "_CON"},
      {"con.txt", "_con.txt"},
      {"Nul .x", "_Nul .x"},
      {"aux.", "_aux"},
      {"prn", "_prn"},
      {"COM1", "_COM1"},
      {"lpt9.tar.gz", "_lpt9.tar.gz"},
      {"CONSOLE", "CONSOLE"},
      {"COM10", "COM10"},
      {"xcon", "xcon"},
      // A broken double-byte character becomes a replacement character.
      {"ab\x81", u8s(u8"ab\uFFFD")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(album_folder_name(c.title, 12), c.expected) << "title: " << c.title;
  }
}

TEST(AlbumFolderName, LongTitlesAreCutOnACharacterBoundary) {
  // 129 two-byte characters and one more byte: the most a list row holds,
  // 387 bytes in UTF-8.
  std::string title;
  for (int i = 0; i < 129; ++i) title += "图";
  title += "x";
  std::string name = album_folder_name(title, 1);
  EXPECT_LE(name.size(), album_folder_name_max_bytes);
  EXPECT_EQ(name.size() % 3, 0u) << "a character was cut";
  EXPECT_EQ(name.substr(0, 3), u8s(u8"图"));

  // A cut that lands right after blanks and dots drops them too.
  std::string padded(album_folder_name_max_bytes - 2, 'a');
  padded += " .图图";
  std::string cut = album_folder_name(padded, 1);
  EXPECT_EQ(cut, std::string(album_folder_name_max_bytes - 2, 'a'));
}

// Whatever the title, the name is one component that stays in its folder.
TEST(AlbumFolderName, IsAlwaysOneComponentInsideTheFolder) {
  const std::string alphabet[] = {"/", "\\", ".", " ", ":", "*", "?", "\"", "<", ">", "|", "\t", "\x01", "a",
                                  "C", "O", "N", "1", "图", "乗", "\x81", "\xFE", "\x80", "~", "$"};
  std::mt19937 random(20240607);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(alphabet) - 1);
  std::uniform_int_distribution<int> length(0, 140);
  const std::filesystem::path folder = "/chosen";
  for (int round = 0; round < 3000; ++round) {
    std::string title;
    for (int n = length(random); n > 0; --n) title += alphabet[pick(random)];
    std::string name = album_folder_name(title, 7);
    SCOPED_TRACE("title: " + title);
    ASSERT_FALSE(name.empty());
    ASSERT_NE(name, ".");
    ASSERT_NE(name, "..");
    ASSERT_EQ(name.find_first_of(std::string("/\\:*?\"<>|\0", 10)), std::string::npos) << name;
    ASSERT_LE(name.size(), album_folder_name_max_bytes);
    ASSERT_NE(name.back(), '.');
    ASSERT_NE(name.back(), ' ');
    ASSERT_EQ((folder / name).lexically_normal().parent_path(), folder) << name;
  }
}

TEST(PhotoNames, ExtensionKeepsOnlySafeCharacters) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"http://h/photos/a/big.jpg", ".jpg"},
      {"http://h/photos/a/big.PNG", ".PNG"},
      {"http://h/photos/a/b.jpeg", "jpeg"},  // the last four characters, no dot
      {"", ""},
      {"ab", "ab"},
      {"http://h/a/..", "a"},
      {"http://h/../", ""},
      {"http://h/a\\..", "a"},
      {"http://h/x:*?", "x"},
      {"http://h/a<>|", "a"},
      {"http://h/ab\"\t", "ab"},
      {"http://h/图片", ""},
      {"http://h/x图", "x"},  // last four bytes start inside the path
      {"http://h/a.g-_", ".g-_"},
  };
  for (const auto& [address, expected] : cases) EXPECT_EQ(picture_extension(address), expected) << address;
}

TEST(PhotoNames, BaseNamesAndSuffixes) {
  const std::vector<std::pair<std::int32_t, std::string>> bases = {
      {1, "00001"}, {7, "00007"}, {1234, "01234"}, {99999, "99999"}, {100000, "00000"}, {100007, "00007"}};
  for (const auto& [index, expected] : bases) EXPECT_EQ(photo_base_name(index), expected) << index;
  EXPECT_EQ(suffixed_photo_name("00007", 1), "00007-001");
  EXPECT_EQ(suffixed_photo_name("00007", 12), "00007-012");
  EXPECT_EQ(suffixed_photo_name("00007", 999), "00007-999");
}

TEST(AlbumPages, Addresses) {
  EXPECT_EQ(album_page_address("localhost:47180", "alice", 123, 1),
            "http://localhost:47180/photos/alice/albums/123/page1/?style=thumbnail");
  EXPECT_EQ(album_page_address("album.example.com", "bob", -5, 12),
            "http://album.example.com/photos/bob/albums/-5/page12/?style=thumbnail");
}

TEST(AlbumPages, NextPageMarkerIsExact) {
  EXPECT_TRUE(has_next_page("<a href=\"/page2/?style=thumbnail\">下一页</a>"));
  EXPECT_FALSE(has_next_page("<a href=\"/page2/?style=Thumbnail\">下一页</a>"));
  EXPECT_FALSE(has_next_page("<a href=\"/page2/?style=THUMBNAIL\">下一页</A>"));
  EXPECT_FALSE(has_next_page(""));
}

TEST(AlbumPages, PhotoChunksFromPages) {
  const std::string marker = "lightbox lb[album] ListPhoto";
  std::string pages = "head" + marker + "<img src=\"http://h/p/1/square.jpg\">" + marker +
                      "<img src=\"http://h/p/2/SQUARE.JPG\">" + marker + "<img src=\"http://h/p/3/Square.Jpg\">";
  auto chunks = photo_chunks_from_pages(pages);
  ASSERT_EQ(chunks.size(), 4u);
  EXPECT_EQ(chunks[0], "head");
  EXPECT_EQ(picture_address(chunks[1]), "http://h/p/1/big.jpg");
  EXPECT_EQ(picture_address(chunks[2]), "http://h/p/2/big.jpg");
  EXPECT_EQ(picture_address(chunks[3]), "http://h/p/3/big.jpg");

  EXPECT_TRUE(photo_chunks_from_pages("").empty());
  EXPECT_EQ(photo_chunks_from_pages("no photos here").size(), 1u);
  // Empty pieces count, a trailing empty piece does not.
  auto edges = photo_chunks_from_pages(marker + marker + "x" + marker);
  ASSERT_EQ(edges.size(), 3u);
  EXPECT_EQ(edges[0], "");
  EXPECT_EQ(edges[1], "");
  EXPECT_EQ(edges[2], "x");
  EXPECT_EQ(picture_address("<img src=\"unclosed"), "");
  EXPECT_EQ(picture_address("<img SRC=\"http://h/x.jpg\">"), "");
}

TEST(CompletionText, ShownOnlyAtAHundredPercent) {
  EXPECT_EQ(completion_text(12), "第 12 张下载完成");
  struct Case {
    std::int32_t total, received;
    bool shown;
  };
  const Case cases[] = {
      {1000, 1000, true}, {1000, 999, false}, {1000, 1009, true},  // 100.9 % still counts
      {1000, 1010, false}, {0, 0, false},     {0, 5000, false},    // no declared length
      {-1, 10, false},     {1, 0, false},
  };
  for (const Case& c : cases) {
    testing::RecordingWindow window;
    report_picture_progress(window, c.total, c.received, 10, 12);
    EXPECT_EQ(window.status_history().size(), c.shown ? 1u : 0u) << c.total << " " << c.received;
    if (c.shown) EXPECT_EQ(window.status_text(), "第 12 张下载完成");
  }
}

class ClaimPhotoFile : public ::testing::Test {
 protected:
  testing::TempDir temp;
  std::mutex lock;
  std::optional<std::filesystem::path> claim(std::string_view base = "00007", std::string_view ext = ".jpg") {
    return claim_photo_file(lock, temp.path(), base, ext);
  }
};

TEST_F(ClaimPhotoFile, TakesTheFirstFreeNameAndReservesIt) {
  testing::write_file(temp.path() / "00007.jpg", "first");
  std::filesystem::create_directory(temp.path() / "00007-001.jpg");  // a folder counts as taken
  std::filesystem::create_symlink(temp.path() / "missing", temp.path() / "00007-002.jpg");  // so does a dangling link
  auto first = claim();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->filename(), "00007-003.jpg");
  EXPECT_EQ(std::filesystem::file_size(*first), 0u);
  auto second = claim();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->filename(), "00007-004.jpg");
  EXPECT_EQ(testing::read_file(temp.path() / "00007.jpg"), "first");
  EXPECT_FALSE(std::filesystem::exists(temp.path() / "missing"));
  auto other = claim("00008", "");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->filename(), "00008");
}

TEST_F(ClaimPhotoFile, GivesUpWhenEverySuffixIsTaken) {
  testing::write_file(temp.path() / "00007.jpg", "");
  for (int n = 1; n <= last_photo_suffix; ++n)
    testing::write_file(temp.path() / (suffixed_photo_name("00007", n) + ".jpg"), "");
  EXPECT_FALSE(claim());
  // Another photo's names are not affected.
  EXPECT_TRUE(claim("00008"));
}

TEST_F(ClaimPhotoFile, GivesUpAtOnceWhenTheFolderTakesNoFile) {
  std::mutex& l = lock;
  EXPECT_FALSE(claim_photo_file(l, temp.path() / "not-there", "00007", ".jpg"));
  if (geteuid() != 0) {
    std::filesystem::permissions(temp.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_FALSE(claim());
  }
}

TEST_F(ClaimPhotoFile, WorkersRacingForOneNameGetDifferentFiles) {
  constexpr int workers = 8;
  std::vector<std::optional<std::filesystem::path>> claimed(workers);
  std::vector<std::thread> threads;
  for (int i = 0; i < workers; ++i) threads.emplace_back([&, i] { claimed[i] = claim(); });
  for (auto& t : threads) t.join();
  std::set<std::filesystem::path> names;
  for (const auto& path : claimed) {
    ASSERT_TRUE(path);
    names.insert(*path);
  }
  EXPECT_EQ(names.size(), static_cast<std::size_t>(workers));
}

}  // namespace
}  // namespace velmora
