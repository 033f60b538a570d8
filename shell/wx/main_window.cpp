#include "shell/wx/main_window.h"

#include <dlfcn.h>

#include <wx/button.h>
#include <wx/hyperlink.h>
#include <wx/generic/hyperlink.h>
#include <wx/iconbndl.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/settings.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>
#include <wx/webview.h>

#include <cmath>

#include "catalogue/address_check.h"
#include "catalogue/album_preview.h"
#include "download/album_download.h"
#include "resources/velmora_icon_16.xpm"
#include "resources/velmora_icon_32.xpm"
#include "resources/velmora_icon_48.xpm"
#include "shell/application.h"
#include "shell/events.h"
#include "shell/history.h"
#include "shell/wx/wx_text.h"
#include "shell/wx/wx_window_port.h"

namespace velmora {
namespace {

// The layout is drawn in dialog units; at the window's font one unit is one
// and a half pixels each way.
int du(double units) { return static_cast<int>(std::lround(units * 1.5)); }
wxRect du_rect(double x, double y, double width, double height) {
  return wxRect(du(x), du(y), du(width), du(height));
}

constexpr int outer_width = 450;
constexpr int inside_height = 326;  // 217 units
constexpr int list_bottom = 55 + 240;

// The preview view (always the WebKit one) shows pages we write ourselves and
// the update server's banner; neither needs scripts, so the view runs none.
// The web engine is loaded with the view; its two settings calls are looked
// up there rather than adding a build dependency on its headers.
void turn_off_scripts(wxWebView* view) {
  if (view == nullptr || view->GetNativeBackend() == nullptr) return;
  using GetSettings = void* (*)(void*);
  using SetFlag = void (*)(void*, int);
  auto get_settings = reinterpret_cast<GetSettings>(dlsym(RTLD_DEFAULT, "webkit_web_view_get_settings"));
  auto enable_scripts = reinterpret_cast<SetFlag>(dlsym(RTLD_DEFAULT, "webkit_settings_set_enable_javascript"));
  if (get_settings == nullptr || enable_scripts == nullptr) return;
  if (void* settings = get_settings(view->GetNativeBackend())) enable_scripts(settings, 0);
}

}  // namespace

MainWindow::MainWindow(Application& app, WxWindowPort& port)
    : wxFrame(nullptr, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize,
              wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX),
      album_clicked([&app](int row) { show_album_preview(app, row); }),
      album_double_clicked([&app](int row) { run_album_download(app, row); }),
      app_(app),
      port_(port) {
  wxIconBundle icons;
  icons.AddIcon(wxIcon(velmora_icon_48));
  icons.AddIcon(wxIcon(velmora_icon_32));
  icons.AddIcon(wxIcon(velmora_icon_16));
  SetIcons(icons);
  SetTitle(wxString("Velmora") + wxString(current_version));
  create_controls();
  bind_events();

  // The window's inside is 217 units high, status bar included (the
  // toolkit counts the status bar out of the client area); the controls keep
  // their room if the status bar is taller than usual.
  int status_height = GetStatusBar() != nullptr ? GetStatusBar()->GetBestSize().y : 0;
  SetClientSize(outer_width, std::max(inside_height - status_height, list_bottom + 6));
  // The outer width is what counts; any frame the desktop adds comes off the
  // client area.
  SetSize(outer_width, GetSize().y);
  SetMinSize(GetSize());
  SetMaxSize(GetSize());
  Centre(wxBOTH);
}

void MainWindow::create_controls() {
  auto* panel = new wxPanel(this, wxID_ANY);
  const wxFont gui_font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);

  // The template's own font, kept by the label alone.
  wxRect r = du_rect(12, 15, 27, 10);
  address_label = new wxStaticText(panel, 1001, to_wx("网址："), r.GetPosition(), r.GetSize(), wxALIGN_LEFT);
  address_label->SetFont(wxFont(wxFontInfo(9).FaceName(to_wx("宋体"))));

  // Created in the order the user tabs through them: the address box and the
  // two buttons are tab stops, the link, the list and the preview are not.
  r = du_rect(36, 15, 18, 10);
  history_link = new wxGenericHyperlinkCtrl(panel, 1002, to_wx("历史"), wxString(), r.GetPosition(),
                                            r.GetSize(), wxHL_ALIGN_LEFT | wxBORDER_NONE);
  history_link->SetFont(gui_font);
  history_link->SetBackgroundColour(panel->GetBackgroundColour());
  // A link that opens a menu is never "visited".
  history_link->SetVisitedColour(history_link->GetNormalColour());
  history_link->DisableFocusFromKeyboard();

  r = du_rect(54, 12, 171, 15);
  url_edit = new wxTextCtrl(panel, 1003, wxString(), r.GetPosition(), r.GetSize(), wxBORDER_SUNKEN);
  url_edit->SetFont(gui_font);
  url_edit->SetBackgroundColour(*wxWHITE);

  r = du_rect(231, 12, 33, 15);
  enter_button = new wxButton(panel, 1004, to_wx("进入"), r.GetPosition(), r.GetSize());
  enter_button->SetFont(gui_font);

  r = du_rect(267, 12, 24, 15);
  help_button = new wxButton(panel, 1006, to_wx("帮助"), r.GetPosition(), r.GetSize());
  help_button->SetFont(gui_font);

  CreateStatusBar(1);
  GetStatusBar()->SetFont(gui_font);
  SetStatusText(to_wx("IDC_状态条"));

  album_list = new wxListCtrl(panel, wxID_ANY, wxPoint(8, 55), wxSize(300, 240),
                              wxLC_REPORT | wxLC_HRULES | wxLC_VRULES | wxBORDER_SUNKEN);
  album_list->SetFont(gui_font);
  album_list->AppendColumn(to_wx("相册标题"), wxLIST_FORMAT_LEFT, 200);
  album_list->AppendColumn(to_wx("图片数量"), wxLIST_FORMAT_LEFT, 70);
  album_list->DisableFocusFromKeyboard();

  if (wxWebView::IsBackendAvailable(wxWebViewBackendWebKit)) {
    preview_browser = wxWebView::New(panel, wxID_ANY, wxString(), wxPoint(315, 55), wxSize(120, 240),
                                     wxWebViewBackendWebKit, wxBORDER_NONE);
  }
  if (preview_browser != nullptr) {
    turn_off_scripts(preview_browser);
    preview_browser->SetFont(gui_font);
    preview_browser->DisableFocusFromKeyboard();
    // The window does not wait for the banner; a failure shows in the view.
    preview_browser->LoadURL(
        to_wx("http://" + app_.hosts.update_site + "/quillbay/velmoraget/banner.htm"));
  }
}

void MainWindow::bind_events() {
  bind_album_list_clicks();

  history_link->Bind(wxEVT_HYPERLINK, [this](wxHyperlinkEvent&) { show_history_menu(); });

  // Enter is taken on its release, whatever the modifiers; its press does
  // nothing in this window (there is no default button), and Esc neither.
  url_edit->Bind(wxEVT_KEY_UP, [this](wxKeyEvent& event) {
    int key = event.GetKeyCode();
    if (key == WXK_NUMPAD_ENTER) key = WXK_RETURN;
    int modifiers = (event.ControlDown() ? modifier_ctrl : 0) | (event.ShiftDown() ? modifier_shift : 0) |
                    (event.AltDown() ? modifier_alt : 0);
    if (!address_key_up(app_, key == WXK_RETURN ? key_code_enter : key, modifiers)) event.Skip();
  });

  enter_button->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { check_album_address(app_); });
  help_button->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { show_help(app_); });

  // Every menu command: the history menu's items carry their ids.
  Bind(wxEVT_MENU, [this](wxCommandEvent& event) { pick_history_item(app_, event.GetId()); });

  // Closing ends the program at once, background work or not.
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { port_.end_program(); });
}

void MainWindow::bind_album_list_clicks() {
  // The list's rows live in an inner window of the list; its mouse events are
  // taken there, so a click on the row that is already selected still counts
  // (a selection event would not come). The inner window is the taller of
  // the list's children; the other is the column header.
  wxWindow* rows = nullptr;
  for (wxWindow* child : album_list->GetChildren()) {
    if (rows == nullptr || child->GetSize().y > rows->GetSize().y) rows = child;
  }
  if (rows == nullptr) rows = album_list;

  auto row_at = [this](const wxPoint& point) {
    int flags = 0;
    long row = album_list->HitTest(point, flags);
    return (row >= 0 && (flags & wxLIST_HITTEST_ONITEM) != 0) ? row : -1L;
  };
  // The handlers run after the list has finished with the mouse event (they
  // may open a dialog).
  rows->Bind(wxEVT_LEFT_DOWN, [this, row_at](wxMouseEvent& event) {
    click_pending_ = true;
    click_row_ = row_at(event.GetPosition());
    event.Skip();
  });
  rows->Bind(wxEVT_LEFT_UP, [this](wxMouseEvent& event) {
    if (click_pending_) {
      click_pending_ = false;
      int row = static_cast<int>(click_row_);
      CallAfter([this, row] { album_clicked(row); });
    }
    event.Skip();
  });
  rows->Bind(wxEVT_LEFT_DCLICK, [this, row_at](wxMouseEvent& event) {
    click_pending_ = false;
    int row = static_cast<int>(row_at(event.GetPosition()));
    CallAfter([this, row] { album_double_clicked(row); });
    event.Skip();
  });
}

void MainWindow::show_history_menu() {
  // The menu is empty on a first run; an empty popup would be a stray box.
  if (history_items.empty()) return;
  wxMenu menu;
  for (const HistoryMenuItem& item : history_items) {
    // "&" would mark a mnemonic and a tab start an accelerator.
    wxString label = to_wx(item.text);
    label.Replace("&", "&&");
    label.Replace("\t", " ");
    menu.Append(item.command_id, label);
  }
  Raise();
  // At the mouse pointer; a pick arrives as a menu command of the window.
  PopupMenu(&menu);
}

}  // namespace velmora
