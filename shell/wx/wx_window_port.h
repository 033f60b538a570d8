#pragma once
// The window interface of the real window. A call made on the UI thread is
// carried out at once; a call from another thread is queued to the UI thread
// and the caller waits for it. Once the program is ending, calls return at
// once with their default result, so no thread waits on a loop that will not
// run again.
#include <atomic>
#include <chrono>
#include <future>
#include <memory>

#include "shell/window_port.h"

namespace velmora {

class MainWindow;

class WxWindowPort : public WindowPort {
 public:
  // Before a window is attached (and after it is gone) every operation does
  // nothing and gives its default result.
  void attach(MainWindow* window) { window_ = window; }

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

  // True once quit_program was called (the start-up checks it before the
  // window is first shown).
  bool quit_requested() const { return quit_requested_; }

  // From now on every call returns at once with its default result, and
  // threads waiting for the UI thread give up. UI thread.
  void release_waiting_callers() { exiting_ = true; }

  // Ends the process now: waiting callers are released, the window goes, the
  // process exits with code 0 without waiting for any thread. UI thread.
  [[noreturn]] void end_program();

 private:
  // Runs `work` on the UI thread and hands back its result; `fallback` when
  // the program is ending.
  template <class Work>
  auto on_ui_thread(Work work, decltype(work()) fallback) -> decltype(work());

  MainWindow* window_ = nullptr;
  std::atomic<bool> exiting_{false};
  std::atomic<bool> quit_requested_{false};
};

}  // namespace velmora
