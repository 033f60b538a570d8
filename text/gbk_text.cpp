#include "text/gbk_text.h"

#include <cstring>
#include <limits>

namespace velmora {
namespace {

unsigned char fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

// A byte below 0x81 is never a lead byte, so the character boundary before a
// position is known from the run of bytes 0x81-0xFE just before it: the
// position is a boundary exactly when that run has even length.
bool on_boundary(std::string_view text, std::size_t from, std::size_t pos) {
  std::size_t run = 0;
  while (pos > from + run && is_gbk_lead_byte(static_cast<unsigned char>(text[pos - run - 1]))) ++run;
  return run % 2 == 0;
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
    // `at` is a trail byte: the next boundary is right after it. Counting
    // only back to the last known boundary keeps the whole search linear.
    pos = boundary = at + 1;
  }
  return npos;
}

std::size_t find_folded(std::string_view text, std::string_view needle, std::size_t from) {
  const std::size_t n = needle.size();
  for (std::size_t pos = from; pos + n <= text.size();) {
    std::size_t i = 0;
    while (i < n && fold(static_cast<unsigned char>(text[pos + i])) == fold(static_cast<unsigned char>(needle[i]))) ++i;
    if (i == n) return pos;
    pos += (is_gbk_lead_byte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size()) ? 2 : 1;
  }
  return npos;
}

}  // namespace

std::size_t find_text(std::string_view text, std::string_view needle, std::size_t from, bool ignore_case) {
  if (text.empty() || needle.empty() || from >= text.size()) return npos;
  return ignore_case ? find_folded(text, needle, from) : find_exact(text, needle, from);
}

std::size_t find_last_text(std::string_view text, std::string_view needle, bool ignore_case) {
  if (text.empty() || needle.empty() || needle.size() > text.size()) return npos;
  for (std::size_t pos = text.size() - needle.size() + 1; pos-- > 0;) {
    std::size_t i = 0;
    if (ignore_case) {
      while (i < needle.size() && fold(static_cast<unsigned char>(text[pos + i])) == fold(static_cast<unsigned char>(needle[i]))) ++i;
    } else {
      while (i < needle.size() && text[pos + i] == needle[i]) ++i;
    }
    if (i == needle.size()) return pos;
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
    if (start >= text.size()) break;
  }
  if (start < text.size()) pieces.emplace_back(text.substr(start));
  return pieces;
}

std::string replace_text(std::string_view text, std::string_view needle, std::string_view replacement,
                         bool ignore_case) {
  std::string out;
  if (needle.empty()) return std::string(text);
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
  // Fold full-width forms (GBK row 0xA3: 0xA3A1-0xA3FE is U+FF01-U+FF5E, so the
  // trail byte minus 0x80 is the ASCII character) and the ideographic space.
  std::string folded;
  folded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (is_gbk_lead_byte(c) && i + 1 < text.size()) {
      unsigned char t = static_cast<unsigned char>(text[i + 1]);
      if (c == 0xA3 && t >= 0xA1 && t <= 0xFE) folded.push_back(static_cast<char>(t - 0x80));
      else if (c == 0xA1 && t == 0xA1) folded.push_back(' ');
      else { folded.push_back(static_cast<char>(c)); folded.push_back(static_cast<char>(t)); }
      ++i;
    } else {
      folded.push_back(static_cast<char>(c));
    }
  }
  std::size_t i = 0;
  while (i < folded.size() && (folded[i] == ' ' || folded[i] == '\t' || folded[i] == '\r' || folded[i] == '\n' ||
                               folded[i] == '\v' || folded[i] == '\f'))
    ++i;
  bool negative = false;
  if (i < folded.size() && (folded[i] == '+' || folded[i] == '-')) negative = folded[i++] == '-';
  std::int64_t value = 0;
  constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  for (; i < folded.size() && folded[i] >= '0' && folded[i] <= '9'; ++i) {
    value = value * 10 + (folded[i] - '0');
    if (value > limit) value = limit;  // clamp; keeps reading digits without overflow
  }
  if (negative) return static_cast<std::int32_t>(-value);  // -limit is INT32_MIN
  return static_cast<std::int32_t>(value >= limit ? limit - 1 : value);
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (is_gbk_lead_byte(c) && i + 1 < out.size()) { ++i; continue; }
    out[i] = static_cast<char>(fold(c));
  }
  return out;
}

}  // namespace velmora
