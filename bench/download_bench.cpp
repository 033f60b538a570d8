// An album of 500 photos of 200 KB downloaded from the demo site on
// loopback, the way a double click does it.
//
// The job is paced on purpose (a start every 100 ms, "下载完成" 2000 ms after
// the last start), so its wall time has a floor of 500 x 0.1 s + 2 s; the
// figure to watch is the ratio to that floor, which shows every delay the job
// adds on top of its pacing. The CPU time per photo and the peak memory are
// those of the program alone: the site runs in a child process.
// aria2c -j5 fetching the same 500 addresses, without any pacing, is printed
// beside it for reference.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "demo/demo_site.h"
#include "download/album_download.h"
#include "shell/application.h"
#include "shell/window_port.h"

namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int photo_count = 500;
constexpr std::size_t photo_bytes = 200 * 1024;
constexpr std::int32_t album_number = 1;
const char* const site_user = "bench";

std::string picture_path(int photo) {
  return "/photos/" + std::string(site_user) + "/albums/" + std::to_string(album_number) + "/" +
         std::to_string(photo) + "/big.jpg";
}

demo::SiteContent bench_site() {
  demo::SiteContent content;
  demo::DemoUser user;
  user.name = site_user;
  user.display_name = "bench";
  demo::DemoAlbum album;
  album.number = album_number;
  album.title_html = "Bench";
  album.cover_path = "/photos/bench/albums/1/1/square.jpg";
  std::string bytes(photo_bytes, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
  for (int photo = 1; photo <= photo_count; ++photo) {
    bytes[0] = static_cast<char>(photo);
    album.photos.push_back(demo::DemoPhoto{picture_path(photo), bytes});
  }
  user.albums.push_back(std::move(album));
  content.users.push_back(std::move(user));
  return content;
}

// The site in a child process, so that its CPU time and memory are not
// counted as the program's.
struct SiteProcess {
  pid_t pid = -1;
  int port = 0;
  int keep_alive_fd = -1;  // the child serves until this is closed

  bool start() {
    int port_pipe[2], alive_pipe[2];
    if (pipe(port_pipe) != 0 || pipe(alive_pipe) != 0) return false;
    pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
      close(port_pipe[0]);
      close(alive_pipe[1]);
      demo::DemoSite site(bench_site());
      int served_port = site.start() ? site.port() : 0;
      if (write(port_pipe[1], &served_port, sizeof served_port) != sizeof served_port) _exit(1);
      char byte;
      while (read(alive_pipe[0], &byte, 1) > 0) {
      }
      site.stop();
      _exit(0);
    }
    close(port_pipe[1]);
    close(alive_pipe[0]);
    keep_alive_fd = alive_pipe[1];
    bool ok = read(port_pipe[0], &port, sizeof port) == sizeof port && port > 0;
    close(port_pipe[0]);
    return ok;
  }
  ~SiteProcess() {
    if (keep_alive_fd >= 0) close(keep_alive_fd);
    if (pid > 0) waitpid(pid, nullptr, 0);
  }
};

SiteProcess* site_process = nullptr;

std::string site_host() { return "127.0.0.1:" + std::to_string(site_process->port); }

// The window as far as a download uses it: one album row, a folder dialog
// that answers at once, and the status texts.
class BenchWindow : public WindowPort {
 public:
  explicit BenchWindow(fs::path folder) : folder_(std::move(folder)) {}
  std::string url_text() override { return {}; }
  void set_url_text(const std::string&) override {}
  void set_enter_enabled(bool) override {}
  void set_status_text(const std::string& text) override {
    std::lock_guard lock(mutex_);
    if (text == "下载完成") finished_ = Clock::now();
    if (text.rfind("第 ", 0) == 0) ++completed_;
    changed_.notify_all();
  }
  void delete_all_albums() override {}
  int append_album(const std::string&, std::int32_t) override { return 0; }
  void set_album_cell(int, int, const std::string&) override {}
  void append_albums(const std::vector<AlbumRow>&) override {}
  int album_count() override { return 1; }
  std::int32_t album_value(int) override { return album_number; }
  std::string album_cell(int, int column) override { return column == 0 ? "Bench" : ""; }
  void write_preview(const std::string&) override {}
  int message_box(const std::string&, const std::string&, MessageBoxButtons, bool) override { return 0; }
  void quit_program() override {}
  std::optional<fs::path> choose_folder(const std::string&, const fs::path&) override { return folder_; }
  void set_clipboard_text(const std::string&) override {}
  void set_history_menu(const std::vector<HistoryMenuItem>&) override {}

  std::optional<Clock::time_point> wait_finished(std::chrono::seconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return finished_.has_value(); });
    return finished_;
  }
  int completed() {
    std::lock_guard lock(mutex_);
    return completed_;
  }

 private:
  fs::path folder_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<Clock::time_point> finished_;
  int completed_ = 0;
};

double cpu_seconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

fs::path fresh_folder(const char* name) {
  fs::path folder = fs::temp_directory_path() / ("velmora-bench-" + std::to_string(getpid()) + "-" + name);
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

void BM_AlbumDownload(benchmark::State& state) {
  const double floor_seconds = photo_count * 0.1 + 2.0;
  for (auto _ : state) {
    fs::path folder = fresh_folder("job");
    BenchWindow window(folder);
    ProgramFiles files{folder / "velmora", folder};
    double wall = 0, cpu = 0;
    {
      Application app(window, Hosts{site_host(), site_host()}, files);
      app.catalogue.site_user = site_user;
      rusage before{}, after{};
      getrusage(RUSAGE_SELF, &before);
      auto started = Clock::now();
      run_album_download(app, 0);
      auto finished = window.wait_finished(std::chrono::seconds(600));
      if (!finished) {
        state.SkipWithError("the job did not finish");
        break;
      }
      wall = std::chrono::duration<double>(*finished - started).count();
      app.threads.wait_idle(std::chrono::seconds(60));
      getrusage(RUSAGE_SELF, &after);
      cpu = cpu_seconds(after) - cpu_seconds(before);
    }
    state.SetIterationTime(wall);
    state.counters["photos_saved"] = window.completed();
    state.counters["wall_s"] = wall;
    state.counters["floor_s"] = floor_seconds;
    state.counters["wall_per_floor"] = wall / floor_seconds;
    state.counters["cpu_ms_per_photo"] = cpu * 1000.0 / photo_count;
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    state.counters["peak_rss_MB"] = static_cast<double>(self.ru_maxrss) / 1024.0;
    fs::remove_all(folder);
  }
}
BENCHMARK(BM_AlbumDownload)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// aria2c with five connections on the same 500 addresses.
void BM_Aria2cFiveConnections(benchmark::State& state) {
  for (auto _ : state) {
    fs::path folder = fresh_folder("aria2c");
    fs::path list = folder / "addresses.txt";
    {
      std::ofstream out(list);
      for (int photo = 1; photo <= photo_count; ++photo)
        out << "http://" << site_host() << picture_path(photo) << "\n  out=" << photo << ".jpg\n";
    }
    std::vector<std::string> args = {"aria2c", "-j5", "-q", "--allow-overwrite=true", "--auto-file-renaming=false",
                                     "-d", folder.string(), "-i", list.string()};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    auto started = Clock::now();
    pid_t child;
    if (posix_spawnp(&child, "aria2c", nullptr, nullptr, argv.data(), environ) != 0) {
      state.SkipWithError("aria2c could not be started");
      break;
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    double wall = std::chrono::duration<double>(Clock::now() - started).count();
    state.SetIterationTime(wall);
    std::size_t saved = 0;
    for (const auto& entry : fs::directory_iterator(folder))
      saved += entry.path().extension() == ".jpg" && fs::file_size(entry.path()) == photo_bytes;
    state.counters["photos_saved"] = static_cast<double>(saved);
    state.counters["exit_status"] = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    state.counters["wall_s"] = wall;
    state.counters["cpu_ms_per_photo"] = cpu_seconds(usage) * 1000.0 / photo_count;
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    fs::remove_all(folder);
  }
}
BENCHMARK(BM_Aria2cFiveConnections)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  // The site's process is forked before this one starts any thread.
  velmora::SiteProcess site;
  if (!site.start()) {
    std::fprintf(stderr, "the demo site could not be started\n");
    return 1;
  }
  velmora::site_process = &site;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
