#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

// The longest start of `text` of at most `max_bytes` bytes that does not cut a
// double-byte character in two (a list cell is read into a fixed buffer).
std::string cut_text(std::string_view text, std::size_t max_bytes);

}  // namespace velmora
