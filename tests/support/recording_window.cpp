#include "support/recording_window.h"

#include <condition_variable>

namespace velmora::testing {

void RecordingWindow::record(const char* name) {
  calls_.emplace_back(name);
  changed_.notify_all();
}

std::string RecordingWindow::url_text() {
  std::lock_guard lock(mutex_);
  return url_;
}
void RecordingWindow::set_url_text(const std::string& text) {
  std::lock_guard lock(mutex_);
  url_ = text;
  record("set_url_text");
}
void RecordingWindow::set_enter_enabled(bool enabled) {
  std::lock_guard lock(mutex_);
  enter_enabled_ = enabled;
  record(enabled ? "enable_enter" : "disable_enter");
}
void RecordingWindow::set_status_text(const std::string& text) {
  std::lock_guard lock(mutex_);
  status_ = text;
  status_history_.push_back(text);
  record("set_status_text");
}
void RecordingWindow::delete_all_albums() {
  std::lock_guard lock(mutex_);
  rows_.clear();
  record("delete_all_albums");
}
int RecordingWindow::append_album(const std::string& title, std::int32_t album_number) {
  std::lock_guard lock(mutex_);
  rows_.push_back(AlbumRow{title, album_number, {}});
  record("append_album");
  return static_cast<int>(rows_.size()) - 1;
}
void RecordingWindow::set_album_cell(int row, int column, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (row >= 0 && row < static_cast<int>(rows_.size())) {
    if (column == 0) rows_[row].title = text;
    if (column == 1) rows_[row].count_text = text;
  }
  record("set_album_cell");
}
void RecordingWindow::append_albums(const std::vector<AlbumRow>& rows) {
  std::lock_guard lock(mutex_);
  rows_.insert(rows_.end(), rows.begin(), rows.end());
  record("append_albums");
}
int RecordingWindow::album_count() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(rows_.size());
}
std::int32_t RecordingWindow::album_value(int row) {
  std::lock_guard lock(mutex_);
  return row >= 0 && row < static_cast<int>(rows_.size()) ? rows_[row].album_number : 0;
}
std::string RecordingWindow::album_cell(int row, int column) {
  std::lock_guard lock(mutex_);
  if (row < 0 || row >= static_cast<int>(rows_.size())) return {};
  std::string text = column == 0 ? rows_[row].title : column == 1 ? rows_[row].count_text : std::string();
  if (text.size() > 259) text.resize(259);
  return text;
}
void RecordingWindow::write_preview(const std::string& page) {
  std::lock_guard lock(mutex_);
  preview_ = page;
  record("write_preview");
}
int RecordingWindow::message_box(const std::string& text, const std::string& title, MessageBoxButtons buttons,
                                 bool owned_by_window) {
  std::lock_guard lock(mutex_);
  message_boxes_.push_back(MessageBoxCall{text, title, buttons, owned_by_window});
  record("message_box");
  if (message_box_answers_.empty()) return message_box_ok;
  int answer = message_box_answers_.front();
  message_box_answers_.pop_front();
  return answer;
}
void RecordingWindow::quit_program() {
  std::lock_guard lock(mutex_);
  quit_ = true;
  record("quit_program");
}
std::optional<std::filesystem::path> RecordingWindow::choose_folder(const std::string& title,
                                                                    const std::filesystem::path& initial) {
  std::lock_guard lock(mutex_);
  folder_dialogs_.emplace_back(title, initial);
  record("choose_folder");
  if (folder_answers_.empty()) return std::nullopt;
  auto answer = folder_answers_.front();
  folder_answers_.pop_front();
  return answer;
}
void RecordingWindow::set_clipboard_text(const std::string& text) {
  std::lock_guard lock(mutex_);
  clipboard_ = text;
  record("set_clipboard_text");
}
void RecordingWindow::set_history_menu(const std::vector<HistoryMenuItem>& items) {
  std::lock_guard lock(mutex_);
  history_ = items;
  record("set_history_menu");
}

void RecordingWindow::answer_message_boxes(std::vector<int> answers) {
  std::lock_guard lock(mutex_);
  message_box_answers_.assign(answers.begin(), answers.end());
}
void RecordingWindow::answer_folder_dialogs(std::vector<std::optional<std::filesystem::path>> answers) {
  std::lock_guard lock(mutex_);
  folder_answers_.assign(answers.begin(), answers.end());
}

bool RecordingWindow::enter_enabled() const {
  std::lock_guard lock(mutex_);
  return enter_enabled_;
}
std::string RecordingWindow::status_text() const {
  std::lock_guard lock(mutex_);
  return status_;
}
std::vector<std::string> RecordingWindow::status_history() const {
  std::lock_guard lock(mutex_);
  return status_history_;
}
std::vector<AlbumRow> RecordingWindow::rows() const {
  std::lock_guard lock(mutex_);
  return rows_;
}
std::string RecordingWindow::preview() const {
  std::lock_guard lock(mutex_);
  return preview_;
}
std::string RecordingWindow::clipboard() const {
  std::lock_guard lock(mutex_);
  return clipboard_;
}
std::vector<HistoryMenuItem> RecordingWindow::history_menu() const {
  std::lock_guard lock(mutex_);
  return history_;
}
std::vector<MessageBoxCall> RecordingWindow::message_boxes() const {
  std::lock_guard lock(mutex_);
  return message_boxes_;
}
std::vector<std::pair<std::string, std::filesystem::path>> RecordingWindow::folder_dialogs() const {
  std::lock_guard lock(mutex_);
  return folder_dialogs_;
}
bool RecordingWindow::quit_requested() const {
  std::lock_guard lock(mutex_);
  return quit_;
}
std::vector<std::string> RecordingWindow::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

bool RecordingWindow::wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    std::unique_lock lock(mutex_);
    if (changed_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(50))) ==
            std::cv_status::timeout &&
        std::chrono::steady_clock::now() >= deadline) {
      lock.unlock();
      return condition();
    }
  }
  return true;
}

}  // namespace velmora::testing
