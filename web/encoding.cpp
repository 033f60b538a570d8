#include "web/encoding.h"

#include <iconv.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "text/gbk_text.h"

namespace velmora {
namespace {

// The two directions of code page 936, taken once from the system's iconv
// tables. GBK holds only characters of the Basic Multilingual Plane, so both
// tables are indexed by 16 bits.
struct GbkTables {
  // Code point -> GBK code; 0 when GBK lacks the character. A value below
  // 0x100 is a single byte (the euro sign is 0x80 in code page 936).
  std::uint16_t to_gbk[0x10000] = {};
  // GBK code (lead byte << 8 | trail byte, or the single byte 0x80) -> code
  // point; 0 when the code is undefined.
  std::uint16_t to_unicode[0x10000] = {};
};

// Decodes one GBK code with iconv; 0 when iconv does not know it.
std::uint32_t decode_with_iconv(iconv_t cd, const unsigned char* code, std::size_t length) {
  char in[2];
  std::memcpy(in, code, length);
  char* src = in;
  std::size_t src_left = length;
  std::uint32_t out[2] = {0, 0};
  char* dst = reinterpret_cast<char*>(out);
  std::size_t dst_left = sizeof out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<std::size_t>(-1)) return 0;
  if (src_left != 0 || dst_left != sizeof out - sizeof out[0]) return 0;  // exactly one code point
  return out[0] <= 0xFFFF ? out[0] : 0;
}

std::unique_ptr<GbkTables> build_tables() {
  auto tables = std::make_unique<GbkTables>();
  iconv_t cd = iconv_open("UTF-32LE", "CP936");
  if (cd == reinterpret_cast<iconv_t>(-1)) return tables;  // no tables: everything beyond ASCII becomes "?"
  auto add = [&](std::uint16_t gbk, std::uint32_t code_point) {
    if (code_point < 0x80 || code_point > 0xFFFF) return;
    tables->to_unicode[gbk] = static_cast<std::uint16_t>(code_point);
    if (tables->to_gbk[code_point] == 0) tables->to_gbk[code_point] = gbk;
  };
  const unsigned char euro = 0x80;
  add(0x80, decode_with_iconv(cd, &euro, 1));
  for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const unsigned char code[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
      add(static_cast<std::uint16_t>(lead << 8 | trail), decode_with_iconv(cd, code, 2));
    }
  }
  iconv_close(cd);
  return tables;
}

const GbkTables& gbk_tables() {
  static const std::unique_ptr<GbkTables> tables = build_tables();  // built once, thread-safe
  return *tables;
}

// Writes the GBK form of `code_point`, or "?" when GBK lacks it; returns the
// new end of the output.
inline char* put_gbk(char* out, std::uint32_t code_point, const GbkTables& tables) {
  std::uint16_t gbk = code_point <= 0xFFFF ? tables.to_gbk[code_point] : 0;
  if (gbk == 0) {
    *out++ = '?';
  } else if (gbk < 0x100) {
    *out++ = static_cast<char>(gbk);
  } else {
    *out++ = static_cast<char>(gbk >> 8);
    *out++ = static_cast<char>(gbk & 0xFF);
  }
  return out;
}

inline bool in_range(unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; }

inline bool is_gbk_trail_byte(unsigned char c) { return in_range(c, 0x40, 0xFE) && c != 0x7F; }

// Output collected through a small buffer that stays in the cache and goes to
// the result (whose memory was reserved, not zero-filled) when nearly full.
// room() makes space for at least 8 more bytes.
class ChunkedOutput {
 public:
  ChunkedOutput(std::string& result, std::size_t expected_size) : result_(result) { result_.reserve(expected_size); }
  char* room(char* out) {
    if (out < buffer_ + sizeof buffer_ - 8) return out;
    result_.append(buffer_, out);
    return buffer_;
  }
  char* start() { return buffer_; }
  void finish(char* out) {
    result_.append(buffer_, out);
    // A text cut short (by a NUL) must not keep the whole reservation alive.
    if (result_.capacity() > 2 * result_.size() + 4096) result_.shrink_to_fit();
  }

 private:
  std::string& result_;
  char buffer_[16384];
};

// True when none of the 8 bytes has its high bit set or is zero.
inline bool plain_ascii_word(std::uint64_t w) {
  constexpr std::uint64_t ones = 0x0101010101010101ull;
  constexpr std::uint64_t highs = 0x8080808080808080ull;
  return ((w | ((w - ones) & ~w)) & highs) == 0;
}

// Copies the next eight bytes at once when all of them are plain ASCII
// (no NUL), the fast path of both directions; advances `i` and `out`.
inline bool copy_plain_ascii_word(const unsigned char* in, std::size_t& i, std::size_t size, char*& out) {
  if (i + 8 > size) return false;
  std::uint64_t word;
  std::memcpy(&word, in + i, 8);
  if (!plain_ascii_word(word)) return false;
  std::memcpy(out, &word, 8);
  out += 8;
  i += 8;
  return true;
}

}  // namespace

std::string utf8_to_text(std::string_view bytes) {
  const GbkTables& tables = gbk_tables();
  const unsigned char* in = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  std::string text;
  // Every well-formed sequence and every malformed fragment gives at most as
  // many GBK bytes as it has UTF-8 bytes, so the input's size is enough.
  ChunkedOutput output(text, size);
  char* out = output.start();
  std::size_t i = 0;
  while (i < size) {
    out = output.room(out);
    const unsigned char c = in[i];
    if (c < 0x80) {
      if (copy_plain_ascii_word(in, i, size, out)) continue;
      if (c == 0) break;  // the text ends at the first NUL
      *out++ = static_cast<char>(c);
      ++i;
      continue;
    }
    // The common case of a page's Chinese: a three-byte sequence whose lead
    // byte allows any continuation bytes.
    if (c >= 0xE1 && c != 0xED && i + 2 < size) {
      const unsigned char b1 = in[i + 1], b2 = in[i + 2];
      if (c <= 0xEF && (b1 & 0xC0) == 0x80 && (b2 & 0xC0) == 0x80) {
        out = put_gbk(out, (c & 0x0Fu) << 12 | (b1 & 0x3Fu) << 6 | (b2 & 0x3Fu), tables);
        i += 3;
        continue;
      }
    }
    // A whole four-byte sequence: a character beyond the Basic Multilingual
    // Plane (an emoji, mostly), which GBK never has.
    if (c >= 0xF0 && c <= 0xF4 && i + 3 < size) {
      const unsigned char b1 = in[i + 1];
      const bool second_fits = c == 0xF0 ? in_range(b1, 0x90, 0xBF) : c == 0xF4 ? in_range(b1, 0x80, 0x8F)
                                                                             : in_range(b1, 0x80, 0xBF);
      if (second_fits && (in[i + 2] & 0xC0) == 0x80 && (in[i + 3] & 0xC0) == 0x80) {
        *out++ = '?';
        i += 4;
        continue;
      }
    }
    // Any other multi-byte sequence. Anything ill-formed gives one "?" for its
    // longest well-formed beginning (at least one byte), and decoding resumes
    // right after that: a stray continuation byte or an invalid lead byte on
    // its own, a cut-off sequence as a whole.
    std::size_t length;
    std::uint32_t code_point;
    unsigned char second_low = 0x80, second_high = 0xBF;
    if (in_range(c, 0xC2, 0xDF)) {
      length = 2;
      code_point = c & 0x1F;
    } else if (in_range(c, 0xE0, 0xEF)) {
      length = 3;
      code_point = c & 0x0F;
      if (c == 0xE0) second_low = 0xA0;   // no overlong forms
      if (c == 0xED) second_high = 0x9F;  // no surrogates
    } else if (in_range(c, 0xF0, 0xF4)) {
      length = 4;
      code_point = c & 0x07;
      if (c == 0xF0) second_low = 0x90;   // no overlong forms
      if (c == 0xF4) second_high = 0x8F;  // nothing beyond U+10FFFF
    } else {
      *out++ = '?';
      ++i;
      continue;
    }
    std::size_t taken = 1;
    for (; taken < length && i + taken < size; ++taken) {
      const unsigned char next = in[i + taken];
      const bool fits = taken == 1 ? in_range(next, second_low, second_high) : in_range(next, 0x80, 0xBF);
      if (!fits) break;
      code_point = code_point << 6 | (next & 0x3F);
    }
    i += taken;
    if (taken == length) {
      out = put_gbk(out, code_point, tables);
    } else {
      *out++ = '?';
    }
  }
  output.finish(out);
  return text;
}

std::string utf16_to_text(std::string_view utf16le_bytes) {
  const GbkTables& tables = gbk_tables();
  const unsigned char* in = reinterpret_cast<const unsigned char*>(utf16le_bytes.data());
  const std::size_t units = utf16le_bytes.size() / 2;
  auto unit_at = [in](std::size_t k) -> std::uint32_t { return in[2 * k] | in[2 * k + 1] << 8; };
  std::string text;
  ChunkedOutput output(text, units + 1);  // ASCII takes a byte a unit, Chinese two
  char* out = output.start();
  bool ended_at_nul = false;
  for (std::size_t k = 0; k < units; ++k) {
    out = output.room(out);
    const std::uint32_t unit = unit_at(k);
    if (unit == 0) {  // the text ends at the first NUL
      ended_at_nul = true;
      break;
    }
    if (unit < 0x80) {
      *out++ = static_cast<char>(unit);
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      // GBK has nothing beyond the Basic Multilingual Plane: a surrogate pair
      // is one "?", and so is a surrogate without its partner.
      if (unit <= 0xDBFF && k + 1 < units && unit_at(k + 1) >= 0xDC00 && unit_at(k + 1) <= 0xDFFF) ++k;
      *out++ = '?';
    } else {
      out = put_gbk(out, unit, tables);
    }
  }
  // A lone byte after the last whole code unit is half a character.
  out = output.room(out);
  if (!ended_at_nul && utf16le_bytes.size() % 2 != 0) *out++ = '?';
  output.finish(out);
  return text;
}

std::string text_to_utf8(std::string_view text) {
  const GbkTables& tables = gbk_tables();
  const unsigned char* in = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::string utf8;
  ChunkedOutput output(utf8, size + size / 2);  // Chinese takes three bytes for two
  char* out = output.start();
  auto put_utf8 = [&out](std::uint32_t code_point) {
    if (code_point < 0x800) {
      *out++ = static_cast<char>(0xC0 | code_point >> 6);
    } else {
      *out++ = static_cast<char>(0xE0 | code_point >> 12);
      *out++ = static_cast<char>(0x80 | (code_point >> 6 & 0x3F));
    }
    *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
  };
  constexpr std::uint32_t replacement = 0xFFFD;
  std::size_t i = 0;
  while (i < size) {
    out = output.room(out);
    if (copy_plain_ascii_word(in, i, size, out)) continue;
    const unsigned char c = in[i];
    if (c < 0x80) {
      if (c == 0) break;  // the text ends at the first NUL
      *out++ = static_cast<char>(c);
      ++i;
    } else if (is_gbk_lead_byte(c) && i + 1 < size && is_gbk_trail_byte(in[i + 1])) {
      // A well-formed pair; an undefined one is one replacement character.
      const std::uint16_t code_point = tables.to_unicode[c << 8 | in[i + 1]];
      put_utf8(code_point != 0 ? code_point : replacement);
      i += 2;
    } else {
      // The euro byte, 0xFF, or a lead byte without a trail byte after it
      // (whatever follows, such as a quote or the NUL, is left to stand).
      const std::uint16_t code_point = tables.to_unicode[c];
      put_utf8(code_point != 0 ? code_point : replacement);
      ++i;
    }
  }
  output.finish(out);
  return utf8;
}

}  // namespace velmora
