#include "shell/application.h"

#include <unistd.h>

#include <system_error>

#include "build_config.h"

namespace velmora {

Hosts Hosts::built_in() { return Hosts{VELMORA_ALBUM_SITE_HOST, VELMORA_UPDATE_SITE_HOST}; }

ProgramFiles ProgramFiles::of_this_process() {
  ProgramFiles files;
  std::error_code ec;
  // The system knows the running program's file; argv[0] may be relative or
  // a name found on PATH.
  files.executable = std::filesystem::read_symlink("/proc/self/exe", ec);
  files.working_directory = std::filesystem::current_path(ec);
  return files;
}

Application::Application(WindowPort& window_port, Hosts site_hosts, ProgramFiles program_files)
    : window(window_port), hosts(std::move(site_hosts)), files(std::move(program_files)) {
  shell.settings_path = files.working_directory / "cfg.ini";
}

}  // namespace velmora
