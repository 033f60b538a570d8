// An album-list page of thousands of albums, from the fetched bytes to every
// row handed to the window, measured beside the bare conversion and split of
// the same page (the least any reading of it must cost). Prints, after the
// table, the ratio of the two at 10,000 albums and the growth from 5,000 to
// 10,000 albums (2.0 is linear).
//
//   build/bench/scrape_bench
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "catalogue/album_list.h"
#include "shell/wx/window_harness.h"
#include "shell/wx/wx_window_port.h"
#include "support/private_display.h"
#include "support/test_text.h"
#include "shell/application.h"
#include "text/gbk_text.h"
#include "web/encoding.h"

namespace velmora {
namespace {

// A window that keeps only what a list would need to know: the rows it got
// and how many trips they took.
class CountingWindow : public WindowPort {
 public:
  std::size_t rows = 0;
  std::size_t trips = 0;
  std::size_t text_bytes = 0;

  std::string url_text() override { return {}; }
  void set_url_text(const std::string&) override {}
  void set_enter_enabled(bool) override {}
  void set_status_text(const std::string&) override {}
  void delete_all_albums() override { rows = 0; }
  int append_album(const std::string& title, std::int32_t) override {
    ++trips;
    text_bytes += title.size();
    return static_cast<int>(rows++);
  }
  void set_album_cell(int, int, const std::string& text) override {
    ++trips;
    text_bytes += text.size();
  }
  void append_albums(const std::vector<AlbumRow>& batch) override {
    ++trips;
    for (const AlbumRow& row : batch) text_bytes += row.title.size() + row.count_text.size();
    rows += batch.size();
  }
  int album_count() override { return static_cast<int>(rows); }
  std::int32_t album_value(int) override { return 0; }
  std::string album_cell(int, int) override { return {}; }
  void write_preview(const std::string&) override {}
  int message_box(const std::string&, const std::string&, MessageBoxButtons, bool) override { return 0; }
  void quit_program() override {}
  std::optional<std::filesystem::path> choose_folder(const std::string&, const std::filesystem::path&) override {
    return std::nullopt;
  }
  void set_clipboard_text(const std::string&) override {}
  void set_history_menu(const std::vector<HistoryMenuItem>&) override {}
};

// About 500 bytes of UTF-8 per album, in the markup the site writes.
std::string album_list_page(int albums) {
  std::string page = reinterpret_cast<const char*>(
      u8"<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>小林的相册 - 相册列表</title></head>"
      u8"<body><div id=\"Albums\">\n");
  for (int i = 1; i <= albums; ++i) {
    const std::string n = std::to_string(100000 + i);
    const std::string title = reinterpret_cast<const char*>(u8"春天的花园·第") + n +
                              reinterpret_cast<const char*>(u8"号 &amp; 海边");
    page += "<div class=\"Sets\"><div class=\"SetCase\"><a href=\"http://localhost:47180/photos/lin/albums/" + n +
            "/\" title=\"" + title + "\"><img class=\"setThumb\" src=\"http://localhost:47180/photos/lin/albums/" +
            n + "/p0001/square.jpg\" alt=\"\" width=\"75\" height=\"75\" /></a></div><h4><a class=\"Seta\" "
            "href=\"http://localhost:47180/photos/lin/albums/" + n + "/\">" + title + "</a></h4><p><b>" +
            std::to_string(i % 300) +
            reinterpret_cast<const char*>(u8"</b>张图片 · 更新于 2024-05-01</p><p class=\"SetDesc\">"
                                          u8"夏天去海边拍的照片，还有一些花园里的花。</p></div>\n");
  }
  page += "</div></body></html>";
  return page;
}

const std::string& page_of(int albums) {
  static std::map<int, std::string> pages;
  auto it = pages.find(albums);
  if (it == pages.end()) it = pages.emplace(albums, album_list_page(albums)).first;
  return it->second;
}

void BM_FetchedBytesToRows(benchmark::State& state) {
  const std::string& bytes = page_of(static_cast<int>(state.range(0)));
  CountingWindow window;
  Application app(window, Hosts{"localhost:47180", "127.0.0.1:47180"}, ProgramFiles{});
  for (auto _ : state) {
    window.delete_all_albums();
    app.catalogue.cover_urls.clear();
    AlbumListPage page = show_album_list_page(app, bytes);
    benchmark::DoNotOptimize(page);
  }
  if (window.rows != static_cast<std::size_t>(state.range(0)) ||
      app.catalogue.cover_urls.size() != window.rows)
    state.SkipWithError("not every album reached the window");
  state.counters["rows"] = static_cast<double>(window.rows);
  state.counters["trips"] = static_cast<double>(window.trips) / static_cast<double>(state.iterations());
  state.counters["MB"] = static_cast<double>(bytes.size()) / 1e6;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_ConvertAndSplit(benchmark::State& state) {
  const std::string& bytes = page_of(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::vector<std::string> pieces = split_text(utf8_to_text(bytes), "<div class=\"Sets\">");
    benchmark::DoNotOptimize(pieces);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

// The real window, on a private X display: the list filled from the scraping
// thread as the program fills it, each batch carried onto the UI thread and
// inserted into the list control.
struct RealWindow {
  testing::TempDir folder;
  WxWindowPort port;
  Application app{port, Hosts{"localhost:47180", "127.0.0.1:47180"}, ProgramFiles{folder.path() / "velmora", folder.path()}};
  WindowHarness harness{app, port};
};
RealWindow* real_window = nullptr;

void BM_FetchedBytesToWindowRows(benchmark::State& state) {
  if (!real_window) {
    state.SkipWithError("no display for the real window");
    return;
  }
  const std::string& bytes = page_of(static_cast<int>(state.range(0)));
  RealWindow& w = *real_window;
  for (auto _ : state) {
    w.harness.run_on_other_thread([&] {
      w.port.delete_all_albums();
      {
        std::lock_guard lock(w.app.catalogue.mutex);
        w.app.catalogue.cover_urls.clear();
      }
      AlbumListPage page = show_album_list_page(w.app, bytes);
      benchmark::DoNotOptimize(page);
    });
  }
  int shown = 0;
  w.harness.run_on_other_thread([&] { shown = w.port.album_count(); });
  if (shown != state.range(0)) state.SkipWithError("not every album reached the list control");
  state.counters["rows"] = shown;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

BENCHMARK(BM_FetchedBytesToWindowRows)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FetchedBytesToRows)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertAndSplit)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond);

// Keeps the real time of every benchmark, by name, for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}
  std::map<std::string, double> seconds;
  void ReportRuns(const std::vector<Run>& runs) override {
    // With repetitions, the mean stands for the benchmark.
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "mean") continue;
      seconds[run.run_name.str()] = run.GetAdjustedRealTime() / 1e3;  // reported in ms
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  velmora::testing::PrivateDisplay display;
  std::unique_ptr<velmora::RealWindow> window;
  if (display.running() && velmora::start_window_toolkit()) window = std::make_unique<velmora::RealWindow>();
  else std::fprintf(stderr, "the real window is not measured: %s\n", display.error().c_str());
  velmora::real_window = window.get();
  velmora::SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto& s = reporter.seconds;
  const char* rows10 = "BM_FetchedBytesToRows/10000";
  const char* rows5 = "BM_FetchedBytesToRows/5000";
  const char* split10 = "BM_ConvertAndSplit/10000";
  if (s.count(rows10) && s.count(split10))
    std::printf("10,000 albums: %.1f ms from fetched bytes to rows, %.2f x the bare conversion and split (%.1f ms)\n",
                s[rows10] * 1e3, s[rows10] / s[split10], s[split10] * 1e3);
  if (s.count(rows10) && s.count(rows5))
    std::printf("growth from 5,000 to 10,000 albums: %.2f (2.00 is linear)\n", s[rows10] / s[rows5]);
  const char* shown10 = "BM_FetchedBytesToWindowRows/10000/real_time";
  const char* shown5 = "BM_FetchedBytesToWindowRows/5000/real_time";
  if (s.count(shown10) && s.count(split10))
    std::printf("10,000 albums into the real window: %.1f ms (goal under 1000 ms), %.2f x the bare conversion and split\n",
                s[shown10] * 1e3, s[shown10] / s[split10]);
  if (s.count(shown10) && s.count(shown5))
    std::printf("real window, growth from 5,000 to 10,000 albums: %.2f (2.00 is linear)\n", s[shown10] / s[shown5]);
  velmora::real_window = nullptr;
  window.reset();
  benchmark::Shutdown();
  return 0;
}
