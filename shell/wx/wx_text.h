#pragma once
// The one place where program text (GBK) meets the toolkit's strings.
#include <wx/string.h>

#include <string>
#include <string_view>

namespace velmora {

// Program text to a toolkit string.
wxString to_wx(std::string_view text);

// The same for a label or a message: "\r\n" line breaks become "\n", the
// only break the toolkit's labels know.
wxString to_wx_label(std::string_view text);

// A toolkit string to program text; what GBK lacks becomes "?".
std::string from_wx(const wxString& text);

}  // namespace velmora
