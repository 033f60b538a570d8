// Throughput of the picture request and the page request against a loopback
// server, each measured side by side with the curl command-line tool fetching
// the same body in the same run. Counters:
//   velmora_MBps, curl_tool_MBps  throughput of each (body bytes / wall time)
//   ratio                         velmora_MBps / curl_tool_MBps
//   peak_rss_growth_MB            growth of the process's peak resident size
//                                 over the benchmark (the picture is streamed,
//                                 so it stays flat; the page is held whole)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <spawn.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "web/page_request.h"
#include "web/picture_request.h"

extern char** environ;

namespace {

constexpr std::size_t kPictureBytes = 256u << 20;
constexpr std::size_t kPageBytes = 20u << 20;

// Answers every request with a body of the size its path names
// ("/bytes/N"), sent from one buffer in large pieces so that the server is
// never the bottleneck.
class BulkServer {
 public:
  BulkServer() : chunk_(1u << 20) {
    for (std::size_t i = 0; i < chunk_.size(); ++i) chunk_[i] = static_cast<char>(i * 131 % 251);
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 16) != 0) {
      std::perror("bench server");
      std::exit(1);
    }
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
  }
  ~BulkServer() {
    stopping_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    ::close(listener_);
    std::lock_guard lock(mutex_);
    for (std::thread& t : connections_) t.join();
  }
  std::string url(std::size_t bytes) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/bytes/" + std::to_string(bytes);
  }

 private:
  void accept_loop() {
    while (!stopping_) {
      const int socket = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (socket < 0) return;
      std::lock_guard lock(mutex_);
      connections_.emplace_back([this, socket] { serve(socket); });
    }
  }
  void serve(int socket) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      request.append(buffer, static_cast<std::size_t>(got));
    }
    const std::size_t at = request.find("/bytes/");
    const std::size_t size = at == std::string::npos ? 0 : std::stoull(request.substr(at + 7));
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                             std::to_string(size) + "\r\nConnection: close\r\n\r\n";
    bool ok = send_all(socket, head.data(), head.size());
    for (std::size_t sent = 0; ok && sent < size; sent += chunk_.size()) {
      ok = send_all(socket, chunk_.data(), std::min(chunk_.size(), size - sent));
    }
    ::shutdown(socket, SHUT_WR);
    while (::recv(socket, buffer, sizeof buffer, 0) > 0) {
    }
    ::close(socket);
  }
  static bool send_all(int socket, const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t sent = ::send(socket, data, size, MSG_NOSIGNAL);
      if (sent <= 0) return false;
      data += sent;
      size -= static_cast<std::size_t>(sent);
    }
    return true;
  }

  std::vector<char> chunk_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

BulkServer& server() {
  static BulkServer instance;
  return instance;
}

std::filesystem::path scratch_file(const char* name) {
  static const std::filesystem::path folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-http-bench-XXXXXX").string();
    return std::filesystem::path(::mkdtemp(pattern.data()));
  }();
  return folder / name;
}

// The curl command-line tool fetching `url` into `output`; its wall time.
double curl_tool_seconds(const std::string& url, const std::string& output) {
  std::vector<std::string> args = {"curl", "--silent", "--noproxy", "*", "--output", output, url};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (::posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

template <typename Fetch>
double timed(Fetch&& fetch) {
  const auto start = std::chrono::steady_clock::now();
  fetch();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long peak_rss_kb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

void report(benchmark::State& state, std::size_t bytes, double own_seconds, double curl_seconds, long rss_before) {
  const double own = static_cast<double>(bytes) * static_cast<double>(state.iterations()) / own_seconds / 1e6;
  const double tool = static_cast<double>(bytes) * static_cast<double>(state.iterations()) / curl_seconds / 1e6;
  state.counters["velmora_MBps"] = own;
  state.counters["curl_tool_MBps"] = tool;
  state.counters["ratio"] = own / tool;
  state.counters["peak_rss_growth_MB"] = static_cast<double>(peak_rss_kb() - rss_before) / 1024.0;
}

void BM_PictureToDisk(benchmark::State& state) {
  const std::string url = server().url(kPictureBytes);
  const std::string own_file = scratch_file("velmora.bin").string();
  const std::string curl_file = scratch_file("curl.bin").string();
  const long rss_before = peak_rss_kb();
  double own_seconds = 0;
  double curl_seconds = 0;
  std::int64_t progress_calls = 0;
  for (auto _ : state) {
    const double tool = curl_tool_seconds(url, curl_file);
    std::int32_t result = 0;
    const double own = timed([&] {
      result = velmora::fetch_picture(url, own_file, 0,
                                      [&](std::int32_t, std::int32_t, std::int32_t, std::int32_t) { ++progress_calls; });
    });
    if (tool < 0 || result != static_cast<std::int32_t>(kPictureBytes) ||
        std::filesystem::file_size(own_file) != kPictureBytes) {
      state.SkipWithError("a transfer failed");
      break;
    }
    own_seconds += own;
    curl_seconds += tool;
    state.SetIterationTime(own);
  }
  report(state, kPictureBytes, own_seconds, curl_seconds, rss_before);
  state.counters["progress_calls"] =
      benchmark::Counter(static_cast<double>(progress_calls), benchmark::Counter::kAvgIterations);
  state.SetBytesProcessed(static_cast<std::int64_t>(kPictureBytes) * state.iterations());
  std::filesystem::remove(own_file);
  std::filesystem::remove(curl_file);
}

void BM_PageToMemory(benchmark::State& state) {
  const std::string url = server().url(kPageBytes);
  const long rss_before = peak_rss_kb();
  double own_seconds = 0;
  double curl_seconds = 0;
  for (auto _ : state) {
    const double tool = curl_tool_seconds(url, "/dev/null");
    std::string page;
    const double own = timed([&] { page = velmora::fetch_page_bytes(url); });
    if (tool < 0 || page.size() != kPageBytes) {
      state.SkipWithError("a transfer failed");
      break;
    }
    own_seconds += own;
    curl_seconds += tool;
    state.SetIterationTime(own);
  }
  report(state, kPageBytes, own_seconds, curl_seconds, rss_before);
  state.SetBytesProcessed(static_cast<std::int64_t>(kPageBytes) * state.iterations());
}

BENCHMARK(BM_PictureToDisk)->UseManualTime()->Iterations(6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageToMemory)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
