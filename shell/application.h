#pragma once
// The application object: every piece of state the program keeps between
// events, grouped by the subsystem that owns it, plus the window it speaks to.
// The real program makes one; each test makes its own and starts fresh.
#include <filesystem>
#include <string>

#include "catalogue/catalogue_state.h"
#include "download/download_state.h"
#include "shell/background_threads.h"
#include "shell/shell_state.h"
#include "shell/window_port.h"
#include "update/update_state.h"

namespace velmora {

// Host (and optional ":port") of the photo-album site and of the update server.
struct Hosts {
  std::string album_site;
  std::string update_site;
  static Hosts built_in();  // the constants this build was configured with
};

// Where the program lives on disk.
struct ProgramFiles {
  std::filesystem::path executable;         // the running program's own file
  std::filesystem::path working_directory;  // at start-up; cfg.ini and the update leftover live here
  static ProgramFiles of_this_process();
};

struct Application {
  Application(WindowPort& window, Hosts hosts, ProgramFiles files);
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  WindowPort& window;
  const Hosts hosts;
  const ProgramFiles files;
  ShellState shell;
  CatalogueState catalogue;
  DownloadState download;
  UpdateState update;
  // Declared last, so destroyed first: waits for every background thread
  // while the state they use still exists.
  BackgroundThreads threads;
};

// The program's version, shown in the title and compared by the update check.
inline constexpr const char* current_version = "1.1";

}  // namespace velmora
