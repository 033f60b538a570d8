#pragma once
// Small helpers shared by the tests.
#include <filesystem>
#include <string>
#include <string_view>

namespace velmora::testing {

// A u8"" literal as UTF-8 bytes in a std::string (narrow literals in this
// project are GBK).
inline std::string u8s(std::u8string_view text) { return std::string(text.begin(), text.end()); }

// A fresh, empty folder under the system's temporary folder, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, std::string_view bytes);

}  // namespace velmora::testing
