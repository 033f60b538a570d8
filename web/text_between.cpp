#include "web/text_between.h"

#include "text/gbk_text.h"

namespace velmora {

std::string text_between(std::string_view text, std::string_view start_marker, std::string_view end_marker,
                         bool use_end_marker, bool ignore_case, int keep, bool start_from_end) {
  std::size_t s = start_from_end ? find_last_text(text, start_marker, ignore_case)
                                 : find_text(text, start_marker, 0, ignore_case);
  std::size_t e = npos;
  if (s != npos) {
    e = use_end_marker ? find_text(text, end_marker, s + start_marker.size(), ignore_case) : text.size();
  }
  std::string_view raw = (s == npos || e == npos) ? std::string_view{} : text.substr(s, e - s);
  std::string_view piece = raw.size() >= start_marker.size() ? raw.substr(start_marker.size()) : std::string_view{};
  switch (keep) {
    case 1: return std::string(raw) + std::string(end_marker);
    case 2: return std::string(raw);
    case 3: return std::string(piece) + std::string(end_marker);
    default: return std::string(piece);
  }
}

}  // namespace velmora
