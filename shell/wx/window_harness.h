#pragma once
// Runs the real main window inside a test process, so that tests can use the
// window interface exactly as the catalogue, download and update code do (from
// the UI thread and from threads of their own) and check what the window then
// shows. The calling thread becomes the UI thread. Free of toolkit types, so
// tests need no toolkit headers.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shell/window_port.h"

namespace velmora {

struct Application;
class WxWindowPort;

// Starts the toolkit on the calling thread; false when there is no display.
bool start_window_toolkit();

class WindowHarness {
 public:
  // Builds the main window for `app` (whose window is `port`) and shows it.
  WindowHarness(Application& app, WxWindowPort& port);
  ~WindowHarness();
  WindowHarness(const WindowHarness&) = delete;
  WindowHarness& operator=(const WindowHarness&) = delete;

  // Runs `work` on a thread of its own while this thread handles the
  // window's events; returns when `work` has returned.
  void run_on_other_thread(const std::function<void()>& work);
  // Handles the window's events until `done` holds or `timeout_ms` passed;
  // false on time-out.
  bool process_events_until(const std::function<bool()>& done, int timeout_ms);

  // Sends album_list's single and double clicks (row index, -1: no row) to
  // these instead of the album preview and the album download.
  void route_album_clicks(std::function<void(int)> clicked, std::function<void(int)> double_clicked);
  // Clicks (once, or twice in quick succession) with the X server's own
  // pointer on row `row` of album_list, or on its empty area below the rows
  // when `row` is -1, and handles the events that follow for a moment.
  void click_album_list(int row, bool double_click);

  // What the window shows now.
  std::string status_text() const;
  bool enter_enabled() const;
  std::vector<HistoryMenuItem> history_items() const;
  std::string clipboard_text() const;  // GBK
  // The title of the page the preview shows (GBK).
  std::string preview_title() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
