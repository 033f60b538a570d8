// velmora-demo-site [--port N] [--latest-version V] [--new-program FILE]
//
// Serves the bundled demo album site and update server on 127.0.0.1 until it
// is ended by SIGINT or SIGTERM. --latest-version makes the update page
// announce another version (so the program offers an update) and
// --new-program names the file handed out as the new program.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "demo/demo_site.h"

namespace {

int usage(const char* problem) {
  std::cerr << "velmora-demo-site: " << problem << "\n"
            << "usage: velmora-demo-site [--port N] [--latest-version V] [--new-program FILE]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int port = 47180;
  std::string latest_version;
  std::string new_program_path;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::cout << "usage: velmora-demo-site [--port N] [--latest-version V] [--new-program FILE]\n";
      return 0;
    }
    if (i + 1 >= argc) return usage(("missing value after " + option).c_str());
    const std::string value = argv[++i];
    if (option == "--port") {
      char* end = nullptr;
      const long parsed = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || parsed < 0 || parsed > 65535) return usage("the port must be 0 to 65535");
      port = static_cast<int>(parsed);
    } else if (option == "--latest-version") {
      latest_version = value;
    } else if (option == "--new-program") {
      new_program_path = value;
    } else {
      return usage(("unknown option " + option).c_str());
    }
  }

  // Block the ending signals before any thread starts, so that every thread
  // inherits the mask and sigwait below receives them.
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGINT);
  sigaddset(&ending, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &ending, nullptr);

  velmora::demo::SiteContent content;
  try {
    content = velmora::demo::SiteContent::demo();
    if (!latest_version.empty()) content.update.banner_gbk = velmora::demo::demo_banner_gbk(latest_version);
    if (!new_program_path.empty()) {
      std::ifstream in(new_program_path, std::ios::binary);
      if (!in) {
        std::cerr << "velmora-demo-site: cannot read " << new_program_path << "\n";
        return 1;
      }
      std::ostringstream bytes;
      bytes << in.rdbuf();
      content.update.new_program = bytes.str();
    }
  } catch (const std::exception& error) {
    std::cerr << "velmora-demo-site: " << error.what() << "\n";
    return 1;
  }

  velmora::demo::DemoSite site(std::move(content), port);
  if (!site.start()) {
    std::cerr << "velmora-demo-site: cannot listen on 127.0.0.1:" << port << "\n";
    return 1;
  }
  const std::string at = "localhost:" + std::to_string(site.port());
  std::cout << "velmora-demo-site: serving on http://127.0.0.1:" << site.port() << "/ (albums: http://" << at
            << "/photos/alice/albums/ or http://alice." << at << "/)" << std::endl;

  int received = 0;
  sigwait(&ending, &received);
  site.stop();
  return 0;
}
