#include "shell/cut_text.h"

#include "text/gbk_text.h"

namespace velmora {

std::string cut_text(std::string_view text, std::size_t max_bytes) {
  std::size_t end = 0;
  while (end < text.size()) {
    bool pair = is_gbk_lead_byte(static_cast<unsigned char>(text[end])) && end + 1 < text.size();
    std::size_t width = pair ? 2 : 1;
    if (end + width > max_bytes) break;
    end += width;
  }
  return std::string(text.substr(0, end));
}

}  // namespace velmora
