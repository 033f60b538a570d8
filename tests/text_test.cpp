#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "text/gbk_text.h"

namespace velmora {
namespace {

// Narrow literals are GBK: "中文" is D6 D0 CE C4. Its middle bytes D0 CE are
// what a byte-wise search would find across the two characters.
const std::string zhongwen = "中文";
const std::string straddle = zhongwen.substr(1, 2);

struct FindCase {
  const char* name;
  std::string text;
  std::string needle;
  std::size_t from;
  bool ignore_case;
  std::size_t expected;
};

TEST(FindText, StepsOverDoubleByteCharacters) {
  const FindCase cases[] = {
      {"plain ascii", "<div class=\"Sets\">", "class", 0, false, 5},
      {"empty needle", "abc", "", 0, false, npos},
      {"empty text", "", "a", 0, false, npos},
      {"needle longer than text", "ab", "abc", 0, false, npos},
      {"from skips an earlier match", "aXa", "a", 1, false, 2},
      {"from at the end", "abc", "c", 3, false, npos},
      {"bytes across two Chinese characters", zhongwen, straddle, 0, false, npos},
      {"straddling first, aligned later", zhongwen + "x" + straddle + "y", straddle, 0, false, 5},
      {"trail byte followed by ascii", "\xD6\xD0" "A", "\xD0" "A", 0, false, npos},
      {"same bytes after an ascii byte", "A\xD0" "A", "\xD0" "A", 0, false, 1},
      {"lead byte takes an ascii second byte", "\x81" "AB", "AB", 0, false, npos},
      {"after such a character", "\x81" "AAB", "AB", 0, false, 2},
      {"odd run of high bytes", "\xB0\xA1\xB0\xA1\xB0" "<a>", "<a>", 0, false, npos},
      {"even run of high bytes", "\xB0\xA1\xB0\xA1" "<a>", "<a>", 0, false, 4},
      {"Chinese needle in Chinese text", "下一页" "thumbnail\">下一页</a>", "thumbnail\">下一页</a>", 0, false, 6},
      {"lone lead byte at the end", "ab\xD6", "\xD6", 0, false, 2},
      {"case counts", "Hello WORLD", "world", 0, false, npos},
      {"case ignored", "Hello WORLD", "world", 0, true, 6},
      {"case ignored, non-letter first byte", "x/SQUARE.JPG", "/square.jpg", 0, true, 1},
      {"case ignored still steps over characters", "\xD6\xD0" "a", "\xD0" "A", 0, true, npos},
      {"case ignored across two Chinese characters", zhongwen + straddle, straddle, 0, true, 4},
      // 0x81 0x61 and 0x81 0x41 are two different characters: a second byte is
      // never folded, even though it looks like a letter.
      {"case ignored keeps second bytes exact", "\x81" "a", "\x81" "A", 0, true, npos},
      {"case ignored, Chinese around", "中/Square.JPG文", "/square.jpg", 0, true, 2},
  };
  for (const FindCase& c : cases) {
    EXPECT_EQ(find_text(c.text, c.needle, c.from, c.ignore_case), c.expected) << c.name;
  }
}

TEST(FindText, LongChineseRunsStayOnBoundaries) {
  // A marker behind thousands of double-byte characters, once misaligned by a
  // stray lead byte and once aligned: only the aligned one counts.
  std::string run;
  for (int i = 0; i < 5000; ++i) run += "汉";
  const std::string misaligned = run + "\xB0" "</b>";
  EXPECT_EQ(find_text(misaligned, "</b>"), npos);
  const std::string aligned = run + "\xB0" "</b></b>";
  EXPECT_EQ(find_text(aligned, "</b>"), run.size() + 5);
  EXPECT_EQ(find_text(aligned, "</B>", 0, true), run.size() + 5);
}

TEST(FindLastText, SearchesBackwardsByteByByte) {
  EXPECT_EQ(find_last_text("abcabc", "abc"), 3u);
  EXPECT_EQ(find_last_text("ABCabc", "ABC"), 0u);
  EXPECT_EQ(find_last_text("abcABC", "abc", true), 3u);
  EXPECT_EQ(find_last_text("xyz", "a"), npos);
  EXPECT_EQ(find_last_text("", "a"), npos);
  EXPECT_EQ(find_last_text("a", ""), npos);
  // Backwards there is no character stepping: a second byte can start a match.
  EXPECT_EQ(find_last_text("\xD6\xD0" "A", "\xD0" "A"), 1u);
}

TEST(SplitText, PiecesBetweenSeparators) {
  const struct {
    std::string text;
    std::string separator;
    std::vector<std::string> pieces;
  } cases[] = {
      {"", "|*|", {}},
      {"A", "|*|", {"A"}},
      {"|*|", "|*|", {""}},
      {"A|*|", "|*|", {"A"}},
      {"A|*||*|", "|*|", {"A", ""}},
      {"|*|A|*|B", "|*|", {"", "A", "B"}},
      {"A|*||*|B|*|C", "|*|", {"A", "", "B", "C"}},
      {"|*|A|*|B|*|C", "|*|", {"", "A", "B", "C"}},
      {"http://h/x|", "|", {"http://h/x"}},
      {"http://h/x|Lin", "|", {"http://h/x", "Lin"}},
      {"http://h/x|L|in", "|", {"http://h/x", "L", "in"}},
      {"no separator", "", {"no separator"}},
      // The separator's bytes across two Chinese characters do not cut.
      {zhongwen, straddle, {zhongwen}},
      {"林|*|照片", "|*|", {"林", "照片"}},
      {"head lightbox lb[album] ListPhoto one lightbox lb[album] ListPhoto two", "lightbox lb[album] ListPhoto",
       {"head ", " one ", " two"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(split_text(c.text, c.separator), c.pieces) << '"' << c.text << "\" at \"" << c.separator << '"';
  }
}

TEST(ReplaceText, ReplacesEveryMatchFromTheFirstByte) {
  const struct {
    std::string text;
    std::string needle;
    std::string replacement;
    bool ignore_case;
    std::string expected;
  } cases[] = {
      {"a/square.jpg b/SQUARE.JPG c/Square.Jpg", "/square.jpg", "/big.jpg", true,
       "a/big.jpg b/big.jpg c/big.jpg"},
      {"a/square.jpg b/SQUARE.JPG", "/square.jpg", "/big.jpg", false, "a/big.jpg b/SQUARE.JPG"},
      {"图/square.jpg集/SQUARE.jpg", "/square.jpg", "/big.jpg", true, "图/big.jpg集/big.jpg"},
      {"aaa", "aa", "b", false, "ba"},
      {"aa", "a", "aa", false, "aaaa"},
      {"abc", "", "x", false, "abc"},
      {"", "a", "x", false, ""},
      {"abc", "abc", "", false, ""},
      {zhongwen + straddle, straddle, "!", false, zhongwen + "!"},
      {"\x81" "a\x81" "A", "\x81" "A", "!", true, "\x81" "a!"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(replace_text(c.text, c.needle, c.replacement, c.ignore_case), c.expected)
        << '"' << c.text << "\" replacing \"" << c.needle << '"';
  }
}

TEST(ReadNumber, LeadingNumberWithFullWidthFolding) {
  constexpr std::int32_t max = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t min = std::numeric_limits<std::int32_t>::min();
  const struct {
    std::string text;
    std::int32_t expected;
  } cases[] = {
      {"123", 123},
      {"0072157", 72157},
      {"  42", 42},
      {"\t\r\n 7", 7},
      {"-15", -15},
      {"+15", 15},
      {"12abc", 12},
      {"3.9", 3},
      {"12张", 12},
      {"", 0},
      {"   ", 0},
      {"abc", 0},
      {"-", 0},
      {"- 5", 0},
      {"+-5", 0},
      {"张12", 0},
      {"１２３", 123},
      {"－４５", -45},
      {"＋４５", 45},
      {"　　８", 8},
      {"1２3", 123},
      {"2147483647", max},
      {"-2147483648", min},
      {"2147483648", max},
      {"-2147483649", min},
      {"99999999999999999999999", max},
      {"-99999999999999999999999", min},
      {"000000000000000000000042", 42},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(read_number(c.text), c.expected) << '"' << c.text << '"';
  }
}

TEST(AsciiLower, ChangesOnlySingleByteLetters) {
  EXPECT_EQ(ascii_lower("ABC中Def"), "abc中def");
  EXPECT_EQ(ascii_lower("\x81" "A" "B"), "\x81" "A" "b");
  EXPECT_EQ(ascii_lower(""), "");
}

}  // namespace
}  // namespace velmora
