#include "shell/wx/window_harness.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/evtloop.h>
#include <wx/listctrl.h>
#include <wx/uiaction.h>
#include <wx/statusbr.h>
#include <wx/webview.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "shell/wx/main_window.h"
#include "shell/wx/wx_text.h"
#include "shell/wx/wx_window_port.h"

namespace velmora {

bool start_window_toolkit() {
  static int argc = 1;
  static char name[] = "velmora-window-test";
  static char* argv[] = {name, nullptr};
  wxApp::SetInstance(new wxApp());
  return wxEntryStart(argc, argv) && wxTheApp->CallOnInit();
}

struct WindowHarness::Impl {
  WxWindowPort& port;
  MainWindow* window;
  wxGUIEventLoop loop;
};

WindowHarness::WindowHarness(Application& app, WxWindowPort& port)
    : impl_(new Impl{port, new MainWindow(app, port), {}}) {
  port.attach(impl_->window);
  impl_->window->Show();
}

WindowHarness::~WindowHarness() {
  impl_->port.attach(nullptr);
  impl_->window->Destroy();
  process_events_until([] { return false; }, 50);
}

bool WindowHarness::process_events_until(const std::function<bool()>& done, int timeout_ms) {
  wxEventLoopActivator active(&impl_->loop);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    wxTheApp->ProcessPendingEvents();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    impl_->loop.DispatchTimeout(5);
  }
}

void WindowHarness::run_on_other_thread(const std::function<void()>& work) {
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    work();
    finished = true;
    wxWakeUpIdle();
  });
  process_events_until([&] { return finished.load(); }, 120 * 1000);
  worker.join();
}

void WindowHarness::route_album_clicks(std::function<void(int)> clicked, std::function<void(int)> double_clicked) {
  impl_->window->album_clicked = std::move(clicked);
  impl_->window->album_double_clicked = std::move(double_clicked);
}

void WindowHarness::click_album_list(int row, bool double_click) {
  wxListCtrl* list = impl_->window->album_list;
  wxPoint point(20, list->GetClientSize().y - 10);
  wxRect rect;
  if (row >= 0 && list->GetItemRect(row, rect)) point = wxPoint(rect.x + 20, rect.y + rect.height / 2);
  wxUIActionSimulator pointer;
  pointer.MouseMove(list->ClientToScreen(point));
  process_events_until([] { return false; }, 100);
  if (double_click) {
    pointer.MouseDblClick();
  } else {
    pointer.MouseClick();
  }
  process_events_until([] { return false; }, 200);
}

std::string WindowHarness::status_text() const { return from_wx(impl_->window->GetStatusBar()->GetStatusText()); }

bool WindowHarness::enter_enabled() const { return impl_->window->enter_button->IsEnabled(); }

std::vector<HistoryMenuItem> WindowHarness::history_items() const { return impl_->window->history_items; }

std::string WindowHarness::clipboard_text() const {
  std::string text;
  if (wxTheClipboard->Open()) {
    wxTextDataObject data;
    if (wxTheClipboard->GetData(data)) text = from_wx(data.GetText());
    wxTheClipboard->Close();
  }
  return text;
}

std::string WindowHarness::preview_title() const {
  wxWebView* view = impl_->window->preview_browser;
  return view == nullptr ? std::string() : from_wx(view->GetCurrentTitle());
}

}  // namespace velmora
