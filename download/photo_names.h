#pragma once
// How the album download names what it writes to disk: the album folder made
// from an album title, and the photo files inside it. Pure functions; none of
// them touches the disk.
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// The album folder's name (UTF-8, for the file system) for an album title in
// program text. A title that is already a sound folder name is kept as it is.
// Otherwise: path separators, control characters and the characters Windows
// file systems forbid (< > : " / \ | ? *) become "_"; trailing dots and blanks
// go; a reserved device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, with or
// without an extension, in any letter case; also COM¹-³, LPT¹-³) gets "_"
// in front; the name is
// cut on a character boundary to at most `album_folder_name_max_bytes` bytes
// (file systems allow 255 bytes per name); and a title that leaves nothing ("", ".", "..", "  ") gives "相册" + the
// album number. The result is always exactly one path component: never empty,
// never "." or "..", never holding a separator.
std::string album_folder_name(std::string_view title, std::int32_t album_number);
inline constexpr std::size_t album_folder_name_max_bytes = 255;

// The file extension taken from a picture address: its last four bytes (the
// whole address when shorter), keeping only ASCII letters, digits, ".", "-"
// and "_", without trailing dots. "…/big.jpg" gives ".jpg", "…/a.jpeg" gives
// "jpeg", "…/x/..\\" gives "x". A separator, a forbidden character or a
// broken double-byte character never reaches the file system.
std::string picture_extension(std::string_view address);

// The five-digit base name of photo `photo_index`: the last five characters
// of "00000" + the index ("00007", "01234"; 100007 gives "00007").
std::string photo_base_name(std::int32_t photo_index);

// The name tried when the base name is taken: base + "-" + the last three
// digits of "0000" + n ("00007-001"). n runs from 1 to `last_photo_suffix`.
std::string suffixed_photo_name(std::string_view base_name, int n);
inline constexpr int last_photo_suffix = 999;

}  // namespace velmora
