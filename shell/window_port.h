#pragma once
// The one narrow interface through which the catalogue, the download and the
// update speak to the main window: the operations of its controls, the
// message box and quit services, the folder choice and the clipboard.
//
// Any thread may call any operation. The window carries a call from another
// thread onto the UI thread and waits for it; a call made while the window is
// closing returns at once with the default result. Texts cross as GBK.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

enum class MessageBoxButtons { ok, ok_cancel };
// message_box results: the pressed button's code minus 1.
inline constexpr int message_box_ok = 0;
inline constexpr int message_box_cancel = 1;

struct AlbumRow {
  std::string title;         // column 0
  std::int32_t album_number; // the row's item value
  std::string count_text;    // column 1
};

struct HistoryMenuItem {
  std::string text;  // the whole entry: address "|" owner name
  int command_id;    // 13145 + the entry's position
};

class WindowPort {
 public:
  virtual ~WindowPort() = default;

  // url_edit
  virtual std::string url_text() = 0;
  virtual void set_url_text(const std::string& text) = 0;
  // enter_button
  virtual void set_enter_enabled(bool enabled) = 0;
  // status_bar: replaces the whole text of its single part
  virtual void set_status_text(const std::string& text) = 0;

  // album_list
  virtual void delete_all_albums() = 0;
  // Appends a row with its column-0 text and item value; returns its index.
  virtual int append_album(const std::string& title, std::int32_t album_number) = 0;
  virtual void set_album_cell(int row, int column, const std::string& text) = 0;
  // Appends many rows in one trip to the UI thread (title, value and column 1).
  virtual void append_albums(const std::vector<AlbumRow>& rows) = 0;
  virtual int album_count() = 0;
  // 0 when the row does not exist.
  virtual std::int32_t album_value(int row) = 0;
  // At most 259 bytes; empty when the row does not exist.
  virtual std::string album_cell(int row, int column) = 0;

  // preview_browser: replaces the shown document with `page`.
  virtual void write_preview(const std::string& page) = 0;

  // The message box; owned_by_window makes the main window its owner.
  virtual int message_box(const std::string& text, const std::string& title, MessageBoxButtons buttons,
                          bool owned_by_window) = 0;
  // Asks the UI thread's loop to end; the program then exits as on a close.
  virtual void quit_program() = 0;

  // The folder dialog, owned by the window, only folders, `initial` selected
  // when it opens. nullopt when the user cancels.
  virtual std::optional<std::filesystem::path> choose_folder(const std::string& title,
                                                             const std::filesystem::path& initial) = 0;
  // Puts `text` on the system clipboard as plain text.
  virtual void set_clipboard_text(const std::string& text) = 0;

  // Replaces the items of history_menu. The window keeps its own copy, so a
  // rebuild never touches a menu that is being shown.
  virtual void set_history_menu(const std::vector<HistoryMenuItem>& items) = 0;
};

}  // namespace velmora
