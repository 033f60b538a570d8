#include "text/gbk_text.h"

#include <cstring>
#include <limits>

namespace velmora {
namespace {

unsigned char byte_at(std::string_view text, std::size_t i) { return static_cast<unsigned char>(text[i]); }

unsigned char fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

bool is_ascii_letter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A byte below 0x81 is never a lead byte, so whether `pos` is a character
// boundary follows from the run of bytes 0x81-0xFE just before it: it is one
// exactly when that run has even length. `known_boundary` (at or before pos)
// bounds the look-back, which keeps repeated checks linear overall.
bool on_boundary(std::string_view text, std::size_t known_boundary, std::size_t pos) {
  std::size_t run = 0;
  while (pos > known_boundary + run && is_gbk_lead_byte(byte_at(text, pos - run - 1))) ++run;
  return run % 2 == 0;
}

// `needle` equals the bytes at `at`, ASCII letters of single-byte characters
// folded. A double-byte character of the needle (whose lead byte is never
// folded, so the text has the same character there) is compared exactly: its
// second byte may look like a letter but belongs to a different character.
bool equal_folded(const char* at, std::string_view needle) {
  for (std::size_t i = 0; i < needle.size(); ++i) {
    unsigned char a = static_cast<unsigned char>(at[i]);
    unsigned char b = static_cast<unsigned char>(needle[i]);
    if (is_gbk_lead_byte(b)) {
      if (a != b) return false;
      if (++i < needle.size() && at[i] != needle[i]) return false;
    } else if (fold(a) != fold(b)) {
      return false;
    }
  }
  return true;
}

bool equal_at(const char* at, std::string_view needle, bool ignore_case) {
  return ignore_case ? equal_folded(at, needle) : std::memcmp(at, needle.data(), needle.size()) == 0;
}

std::size_t find_exact(std::string_view text, std::string_view needle, std::size_t from) {
  const char* base = text.data();
  std::size_t pos = from;
  std::size_t boundary = from;
  while (pos + needle.size() <= text.size()) {
    const void* hit = memmem(base + pos, text.size() - pos, needle.data(), needle.size());
    if (!hit) return npos;
    std::size_t at = static_cast<std::size_t>(static_cast<const char*>(hit) - base);
    if (on_boundary(text, boundary, at)) return at;
    // `at` is the second byte of a character, so the next boundary is right
    // after it.
    pos = boundary = at + 1;
  }
  return npos;
}

// The byte of the needle that candidates are looked for with memchr: one that
// is compared exactly (not an ASCII letter), preferably one of a double-byte
// character, which is rarest in a mostly-ASCII page. npos when the needle is
// made of letters only.
std::size_t anchor_of(std::string_view needle) {
  std::size_t anchor = npos;
  for (std::size_t i = 0; i < needle.size(); ++i) {
    const unsigned char c = byte_at(needle, i);
    if (c >= 0x80) return i;
    if (anchor == npos && !is_ascii_letter(c)) anchor = i;
  }
  return anchor;
}

std::size_t find_folded(std::string_view text, std::string_view needle, std::size_t from) {
  const std::size_t last_start = text.size() - needle.size() + 1;  // one past the last possible start
  const std::size_t anchor = anchor_of(needle);
  const unsigned char first_lower = fold(byte_at(needle, 0));
  std::size_t pos = from;
  std::size_t boundary = from;
  while (pos < last_start) {
    std::size_t at;
    if (anchor != npos) {
      const void* hit = std::memchr(text.data() + pos + anchor, needle[anchor], last_start - pos);
      if (!hit) return npos;
      at = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) - anchor;
    } else {
      at = pos;
      while (at < last_start && (byte_at(text, at) | 0x20) != first_lower) ++at;
      if (at == last_start) return npos;
    }
    if (equal_folded(text.data() + at, needle)) {
      if (on_boundary(text, boundary, at)) return at;
      boundary = at + 1;
    }
    pos = at + 1;
  }
  return npos;
}

}  // namespace

std::size_t find_text(std::string_view text, std::string_view needle, std::size_t from, bool ignore_case) {
  if (text.empty() || needle.empty() || from >= text.size() || needle.size() > text.size() - from) return npos;
  return ignore_case ? find_folded(text, needle, from) : find_exact(text, needle, from);
}

std::size_t find_last_text(std::string_view text, std::string_view needle, bool ignore_case) {
  if (text.empty() || needle.empty() || needle.size() > text.size()) return npos;
  const unsigned char first = static_cast<unsigned char>(needle[0]);
  const bool either_case = ignore_case && is_ascii_letter(first);
  for (std::size_t end = text.size() - needle.size() + 1; end > 0;) {
    std::size_t at;
    if (!either_case) {
      const void* hit = memrchr(text.data(), first, end);
      if (!hit) return npos;
      at = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
    } else {
      at = end - 1;
      while ((byte_at(text, at) | 0x20) != fold(first)) {
        if (at == 0) return npos;
        --at;
      }
    }
    if (equal_at(text.data() + at, needle, ignore_case)) return at;
    end = at;
  }
  return npos;
}

std::vector<std::string> split_text(std::string_view text, std::string_view separator) {
  std::vector<std::string> pieces;
  if (text.empty()) return pieces;
  if (separator.empty()) {
    pieces.emplace_back(text);
    return pieces;
  }
  std::size_t start = 0;
  for (std::size_t at = find_text(text, separator, 0); at != npos; at = find_text(text, separator, start)) {
    pieces.emplace_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  if (start < text.size()) pieces.emplace_back(text.substr(start));
  return pieces;
}

std::string replace_text(std::string_view text, std::string_view needle, std::string_view replacement,
                         bool ignore_case) {
  if (needle.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  for (std::size_t at = find_text(text, needle, 0, ignore_case); at != npos;
       at = find_text(text, needle, start, ignore_case)) {
    out.append(text.substr(start, at - start));
    out.append(replacement);
    start = at + needle.size();
  }
  out.append(text.substr(start));
  return out;
}

std::int32_t read_number(std::string_view text) {
  // Characters one at a time, full-width forms folded: GBK row 0xA3
  // (0xA3A1-0xA3FE) holds U+FF01-U+FF5E, whose half-width form is the trail
  // byte minus 0x80; 0xA1A1 is the ideographic space.
  std::size_t i = 0;
  auto next_char = [&]() -> int {
    if (i >= text.size()) return -1;
    unsigned char c = byte_at(text, i++);
    if (!is_gbk_lead_byte(c) || i >= text.size()) return c;
    unsigned char t = byte_at(text, i++);
    if (c == 0xA3 && t >= 0xA1 && t <= 0xFE) return t - 0x80;
    if (c == 0xA1 && t == 0xA1) return ' ';
    return 0x100;  // any other double-byte character: not a blank, sign or digit
  };
  auto is_blank = [](int c) { return c == ' ' || (c >= '\t' && c <= '\r'); };

  int c = next_char();
  while (is_blank(c)) c = next_char();
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = next_char();
  }
  // Beyond 32 bits the value sticks at the nearest 32-bit limit: an album
  // number is never that large, and wrapping would turn it into an unrelated one.
  constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t value = 0;
  for (; c >= '0' && c <= '9'; c = next_char()) {
    value = value * 10 + (c - '0');
    if (value > limit) value = limit;
  }
  if (negative) return static_cast<std::int32_t>(-value);  // -limit is INT32_MIN
  return static_cast<std::int32_t>(value >= limit ? limit - 1 : value);
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (is_gbk_lead_byte(c)) {
      ++i;  // the second byte belongs to the character, letter-like or not
      continue;
    }
    out[i] = static_cast<char>(fold(c));
  }
  return out;
}

}  // namespace velmora
