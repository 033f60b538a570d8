#include "shell/wx/wx_window_port.h"

#include <unistd.h>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/dirdlg.h>
#include <wx/listctrl.h>
#include <wx/msgdlg.h>
#include <wx/textctrl.h>
#include <wx/thread.h>
#include <wx/webview.h>

#include <cstdio>
#include <exception>

#include "shell/cut_text.h"
#include "shell/wx/main_window.h"
#include "shell/wx/wx_text.h"

namespace velmora {
namespace {

constexpr std::size_t album_cell_limit = 259;  // a 260-byte buffer with its end mark
constexpr int album_columns = 2;

bool valid_row(wxListCtrl* list, int row) { return list != nullptr && row >= 0 && row < list->GetItemCount(); }

// The item value is a signed 32-bit number kept in the list's pointer-sized
// slot.
wxUIntPtr item_data_of(std::int32_t value) { return static_cast<wxUIntPtr>(static_cast<std::uint32_t>(value)); }
std::int32_t value_of_item_data(wxUIntPtr data) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(data));
}

}  // namespace

template <class Work>
auto WxWindowPort::on_ui_thread(Work work, decltype(work()) fallback) -> decltype(work()) {
  using Result = decltype(work());
  if (exiting_ || wxTheApp == nullptr) return fallback;
  if (wxThread::IsMain()) return work();
  auto promise = std::make_shared<std::promise<Result>>();
  std::future<Result> future = promise->get_future();
  // `work` (and what it refers to in the caller's frame) is used only while
  // the caller still waits: the caller gives up only once exiting_ is set,
  // which happens on the UI thread, where this runs.
  wxTheApp->CallAfter([this, promise, &work] {
    if (exiting_) return;  // the dropped promise releases the caller
    try {
      promise->set_value(work());
    } catch (...) {
      promise->set_exception(std::current_exception());
    }
  });
  for (;;) {
    if (future.wait_for(std::chrono::milliseconds(50)) == std::future_status::ready) {
      try {
        return future.get();
      } catch (...) {
        return fallback;
      }
    }
    if (exiting_) return fallback;
  }
}

std::string WxWindowPort::url_text() {
  return on_ui_thread(
      [this] { return window_ && window_->url_edit ? from_wx(window_->url_edit->GetValue()) : std::string(); },
      std::string());
}

void WxWindowPort::set_url_text(const std::string& text) {
  on_ui_thread(
      [&] {
        if (window_ && window_->url_edit) window_->url_edit->ChangeValue(to_wx(text));
        return true;
      },
      false);
}

void WxWindowPort::set_enter_enabled(bool enabled) {
  on_ui_thread(
      [&] {
        if (window_ && window_->enter_button) window_->enter_button->Enable(enabled);
        return true;
      },
      false);
}

void WxWindowPort::set_status_text(const std::string& text) {
  on_ui_thread(
      [&] {
        if (window_ && window_->GetStatusBar()) window_->SetStatusText(to_wx_label(text));
        return true;
      },
      false);
}

void WxWindowPort::delete_all_albums() {
  on_ui_thread(
      [&] {
        if (window_ && window_->album_list) window_->album_list->DeleteAllItems();
        return true;
      },
      false);
}

int WxWindowPort::append_album(const std::string& title, std::int32_t album_number) {
  return on_ui_thread(
      [&] {
        if (!window_ || !window_->album_list) return -1;
        wxListCtrl* list = window_->album_list;
        long row = list->InsertItem(list->GetItemCount(), to_wx(title));
        if (row >= 0) list->SetItemData(row, item_data_of(album_number));
        return static_cast<int>(row);
      },
      -1);
}

void WxWindowPort::set_album_cell(int row, int column, const std::string& text) {
  on_ui_thread(
      [&] {
        if (window_ && valid_row(window_->album_list, row) && column >= 0 && column < album_columns) {
          window_->album_list->SetItem(row, column, to_wx(text));
        }
        return true;
      },
      false);
}

void WxWindowPort::append_albums(const std::vector<AlbumRow>& rows) {
  on_ui_thread(
      [&] {
        if (!window_ || !window_->album_list) return false;
        wxListCtrl* list = window_->album_list;
        list->Freeze();
        for (const AlbumRow& album : rows) {
          long row = list->InsertItem(list->GetItemCount(), to_wx(album.title));
          if (row < 0) continue;
          list->SetItemData(row, item_data_of(album.album_number));
          list->SetItem(row, 1, to_wx(album.count_text));
        }
        list->Thaw();
        return true;
      },
      false);
}

int WxWindowPort::album_count() {
  return on_ui_thread(
      [this] { return window_ && window_->album_list ? window_->album_list->GetItemCount() : 0; }, 0);
}

std::int32_t WxWindowPort::album_value(int row) {
  return on_ui_thread(
      [&] {
        if (!window_ || !valid_row(window_->album_list, row)) return std::int32_t{0};
        return value_of_item_data(window_->album_list->GetItemData(row));
      },
      std::int32_t{0});
}

std::string WxWindowPort::album_cell(int row, int column) {
  return on_ui_thread(
      [&] {
        if (!window_ || !valid_row(window_->album_list, row) || column < 0 || column >= album_columns) {
          return std::string();
        }
        return cut_text(from_wx(window_->album_list->GetItemText(row, column)), album_cell_limit);
      },
      std::string());
}

void WxWindowPort::write_preview(const std::string& page) {
  on_ui_thread(
      [&] {
        if (window_ && window_->preview_browser) window_->preview_browser->SetPage(to_wx(page), wxString());
        return true;
      },
      false);
}

int WxWindowPort::message_box(const std::string& text, const std::string& title, MessageBoxButtons buttons,
                              bool owned_by_window) {
  return on_ui_thread(
      [&] {
        long style = wxOK | wxICON_NONE | wxCENTRE;
        if (buttons == MessageBoxButtons::ok_cancel) style |= wxCANCEL;
        wxWindow* owner = owned_by_window ? window_ : nullptr;
        if (owner == nullptr) style |= wxDIALOG_NO_PARENT;
        wxMessageDialog box(owner, to_wx_label(text), to_wx_label(title), style);
        int pressed = box.ShowModal();
        // An OK-only box closed any other way counts as OK.
        return buttons == MessageBoxButtons::ok_cancel && pressed != wxID_OK ? message_box_cancel
                                                                             : message_box_ok;
      },
      buttons == MessageBoxButtons::ok_cancel ? message_box_cancel : message_box_ok);
}

void WxWindowPort::quit_program() {
  quit_requested_ = true;
  // Posted, not waited for: the loop ends the program when it reads it.
  if (wxTheApp != nullptr && !exiting_) wxTheApp->CallAfter([this] { end_program(); });
}

std::optional<std::filesystem::path> WxWindowPort::choose_folder(const std::string& title,
                                                                 const std::filesystem::path& initial) {
  // The chosen folder as UTF-8 (file paths are UTF-8 here); empty when the
  // dialog was cancelled, as a chosen folder never is.
  std::string chosen = on_ui_thread(
      [&] {
        const std::string initial_utf8 = initial.string();
        wxDirDialog dialog(window_, to_wx_label(title),
                           wxString::FromUTF8(initial_utf8.data(), initial_utf8.size()),
                           wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
        return dialog.ShowModal() == wxID_OK ? dialog.GetPath().utf8_string() : std::string();
      },
      std::string());
  if (chosen.empty()) return std::nullopt;
  return std::filesystem::path(chosen);
}

void WxWindowPort::set_clipboard_text(const std::string& text) {
  on_ui_thread(
      [&] {
        if (!wxTheClipboard->Open()) return false;
        wxTheClipboard->SetData(new wxTextDataObject(to_wx(text)));
        wxTheClipboard->Close();
        return true;
      },
      false);
}

void WxWindowPort::set_history_menu(const std::vector<HistoryMenuItem>& items) {
  on_ui_thread(
      [&] {
        if (window_) window_->history_items = items;
        return true;
      },
      false);
}

void WxWindowPort::end_program() {
  // Callers waiting on the UI thread give up first; then the window goes and
  // the process ends. Running threads end with it: a picture being written
  // stays as far as it got, and cfg.ini is only ever replaced whole.
  release_waiting_callers();
  if (window_ != nullptr) window_->Hide();
  std::fflush(nullptr);
  _exit(0);
}

}  // namespace velmora
