#include "web/encoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace velmora {
namespace {

// Runs iconv over `in`, writing `fallback` for every character the target
// lacks and for every malformed fragment (one per fragment), so that the
// conversion never stops early.
std::string convert(const char* to, const char* from, std::string_view in, std::string_view fallback,
                    std::size_t unit) {
  std::string out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  out.resize(in.size() * 2 + 16);
  char* src = const_cast<char*>(in.data());
  std::size_t src_left = in.size();
  std::size_t written = 0;
  while (src_left > 0) {
    char* dst = out.data() + written;
    std::size_t dst_left = out.size() - written;
    std::size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    written = out.size() - dst_left;
    if (r != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    // EILSEQ or EINVAL: skip one unit of input and write the fallback.
    if (out.size() - written < fallback.size() + 8) out.resize(out.size() * 2);
    std::memcpy(out.data() + written, fallback.data(), fallback.size());
    written += fallback.size();
    std::size_t skip = unit <= src_left ? unit : src_left;
    if (unit == 1) {
      // Skip the whole malformed UTF-8 fragment: the lead byte and any
      // continuation bytes that follow it.
      skip = 1;
      while (skip < src_left && (static_cast<unsigned char>(src[skip]) & 0xC0) == 0x80 && skip < 4) ++skip;
    }
    src += skip;
    src_left -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  out.resize(written);
  return out;
}

std::string_view up_to_nul(std::string_view s) {
  std::size_t nul = s.find('\0');
  return nul == std::string_view::npos ? s : s.substr(0, nul);
}

}  // namespace

std::string utf8_to_text(std::string_view bytes) {
  return std::string(up_to_nul(convert("CP936", "UTF-8", up_to_nul(bytes), "?", 1)));
}

std::string utf16_to_text(std::string_view utf16le_bytes) {
  std::size_t units = utf16le_bytes.size() / 2;
  std::size_t end = 0;
  while (end < units && (utf16le_bytes[2 * end] != 0 || utf16le_bytes[2 * end + 1] != 0)) ++end;
  return convert("CP936", "UTF-16LE", utf16le_bytes.substr(0, end * 2), "?", 2);
}

std::string text_to_utf8(std::string_view text) {
  return convert("UTF-8", "CP936", up_to_nul(text), "\xEF\xBF\xBD", 1);
}

}  // namespace velmora
