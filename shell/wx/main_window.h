#pragma once
// The program's one window: the address box with its history link, the go
// and help buttons, the album list, the preview view and the status bar, laid
// out at fixed places. It turns its toolkit's events into the program's
// handlers and does nothing else; the window interface (wx_window_port.h)
// operates its controls.
#include <wx/frame.h>

#include <functional>
#include <string>
#include <vector>

#include "shell/window_port.h"

class wxButton;
class wxGenericHyperlinkCtrl;
class wxListCtrl;
class wxStaticText;
class wxTextCtrl;
class wxWebView;

namespace velmora {

struct Application;
class WxWindowPort;

class MainWindow : public wxFrame {
 public:
  // Creates the window and every control, hidden; binds every event.
  MainWindow(Application& app, WxWindowPort& port);

  // The controls; a control the toolkit could not create is null.
  wxStaticText* address_label = nullptr;
  wxGenericHyperlinkCtrl* history_link = nullptr;
  wxTextCtrl* url_edit = nullptr;
  wxButton* enter_button = nullptr;
  wxButton* help_button = nullptr;
  wxListCtrl* album_list = nullptr;
  wxWebView* preview_browser = nullptr;

  // Where single and double clicks on album_list go, with the row index (-1:
  // no row): the album preview and the album download.
  std::function<void(int)> album_clicked;
  std::function<void(int)> album_double_clicked;

  // The items history_menu is built from when it opens (the window's own
  // copy: a rebuild never touches a menu that is being shown).
  std::vector<HistoryMenuItem> history_items;

 private:
  void create_controls();
  void bind_events();
  void bind_album_list_clicks();
  void show_history_menu();

  Application& app_;
  WxWindowPort& port_;
  // A single click is reported when the button comes up, with the row under
  // the press; a double click cancels the pending single click.
  bool click_pending_ = false;
  long click_row_ = -1;
};

}  // namespace velmora
