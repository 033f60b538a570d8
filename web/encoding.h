#pragma once
// Conversions between the program's GBK text and the outside world's UTF-8 and
// UTF-16. None of them fails: what GBK lacks becomes "?", malformed input
// becomes "?" per bad fragment, and the result ends at the first NUL.
#include <string>
#include <string_view>

namespace velmora {

// UTF-8 bytes (a page of the album site) to program text.
std::string utf8_to_text(std::string_view bytes);

// UTF-16 little-endian code units to program text.
std::string utf16_to_text(std::string_view utf16le_bytes);

// Program text to UTF-8, for the edges: wx strings, file paths, the clipboard.
// A malformed GBK fragment becomes U+FFFD. The result ends at the first NUL.
std::string text_to_utf8(std::string_view text);

}  // namespace velmora
