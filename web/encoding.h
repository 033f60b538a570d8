#pragma once
// Conversions between the program's GBK text (code page 936) and the outside
// world's UTF-8 and UTF-16. None of them fails and none stops early: what GBK
// lacks becomes "?", each malformed fragment becomes one "?", and the result
// ends at the first NUL of the input.
#include <string>
#include <string_view>

namespace velmora {

// UTF-8 bytes (a page of the album site) to program text. A malformed
// fragment is the longest beginning of a sequence that is still well-formed
// (a cut-off sequence as a whole; a stray continuation byte, an overlong or
// surrogate form byte by byte). A byte-order mark is converted like any other
// character (GBK lacks it: "?"). The euro sign becomes 0x80, as in code page 936.
std::string utf8_to_text(std::string_view bytes);

// UTF-16 little-endian code units to program text. A surrogate pair or a lone
// surrogate is one "?" (GBK has nothing beyond U+FFFF); so is an odd last byte.
std::string utf16_to_text(std::string_view utf16le_bytes);

// Program text to UTF-8, for the edges: wx strings, file paths, the clipboard.
// An undefined GBK pair, a lead byte without a second byte, and 0xFF each
// become U+FFFD; a byte after such a lead byte is kept. The result ends at the
// first NUL.
std::string text_to_utf8(std::string_view text);

}  // namespace velmora
