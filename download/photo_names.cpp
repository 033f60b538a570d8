#include "download/photo_names.h"

#include <array>

#include "text/gbk_text.h"
#include "web/encoding.h"

namespace velmora {
namespace {

bool is_forbidden_in_names(unsigned char c) {
  if (c < 0x20 || c == 0x7F) return true;
  switch (c) {
    case '<': case '>': case ':': case '"': case '/': case '\\': case '|': case '?': case '*':
      return true;
    default:
      return false;
  }
}

// Drops whole UTF-8 characters from the end until `name` fits in `max_bytes`.
void cut_to_bytes(std::string& name, std::size_t max_bytes) {
  while (name.size() > max_bytes) {
    std::size_t end = name.size() - 1;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    name.resize(end);
  }
}

// Windows drops trailing dots and blanks from a name, so "a." and "a" would
// be the same folder there, and "." or ".." would not be a folder of its own.
void strip_trailing_dots_and_blanks(std::string& name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
}

// Device names that Windows opens as devices whatever the extension: a folder
// named "con" or "NUL.txt" cannot be created there.
bool is_reserved_device_name(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  std::string lower = ascii_lower(stem);
  static constexpr std::array<std::string_view, 4> plain = {"con", "prn", "aux", "nul"};
  for (std::string_view reserved : plain)
    if (lower == reserved) return true;
  if (lower.size() < 4 || (lower.compare(0, 3, "com") != 0 && lower.compare(0, 3, "lpt") != 0)) return false;
  std::string_view number = std::string_view(lower).substr(3);
  if (number.size() == 1 && number[0] >= '0' && number[0] <= '9') return true;
  // Superscript one, two and three (UTF-8) count as digits there too.
  return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

}  // namespace

std::string album_folder_name(std::string_view title, std::int32_t album_number) {
  std::string utf8 = text_to_utf8(title);
  std::string name;
  name.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    // Control characters of the Latin-1 block (U+0080-U+009F) are as unfit
    // for a name as the ASCII ones.
    if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) < 0xA0) {
      name += '_';
      ++i;
    } else if (c < 0x80 && is_forbidden_in_names(c)) {
      name += '_';
    } else {
      name += static_cast<char>(c);
    }
  }
  cut_to_bytes(name, album_folder_name_max_bytes);
  strip_trailing_dots_and_blanks(name);
  if (name.empty()) return text_to_utf8("相册" + std::to_string(album_number));
  if (is_reserved_device_name(name)) {
    name.insert(name.begin(), '_');
    cut_to_bytes(name, album_folder_name_max_bytes);
    strip_trailing_dots_and_blanks(name);
  }
  return name;
}

std::string picture_extension(std::string_view address) {
  std::string_view tail = address.size() > 4 ? address.substr(address.size() - 4) : address;
  std::string extension;
  for (char ch : tail) {
    unsigned char c = static_cast<unsigned char>(ch);
    bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                c == '-' || c == '_';
    if (safe) extension += ch;
  }
  while (!extension.empty() && extension.back() == '.') extension.pop_back();
  return extension;
}

std::string photo_base_name(std::int32_t photo_index) {
  std::string padded = "00000" + std::to_string(photo_index);
  return padded.substr(padded.size() - 5);
}

std::string suffixed_photo_name(std::string_view base_name, int n) {
  std::string padded = "0000" + std::to_string(n);
  return std::string(base_name) + "-" + padded.substr(padded.size() - 3);
}

}  // namespace velmora
