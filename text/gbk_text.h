#pragma once
// The text operations every part of the program shares. Program text is GBK:
// a byte 0x81-0xFE starts a double-byte character, and searches step over such
// characters whole, so a match never starts on a character's second byte.
// Positions in this C++ interface count bytes from 0; npos means "not found".
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

inline constexpr std::size_t npos = std::string_view::npos;

inline bool is_gbk_lead_byte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// First occurrence of `needle` in `text` that starts at or after `from` (taken
// to be a character boundary) and on a character boundary. npos when either
// text is empty or there is none. ignore_case folds the ASCII letters of
// single-byte characters only; double-byte characters always compare exactly.
std::size_t find_text(std::string_view text, std::string_view needle, std::size_t from = 0,
                      bool ignore_case = false);

// Last occurrence of `needle`, searching backwards one byte at a time (no
// character stepping). npos when either text is empty or there is none.
std::size_t find_last_text(std::string_view text, std::string_view needle, bool ignore_case = false);

// Cuts `text` at every `separator` (found with find_text). An empty text gives
// no piece; a leading separator gives an empty first piece, adjacent
// separators an empty piece between them; the text after the last separator is
// a piece only when it is not empty. An empty separator gives the whole text.
std::vector<std::string> split_text(std::string_view text, std::string_view separator);

// Every occurrence of `needle` replaced by `replacement`, scanning from the
// first byte, without limit; the text between matches is copied unchanged.
std::string replace_text(std::string_view text, std::string_view needle, std::string_view replacement,
                         bool ignore_case = false);

// Reads a decimal integer: full-width characters (digits, signs, the
// ideographic space) count as their half-width forms, leading blanks are
// skipped, an optional sign and the digits that follow are read; no digit
// gives 0. Values beyond 32 bits stick at INT32_MIN/INT32_MAX.
std::int32_t read_number(std::string_view text);

// ASCII-only lower-casing; double-byte characters are left untouched.
std::string ascii_lower(std::string_view text);

}  // namespace velmora
