#include "shell/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <system_error>
#include <vector>

namespace velmora {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// One line of the file: [start, end) is its text without the line ending,
// `next` where the following line starts.
struct Line {
  std::size_t start;
  std::size_t end;
  std::size_t next;
};

std::vector<Line> lines_of(std::string_view content) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  // An editor's UTF-8 byte order mark is not part of the first line.
  if (content.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  while (pos < content.size()) {
    std::size_t newline = content.find('\n', pos);
    std::size_t next = newline == std::string_view::npos ? content.size() : newline + 1;
    std::size_t end = newline == std::string_view::npos ? content.size() : newline;
    if (end > pos && content[end - 1] == '\r') --end;
    lines.push_back(Line{pos, end, next});
    pos = next;
  }
  return lines;
}

// The section name of a "[name]" line, or nullopt for any other line.
std::optional<std::string_view> section_name(std::string_view line) {
  line = trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  std::size_t close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return line.substr(1, close - 1);
}

// The key name of a "key=value" line (a line without "=" is a key of its own).
std::string_view key_name(std::string_view line) {
  line = trim(line);
  return trim(line.substr(0, line.find('=')));
}

// Where the section and the key stand in the file.
struct Location {
  std::optional<std::size_t> section;   // index of the section's header line
  std::optional<std::size_t> key;       // index of the key's line
  std::size_t last_filled = 0;          // last non-blank line of the section
};

Location locate(std::string_view content, const std::vector<Line>& lines, std::string_view section,
                std::string_view key) {
  Location where;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view text = content.substr(lines[i].start, lines[i].end - lines[i].start);
    if (auto name = section_name(text)) {
      if (where.section) break;  // the first matching section ends here
      if (same_name(*name, section)) where.section = where.last_filled = i;
      continue;
    }
    if (!where.section) continue;
    if (!trim(text).empty()) where.last_filled = i;
    if (!where.key && same_name(key_name(text), key)) where.key = i;
  }
  return where;
}

std::string_view line_ending_of(std::string_view content) {
  if (content.find("\r\n") != std::string_view::npos) return "\r\n";
  if (content.find('\n') != std::string_view::npos) return "\n";
  return "\r\n";
}

// A line break inside a value would end its line and start another in the
// file; it is stored as a blank. The value ends at a zero byte, as text does.
std::string storable_value(std::string_view value) {
  std::string stored(value.substr(0, value.find('\0')));
  for (char& c : stored) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return stored;
}

std::optional<std::string> read_whole_file(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string content;
  char buffer[16384];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return content;
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

}  // namespace

std::string profile_value(std::string_view content, std::string_view section, std::string_view key) {
  auto lines = lines_of(content);
  Location where = locate(content, lines, section, key);
  if (!where.key) return {};
  const Line& line = lines[*where.key];
  std::string_view text = trim(content.substr(line.start, line.end - line.start));
  std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) return {};
  std::string_view value = trim(text.substr(equals + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

std::string with_profile_value(std::string_view content, std::string_view section, std::string_view key,
                               std::string_view value) {
  const std::string stored = storable_value(value);
  const std::string_view eol = line_ending_of(content);
  auto lines = lines_of(content);
  Location where = locate(content, lines, section, key);
  std::string result;
  result.reserve(content.size() + key.size() + stored.size() + section.size() + 8);

  if (where.key) {
    // Only the value changes: the key as spelled in the file, its "=" with
    // the blanks around it, and the line's own ending stay.
    const Line& line = lines[*where.key];
    std::string_view text = content.substr(line.start, line.end - line.start);
    std::size_t equals = text.find('=');
    result.append(content.substr(0, line.start));
    if (equals == std::string_view::npos) {
      std::size_t name_end = text.find_last_not_of(" \t");
      result.append(text.substr(0, name_end == std::string_view::npos ? 0 : name_end + 1)).append("=");
    } else {
      std::size_t value_start = equals + 1;
      while (value_start < text.size() && (text[value_start] == ' ' || text[value_start] == '\t')) ++value_start;
      result.append(text.substr(0, value_start));
    }
    result.append(stored);
    result.append(content.substr(line.end));
    return result;
  }

  std::string new_line = std::string(key) + "=" + stored;
  if (where.section) {
    // After the section's last filled line, so blank lines that separate it
    // from the next section stay where they are.
    const Line& after = lines[where.last_filled];
    result.append(content.substr(0, after.next));
    if (after.next == after.end) result.append(eol);  // that line had no ending
    result.append(new_line).append(eol);
    result.append(content.substr(after.next));
    return result;
  }

  result.append(content);
  if (!content.empty() && content.back() != '\n') result.append(eol);
  result.append("[").append(section).append("]").append(eol);
  result.append(new_line).append(eol);
  return result;
}

std::string read_profile_string(const std::filesystem::path& path, std::string_view section,
                                 std::string_view key) {
  auto content = read_whole_file(path);
  if (!content) return {};
  return profile_value(*content, section, key);
}

bool write_profile_string(const std::filesystem::path& path, std::string_view section, std::string_view key,
                          std::string_view value) {
  std::error_code ec;
  // A link to the settings file is followed: the file it names is replaced,
  // the link stays.
  std::filesystem::path target = path;
  if (std::filesystem::is_symlink(path, ec)) {
    auto resolved = std::filesystem::weakly_canonical(path, ec);
    if (ec) return false;
    target = resolved;
  }

  std::string content;
  struct stat old_info {};
  const bool exists = ::stat(target.c_str(), &old_info) == 0;
  if (exists) {
    if (!S_ISREG(old_info.st_mode)) return false;
    // A read-only file stays as it is, even for a user (root) whom the
    // system would let write it, and even though a rename could replace it.
    if ((old_info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(target.c_str(), W_OK) != 0) {
      return false;
    }
    auto old_content = read_whole_file(target);
    if (!old_content) return false;  // writing would lose what we cannot read
    content = std::move(*old_content);
  } else if (errno != ENOENT) {
    return false;
  }

  std::string updated = with_profile_value(content, section, key, value);
  if (exists && updated == content) return true;

  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::string temp_name = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  int fd = ::mkstemp(temp_name.data());
  if (fd < 0) return false;
  bool ok = write_all(fd, updated);
  if (ok) {
    mode_t mode = exists ? (old_info.st_mode & 07777) : 0644;
    ok = ::fchmod(fd, mode) == 0;
    // Keeps the owner when we may (as root); otherwise the file becomes ours.
    if (exists && ::fchown(fd, old_info.st_uid, old_info.st_gid) != 0) {
    }
  }
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temp_name.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temp_name.c_str());
  return ok;
}

}  // namespace velmora
