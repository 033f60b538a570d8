#pragma once
// A WindowPort for tests: it keeps the state the real window would show (the
// address box, the button, the status text, the album list, the preview, the
// clipboard, the history menu) and records every call in order. Thread-safe,
// like the real window. message_box and choose_folder answer from scripts.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "shell/window_port.h"

namespace velmora::testing {

struct MessageBoxCall {
  std::string text;
  std::string title;
  MessageBoxButtons buttons;
  bool owned_by_window;
};

class RecordingWindow : public WindowPort {
 public:
  std::string url_text() override;
  void set_url_text(const std::string& text) override;
  void set_enter_enabled(bool enabled) override;
  void set_status_text(const std::string& text) override;
  void delete_all_albums() override;
  int append_album(const std::string& title, std::int32_t album_number) override;
  void set_album_cell(int row, int column, const std::string& text) override;
  void append_albums(const std::vector<AlbumRow>& rows) override;
  int album_count() override;
  std::int32_t album_value(int row) override;
  std::string album_cell(int row, int column) override;
  void write_preview(const std::string& page) override;
  int message_box(const std::string& text, const std::string& title, MessageBoxButtons buttons,
                  bool owned_by_window) override;
  void quit_program() override;
  std::optional<std::filesystem::path> choose_folder(const std::string& title,
                                                     const std::filesystem::path& initial) override;
  void set_clipboard_text(const std::string& text) override;
  void set_history_menu(const std::vector<HistoryMenuItem>& items) override;

  // Scripts: the answers of the next message boxes (OK when none is left) and
  // of the next folder dialogs (cancel when none is left).
  void answer_message_boxes(std::vector<int> answers);
  void answer_folder_dialogs(std::vector<std::optional<std::filesystem::path>> answers);

  // What the window shows now.
  bool enter_enabled() const;
  std::string status_text() const;
  std::vector<std::string> status_history() const;  // every status text, in order
  std::vector<AlbumRow> rows() const;
  std::string preview() const;
  std::string clipboard() const;
  std::vector<HistoryMenuItem> history_menu() const;
  std::vector<MessageBoxCall> message_boxes() const;
  std::vector<std::pair<std::string, std::filesystem::path>> folder_dialogs() const;
  bool quit_requested() const;
  // Every call, by name, in order ("set_status_text", "append_album", ...).
  std::vector<std::string> calls() const;

  // Waits until `condition` holds (checked after every call) or the time-out.
  bool wait_until(const std::function<bool()>& condition,
                  std::chrono::milliseconds timeout = std::chrono::seconds(30));

 private:
  void record(const char* name);  // caller holds mutex_
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string url_;
  bool enter_enabled_ = true;
  std::string status_ = "IDC_状态条";
  std::vector<std::string> status_history_;
  std::vector<AlbumRow> rows_;
  std::string preview_;
  std::string clipboard_;
  std::vector<HistoryMenuItem> history_;
  std::vector<MessageBoxCall> message_boxes_;
  std::deque<int> message_box_answers_;
  std::vector<std::pair<std::string, std::filesystem::path>> folder_dialogs_;
  std::deque<std::optional<std::filesystem::path>> folder_answers_;
  bool quit_ = false;
  std::vector<std::string> calls_;
};

}  // namespace velmora::testing
