#include <gtest/gtest.h>

#include <string>

#include "web/text_between.h"

namespace velmora {
namespace {

struct BetweenCase {
  const char* name;
  std::string text;
  std::string start_marker;
  std::string end_marker;
  std::string expected;
};

TEST(TextBetween, ProgramOptions) {
  const BetweenCase cases[] = {
      {"piece between the markers", "<b>12</b>", "<b>", "<", "12"},
      {"start marker twice: the first one counts", "<b>1</b><b>2</b>", "<b>", "</b>", "1"},
      {"end marker only before the start marker", "</b>x<b>1", "<b>", "</b>", ""},
      {"end marker right behind the start marker", "<b></b>", "<b>", "</b>", ""},
      {"start marker absent", "abc", "<b>", "c", ""},
      {"start marker empty", "abc", "", "c", ""},
      {"end marker absent", "<b>abc", "<b>", "</b>", ""},
      {"end marker empty", "<b>abc", "<b>", "", ""},
      {"empty text", "", "<b>", "</b>", ""},
      {"letter case counts", "<TITLE>Lin的相册</TITLE>", "<title>", "的", ""},
      {"owner name from a title", "<title>Lin的相册</title>", "<title>", "的", "Lin"},
      // The end marker's search starts behind the whole start marker, so an
      // end marker made of the start marker's last bytes is not found there.
      {"end marker overlapping the start marker", "[ab]xx b]", "[ab]", "b]", "xx "},
      {"overlap only", "[ab]", "[ab]", "b]", ""},
      {"title up to the first quote-bracket", "title=\"A\" class=\"x\">", "title=\"", "\">", "A\" class=\"x"},
      {"character references stay", "title=\"a&amp;b\">", "title=\"", "\">", "a&amp;b"},
  };
  for (const BetweenCase& c : cases) {
    EXPECT_EQ(text_between(c.text, c.start_marker, c.end_marker), c.expected) << c.name;
  }
}

TEST(TextBetween, MarkersNeverMatchInsideChineseCharacters) {
  // "中文" is D6 D0 CE C4 in GBK; D0 CE is also a character of its own.
  const std::string zhongwen = "中文";
  const std::string straddle = zhongwen.substr(1, 2);
  // Start marker: skipped across the two characters, found where it stands alone.
  EXPECT_EQ(text_between(zhongwen + "abc" + straddle + "def", straddle, "f"), "de");
  // End marker: "文" ends in C4, so C4 + "<" occurs across "文<"; it must not end the piece.
  EXPECT_EQ(text_between("<b>" + zhongwen + "</b>", "<b>", "\xC4<"), "");
  EXPECT_EQ(text_between("<b>" + zhongwen + "</b>", "<b>", "</b>"), zhongwen);
  // A marker behind a character whose second byte is an ASCII letter.
  EXPECT_EQ(text_between("\x81<b>1<b>2<", "<b>", "<"), "2");
  // Chinese markers, as in the next-page link.
  EXPECT_EQ(text_between("<a href=\"p2\">下一页</a>", "<a href=\"", "\">下一页"), "p2");
}

TEST(TextBetween, KeepChoosesTheMarkers) {
  const std::string text = "xx<a>mid</a>yy";
  const struct {
    int keep;
    std::string found;
    std::string start_missing;
  } cases[] = {
      {0, "mid", ""},
      {1, "<a>mid</a>", "</a>"},
      {2, "<a>mid", ""},
      {3, "mid</a>", "</a>"},
      {4, "mid", ""},
      {-1, "mid", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text_between(text, "<a>", "</a>", true, false, c.keep), c.found) << "keep " << c.keep;
    EXPECT_EQ(text_between(text, "<q>", "</a>", true, false, c.keep), c.start_missing) << "keep " << c.keep;
  }
}

TEST(TextBetween, OtherOptions) {
  // Without the end marker the piece runs to the end of the text.
  EXPECT_EQ(text_between("a<b>rest</b>", "<b>", "", false), "rest</b>");
  EXPECT_EQ(text_between("a<b>rest", "<b>", "zz", false, false, 2), "<b>rest");
  EXPECT_EQ(text_between("a<b>rest", "<q>", "zz", false), "");
  // Ignoring case folds ASCII letters in both searches.
  EXPECT_EQ(text_between("<TITLE>x</Title>", "<title>", "</title>", true, true), "x");
  // The start marker's last occurrence.
  EXPECT_EQ(text_between("<a>1</a><a>2</a>", "<a>", "</a>", true, false, 0, true), "2");
  EXPECT_EQ(text_between("<A>1</a><a>2</a>", "<a>", "</A>", true, true, 0, true), "2");
  EXPECT_EQ(text_between("<a>1</a>", "<q>", "</a>", true, false, 0, true), "");
}

}  // namespace
}  // namespace velmora
