#include "shell/program.h"

#include <wx/app.h>
#include <wx/textctrl.h>

#include <memory>

#include "shell/application.h"
#include "shell/events.h"
#include "shell/wx/main_window.h"
#include "shell/wx/wx_window_port.h"
#include "web/page_request.h"

namespace velmora {
namespace {

class VelmoraApp : public wxApp {
 public:
  bool OnInit() override {
    // cfg.ini is the file of that name in the working directory the program
    // was started in (Application sets the path). Windows hides the file; a
    // Linux file has no hidden attribute (only a leading dot in its name,
    // which would make it another file), so it is left as it is.
    port_ = std::make_unique<WxWindowPort>();
    app_ = std::make_unique<Application>(*port_, Hosts::built_in(), ProgramFiles::of_this_process());
    window_ = new MainWindow(*app_, *port_);
    port_->attach(window_);
    SetTopWindow(window_);

    // Page requests made on this thread (the update check, the download job)
    // keep the window alive between reads.
    pump_ = std::make_unique<ScopedPageRequestPump>([this] { keep_window_alive(); });

    // The start-up work runs inside the event loop, so that its page request
    // can keep the (still hidden) window's events flowing; the window is
    // shown only when it is done, unless the update check asked to quit.
    CallAfter([this] {
      start_up(*app_);
      if (port_->quit_requested()) port_->end_program();
      window_->Show();
      window_->Raise();
      if (window_->url_edit != nullptr) window_->url_edit->SetFocus();
    });
    return true;
  }

 private:
  // Handles the events already waiting, once: nested calls (an event handler
  // that itself makes a page request) do nothing, so handlers never pile up
  // inside each other without bound.
  void keep_window_alive() {
    if (pumping_) return;
    pumping_ = true;
    Yield(true);
    pumping_ = false;
  }

  std::unique_ptr<WxWindowPort> port_;
  std::unique_ptr<Application> app_;
  MainWindow* window_ = nullptr;  // owned by the toolkit
  std::unique_ptr<ScopedPageRequestPump> pump_;
  bool pumping_ = false;  // UI thread only
};

}  // namespace

int program_start(int argc, char** argv) {
  // main() is the program's own, so the application object is handed to the
  // toolkit here rather than by its start-up macro.
  wxApp::SetInstance(new VelmoraApp());
  return wxEntry(argc, argv);
}

}  // namespace velmora
