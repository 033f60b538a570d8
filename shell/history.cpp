#include "shell/history.h"

#include <mutex>
#include <string_view>
#include <vector>

#include "shell/application.h"
#include "shell/ini_file.h"
#include "text/gbk_text.h"

namespace velmora {
namespace {

constexpr std::string_view history_section = "ls";
constexpr std::string_view history_key = "ls";
constexpr std::string_view entry_separator = "|*|";
// Positions of the split value that count; the first is the empty piece
// before the leading separator, so a value this program wrote shows 19.
constexpr int history_positions = 20;

// The entry as it can be stored: cfg.ini keeps one value on one line, and
// text ends at a zero byte.
std::string storable_entry(std::string_view entry) {
  std::string stored(entry.substr(0, entry.find('\0')));
  for (char& c : stored) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return stored;
}

}  // namespace

void remember_address(Application& app, const std::string& entry) {
  const std::string new_entry = storable_entry(entry);
  std::vector<HistoryMenuItem> items;
  {
    // Held for the whole read-change-write of the file, so two callers never
    // interleave; never held while the window is called.
    std::lock_guard lock(app.shell.history_mutex);
    std::string history_text = read_profile_string(app.shell.settings_path, history_section, history_key);
    // An entry already in the history (even inside a longer one) keeps its
    // place.
    if (!new_entry.empty() && find_text(history_text, new_entry) == npos) {
      history_text = new_entry + std::string(entry_separator) + history_text;
    }
    std::string normalised;
    std::vector<std::string> pieces = split_text(history_text, entry_separator);
    for (int position = 1; position <= static_cast<int>(pieces.size()) && position <= history_positions;
         ++position) {
      const std::string& piece = pieces[position - 1];
      if (piece.empty()) continue;
      normalised.append(entry_separator).append(piece);
      items.push_back(HistoryMenuItem{piece, history_id_base + position});
    }
    // An empty history writes nothing: a file that holds none keeps what it
    // holds. A failed write (read-only file) leaves the menu as built.
    if (!normalised.empty()) {
      write_profile_string(app.shell.settings_path, history_section, history_key, normalised);
    }
    app.shell.history_items = items;
  }
  app.window.set_history_menu(items);
}

void pick_history_item(Application& app, int command_id) {
  std::string text;
  {
    std::lock_guard lock(app.shell.history_mutex);
    for (const HistoryMenuItem& item : app.shell.history_items) {
      if (item.command_id == command_id) {
        text = item.text;
        break;
      }
    }
  }
  // address "|" owner name; an empty owner name (one piece) or one that holds
  // "|" (three or more) cannot be told apart from the address, so nothing
  // happens.
  std::vector<std::string> pieces = split_text(text, "|");
  if (pieces.size() == 2) app.window.set_url_text(pieces[0]);
}

}  // namespace velmora
