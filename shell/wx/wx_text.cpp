#include "shell/wx/wx_text.h"

#include "text/gbk_text.h"
#include "web/encoding.h"

namespace velmora {

wxString to_wx(std::string_view text) {
  std::string utf8 = text_to_utf8(text);
  return wxString::FromUTF8(utf8.data(), utf8.size());
}

wxString to_wx_label(std::string_view text) { return to_wx(replace_text(text, "\r\n", "\n")); }

std::string from_wx(const wxString& text) { return utf8_to_text(text.utf8_string()); }

}  // namespace velmora
