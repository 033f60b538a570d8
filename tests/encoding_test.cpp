#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdint>
#include <cstring>
#include <latch>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/test_text.h"
#include "web/encoding.h"

namespace velmora {
namespace {

using testing::u8s;

std::string hex(std::string_view bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// UTF-8 of one code point (any value up to 0x10FFFF, surrogates included).
std::string utf8_of(std::uint32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | cp >> 6);
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | cp >> 12);
    s += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | cp >> 18);
    s += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    s += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return s;
}

std::string utf16le(std::initializer_list<std::uint16_t> units) {
  std::string s;
  for (std::uint16_t u : units) {
    s += static_cast<char>(u & 0xFF);
    s += static_cast<char>(u >> 8);
  }
  return s;
}

struct ConversionCase {
  const char* name;
  std::string input;
  std::string expected;
};

TEST(Utf8ToText, ConvertsAndReplaces) {
  const ConversionCase cases[] = {
      {"empty", "", ""},
      {"ascii unchanged", "<div class=\"Sets\">\r\n\t~!@#$%^&*()_+{}|:\"<>?`-=[]\\;',./", "<div class=\"Sets\">\r\n\t~!@#$%^&*()_+{}|:\"<>?`-=[]\\;',./"},
      {"Chinese", u8s(u8"林的相册：下一页"), "林的相册：下一页"},
      {"ends in a multi-byte character", u8s(u8"abc中"), "abc中"},
      {"full-width digits", u8s(u8"１２３"), "１２３"},
      {"pinyin letter GBK has", u8s(u8"é"), "\xA8\xA6"},
      {"euro sign is 0x80", u8s(u8"€5"), "\x80" "5"},
      {"ends at the first NUL", std::string("ab\0cd", 5), "ab"},
      {"NUL first", std::string("\0abc", 4), ""},
      {"NUL right after a cut-off sequence", std::string("\xE4\xB8\0z", 4), "?"},
      {"byte-order mark converted, not stripped", u8s(u8"\uFEFFabc"), "?abc"},
      {"letter GBK lacks", u8s(u8"Äb"), "?b"},
      {"no-break space", u8s(u8"a\u00A0b"), "a?b"},
      {"replacement character", u8s(u8"\uFFFD"), "?"},
      {"emoji is one question mark", u8s(u8"a😀b"), "a?b"},
      {"rare ideograph beyond the BMP", u8s(u8"𠀀"), "?"},
      {"cut off at the end", "ab\xE4\xB8", "ab?"},
      {"cut-off four-byte sequence", "\xF0\x9F\x98", "?"},
      {"cut off before an ascii byte", "\xE4\xB8" "a", "?a"},
      {"cut off before a lead byte", "\xE4\xB8\xE4\xB8\xAD", "?\xD6\xD0"},
      {"stray continuation bytes, one each", "a\x80\xBF" "b", "a??b"},
      {"invalid lead bytes", "\xC0\xC1\xF5\xFF", "????"},
      {"overlong slash", "\xC0\xAF", "??"},
      {"overlong three-byte form", "\xE0\x80\xAF", "???"},
      {"encoded surrogate", "\xED\xA0\x80", "???"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", "????"},
      {"malformed in the middle of Chinese", u8s(u8"中") + "\xFF" + u8s(u8"文"), "中?文"},
      {"long ascii runs around Chinese", std::string(37, 'x') + u8s(u8"图") + std::string(19, 'y'),
       std::string(37, 'x') + "图" + std::string(19, 'y')},
  };
  for (const ConversionCase& c : cases) {
    EXPECT_EQ(hex(utf8_to_text(c.input)), hex(c.expected)) << c.name;
  }
}

TEST(Utf8ToText, TextCutShortByANulHoldsNoLargeBuffer) {
  std::string page(4 << 20, 'x');
  page[10] = '\0';
  const std::string text = utf8_to_text(page);
  EXPECT_EQ(text, std::string(10, 'x'));
  EXPECT_LT(text.capacity(), 64u << 10);
  EXPECT_LT(text_to_utf8(page).capacity(), 64u << 10);
  page[11] = '\0';  // with page[10], a NUL code unit
  EXPECT_LT(utf16_to_text(page).capacity(), 64u << 10);
}

TEST(Utf16ToText, ConvertsAndReplaces) {
  const ConversionCase cases[] = {
      {"empty", "", ""},
      {"ascii", utf16le({'a', 'B', '<'}), "aB<"},
      {"Chinese", utf16le({0x4E2D, 0x6587}), "中文"},
      {"euro sign", utf16le({0x20AC}), "\x80"},
      {"surrogate pair is one question mark", utf16le({'a', 0xD83D, 0xDE00, 'b'}), "a?b"},
      {"lone high surrogate", utf16le({0xD83D, 'a'}), "?a"},
      {"high surrogate at the end", utf16le({'a', 0xD83D}), "a?"},
      {"lone low surrogate", utf16le({0xDE00, 0xDE00}), "??"},
      {"two high surrogates", utf16le({0xD83D, 0xD83D, 0xDE00}), "??"},
      {"byte-order mark", utf16le({0xFEFF, 'a'}), "?a"},
      {"ends at the first NUL", utf16le({'a', 0, 'b'}), "a"},
      {"a NUL byte inside a unit is no NUL", utf16le({0x0100}), "?"},
      {"odd trailing byte", utf16le({'a'}) + "b", "a?"},
      {"odd byte after a NUL", utf16le({'a', 0}) + "b", "a"},
  };
  for (const ConversionCase& c : cases) {
    EXPECT_EQ(hex(utf16_to_text(c.input)), hex(c.expected)) << c.name;
  }
}

TEST(TextToUtf8, ConvertsAndReplaces) {
  const std::string fffd = u8s(u8"\uFFFD");
  const ConversionCase cases[] = {
      {"empty", "", ""},
      {"ascii", "cfg.ini", "cfg.ini"},
      {"Chinese", "下载完成", u8s(u8"下载完成")},
      {"second byte that looks like a letter", "\x81" "A", u8s(u8"\u4E04")},
      {"euro byte", "\x80", u8s(u8"€")},
      {"ends at the first NUL", std::string("ab\0cd", 5), "ab"},
      {"lead byte at the end", "ab\x81", "ab" + fffd},
      {"lead byte before an ascii non-trail byte", "\x81" "0\"", fffd + "0\""},
      {"lead byte before a NUL", std::string("\xD6\0x", 3), fffd},
      {"undefined pair is one replacement", "\xA2\xA0" "a", fffd + "a"},
      {"0xFF", "a\xFF" "b", "a" + fffd + "b"},
      {"long ascii run then Chinese", std::string(20, 'a') + "图" + "b", std::string(20, 'a') + u8s(u8"图") + "b"},
  };
  for (const ConversionCase& c : cases) {
    EXPECT_EQ(hex(text_to_utf8(c.input)), hex(c.expected)) << c.name;
  }
}

// The tables agree with the system's code page 936 converter for every
// character of the Basic Multilingual Plane and every GBK code.
TEST(Encoding, AgreesWithTheSystemConverterEverywhere) {
  iconv_t to_gbk = iconv_open("CP936", "UTF-32LE");
  iconv_t from_gbk = iconv_open("UTF-32LE", "CP936");
  ASSERT_NE(to_gbk, reinterpret_cast<iconv_t>(-1));
  ASSERT_NE(from_gbk, reinterpret_cast<iconv_t>(-1));
  auto run = [](iconv_t cd, std::string in) -> std::string {
    char out[16];
    char* src = in.data();
    std::size_t src_left = in.size();
    char* dst = out;
    std::size_t dst_left = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<std::size_t>(-1) || src_left) return {};
    return std::string(out, sizeof out - dst_left);
  };

  int encodable = 0;
  for (std::uint32_t cp = 1; cp <= 0xFFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::string expected = run(to_gbk, std::string(reinterpret_cast<const char*>(&cp), 4));
    if (expected.empty()) expected = "?";
    else ++encodable;
    ASSERT_EQ(hex(utf8_to_text(utf8_of(cp))), hex(expected)) << "U+" << std::hex << cp;
    const std::uint16_t unit = static_cast<std::uint16_t>(cp);
    ASSERT_EQ(hex(utf16_to_text(utf16le({unit}))), hex(expected)) << "U+" << std::hex << cp;
  }
  EXPECT_GT(encodable, 21000);

  for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const std::string code{static_cast<char>(lead), static_cast<char>(trail)};
      const std::string utf32 = run(from_gbk, code);
      std::string expected = u8s(u8"\uFFFD");
      if (!utf32.empty()) {
        std::uint32_t cp;
        std::memcpy(&cp, utf32.data(), 4);
        expected = utf8_of(cp);
      }
      ASSERT_EQ(hex(text_to_utf8(code)), hex(expected)) << hex(code);
    }
  }
  iconv_close(to_gbk);
  iconv_close(from_gbk);
}

TEST(Encoding, RoundTripsAPage) {
  const std::string page = u8s(u8"<title>Lin的相册</title><div class=\"Sets\"><b>12</b>张 € 😀");
  EXPECT_EQ(text_to_utf8(utf8_to_text(page)), u8s(u8"<title>Lin的相册</title><div class=\"Sets\"><b>12</b>张 € ?"));
}


// Bytes 0x21-0x3E (no "?") are never part of a GBK character or of a UTF-8
// sequence: in any input, broken or not, each of them must come out in order,
// never swallowed by a neighbouring malformed fragment.
std::string marker_bytes(std::string_view s) {
  std::string out;
  for (char c : s)
    if (c >= 0x21 && c <= 0x3E) out += c;
  return out;
}

TEST(Encoding, BrokenInputNeverSwallowsPlainBytes) {
  std::mt19937 random(20240611);
  const std::string pieces[] = {
      "\x80", "\xBF", "\xC2", "\xC0", "\xE4", "\xE4\xB8", "\xED", "\xED\xA0", "\xF0", "\xF0\x9F", "\xF0\x9F\x98",
      "\xF4\x90", "\xFF", "\xFE", "\x81", "\xA2\xA0", "\xD6\xD0", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "a", "Z",
      "0", "1", "<", "=", ">", "\"", "/", ":", ";", "&", "#"};
  for (int round = 0; round < 3000; ++round) {
    std::string input;
    const int count = static_cast<int>(random() % 24);
    for (int k = 0; k < count; ++k) input += pieces[random() % std::size(pieces)];
    const std::string text = utf8_to_text(input);
    ASSERT_LE(text.size(), input.size()) << hex(input);
    ASSERT_EQ(text.find('\0'), std::string::npos) << hex(input);
    ASSERT_EQ(marker_bytes(text), marker_bytes(input)) << hex(input);
    const std::string utf8 = text_to_utf8(input);
    ASSERT_EQ(marker_bytes(utf8), marker_bytes(input)) << hex(input);
    const std::string from_utf16 = utf16_to_text(input);
    ASSERT_EQ(from_utf16.find('\0'), std::string::npos) << hex(input);
  }
}

TEST(Encoding, FirstUseFromManyThreadsAtOnce) {
  // Each test runs in a process of its own under CTest, so the tables are
  // built here, by whichever thread comes first, while the others wait.
  constexpr int thread_count = 8;
  std::latch start(thread_count);
  std::vector<std::string> results(thread_count);
  std::vector<std::thread> threads;
  for (int t = 0; t < thread_count; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      results[t] = utf8_to_text(u8s(u8"第 12 张下载完成 😀"));
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& result : results) EXPECT_EQ(result, "第 12 张下载完成 ?");
}

}  // namespace
}  // namespace velmora
