#pragma once
// Reading and writing one value of an INI settings file with the rules of the
// classic Windows profile-string functions, on any platform:
//  - "[section]" lines open a section; "key=value" lines inside it hold values;
//    section and key names compare with ASCII letter case ignored; the first
//    matching section and the first matching key in it count.
//  - Blanks around a line, before the "=" and after it are not part of the
//    name or the value; a value in matching double or single quotes loses them.
//  - Values are bytes (program text, GBK); nothing is converted.
// A write changes only the line of its key (or adds the key, or the section
// and the key, at the end) and keeps every other byte of the file. The new
// file replaces the old one in a single rename, so a reader never sees half a
// file. Nothing here throws.
#include <filesystem>
#include <string>
#include <string_view>

namespace velmora {

// The value of `key` in `section` of the INI text `content`; empty when the
// section or the key is missing.
std::string profile_value(std::string_view content, std::string_view section, std::string_view key);

// `content` with `key` in `section` set to `value`: the key's line rewritten
// in place, or a line appended to the section, or the section appended to the
// text. New lines use the line ending the text already uses (CR LF if none).
std::string with_profile_value(std::string_view content, std::string_view section, std::string_view key,
                               std::string_view value);

// The value of `key` in `section` of the file at `path`; empty when the file
// is missing, cannot be read or holds no such key.
std::string read_profile_string(const std::filesystem::path& path, std::string_view section,
                                std::string_view key);

// Sets `key` in `section` of the file at `path`, creating the file when it is
// missing. False when the file cannot be replaced (a read-only file, a folder
// without write access, a folder in the way); the old file is then untouched.
bool write_profile_string(const std::filesystem::path& path, std::string_view section, std::string_view key,
                          std::string_view value);

}  // namespace velmora
