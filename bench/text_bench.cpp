// Speed of the shared text operations against the C library on the same data,
// measured in the same run:
//  - GBK-aware find and text_between over a 50 MB HTML-like page (mostly
//    ASCII, some Chinese) against glibc memmem, and the same over 100 MB to
//    show that the time grows linearly;
//  - utf8_to_text on a 20 MB page (a fifth of it Chinese) against one bare
//    iconv call, and on a page of emoji and malformed bytes against the clean one.
// Each figure is the best of the iterations, the one least disturbed by other
// work on the machine, in processor time of the measuring thread; the counters
// carry the ratios.
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <malloc.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "text/gbk_text.h"
#include "web/encoding.h"
#include "web/text_between.h"

namespace {

using velmora::find_text;
using velmora::text_between;
using velmora::utf8_to_text;

constexpr std::size_t megabyte = 1024 * 1024;

// Processor time of this thread for one call of f. Every operation here is
// single-threaded, and unlike the wall clock this does not count the time the
// thread waits while other programs have the processor.
double thread_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

template <typename F>
double seconds_of(F&& f) {
  const double start = thread_seconds();
  f();
  return thread_seconds() - start;
}

struct Best {
  double seconds = std::numeric_limits<double>::infinity();
  void add(double s) { seconds = std::min(seconds, s); }
};

// One album block of an album list page, in GBK, about 10% of it Chinese.
std::string album_block(unsigned n) {
  std::string number = std::to_string(72157600000000ull + n);
  return "<div class=\"Sets\"><a class=\"Seta\" href=\"/photos/lin/albums/" + number +
         "/\" title=\"夏天的海边 " + std::to_string(n % 977) +
         "\"><img src=\"http://farm4.static.example/" + std::to_string(n % 4096) + "/" + number +
         "_a1b2c3d4e5/square.jpg\" width=\"75\" height=\"75\" alt=\"\" /></a>\n"
         "  <div class=\"SetCase\"><span class=\"Count\"><b>" + std::to_string(n % 300) +
         "</b>张照片</span> <a href=\"/photos/lin/albums/" + number +
         "/page1/?style=thumbnail\">查看</a></div></div>\n";
}

// Album blocks up to about `size` bytes; ends on a block, so on a character boundary.
std::string page_body(std::size_t size) {
  std::string body;
  body.reserve(size + 1024);
  for (unsigned n = 0; body.size() < size; ++n) body += album_block(n);
  return body;
}

const std::string next_page_link = "<div class=\"Paginator\"><a href=\"/photos/lin/albums/1/page2/?style=thumbnail\">下一页</a></div>";
const std::string find_marker = "thumbnail\">下一页</a>";
const std::string start_marker = "<div class=\"Paginator\"><a href=\"";
const std::string end_marker = "\">下一页";

// Two pages of about 50 MB each, both ending in the one next-page link of the
// buffer: `single` is the second page alone, `twice` both of them.
struct HtmlPages {
  std::string buffer;
  std::string_view single;
  std::string_view twice;
};

const HtmlPages& html_pages() {
  static const HtmlPages pages = [] {
    HtmlPages p;
    const std::string body = page_body(50 * megabyte - next_page_link.size());
    p.buffer = body + body + next_page_link;
    p.twice = p.buffer;
    p.single = std::string_view(p.buffer).substr(body.size());
    return p;
  }();
  return pages;
}

std::size_t memmem_position(std::string_view text, std::string_view needle) {
  const void* hit = memmem(text.data(), text.size(), needle.data(), needle.size());
  return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) : velmora::npos;
}

void set_throughput(benchmark::State& state, const char* name, std::size_t bytes, double seconds) {
  state.counters[name] = bytes / seconds / 1e9;
}

void BM_GbkFindAgainstMemmem(benchmark::State& state) {
  const HtmlPages& pages = html_pages();
  Best reference, reference_twice, find, find_twice, find_folded;
  for (auto _ : state) {
    std::size_t expected = 0, found = 0, found_twice = 0, found_folded = 0;
    reference.add(seconds_of([&] { expected = memmem_position(pages.single, find_marker); }));
    reference_twice.add(seconds_of([&] { benchmark::DoNotOptimize(memmem_position(pages.twice, find_marker)); }));
    const double s = seconds_of([&] { found = find_text(pages.single, find_marker); });
    find.add(s);
    find_twice.add(seconds_of([&] { found_twice = find_text(pages.twice, find_marker); }));
    find_folded.add(seconds_of([&] { found_folded = find_text(pages.single, find_marker, 0, true); }));
    state.SetIterationTime(s);
    if (found != expected || found_folded != expected || found_twice != pages.twice.size() - next_page_link.size() + next_page_link.find(find_marker)) {
      state.SkipWithError("find and memmem disagree");
      return;
    }
  }
  set_throughput(state, "memmem_GBps", pages.single.size(), reference.seconds);
  set_throughput(state, "find_GBps", pages.single.size(), find.seconds);
  state.counters["find_vs_memmem"] = reference.seconds / find.seconds;
  state.counters["find_time_2x_input"] = find_twice.seconds / find.seconds;
  // The same for memmem: what the machine itself gives for twice the bytes.
  state.counters["memmem_time_2x_input"] = reference_twice.seconds / reference.seconds;
  state.counters["find_ignoring_case_vs_memmem"] = reference.seconds / find_folded.seconds;
}
BENCHMARK(BM_GbkFindAgainstMemmem)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

void BM_TextBetweenAgainstMemmem(benchmark::State& state) {
  const HtmlPages& pages = html_pages();
  const std::string expected_piece = "/photos/lin/albums/1/page2/?style=thumbnail";
  Best reference, reference_twice, between, between_twice;
  for (auto _ : state) {
    std::string piece, piece_twice;
    reference.add(seconds_of([&] { benchmark::DoNotOptimize(memmem_position(pages.single, start_marker)); }));
    reference_twice.add(seconds_of([&] { benchmark::DoNotOptimize(memmem_position(pages.twice, start_marker)); }));
    const double s = seconds_of([&] { piece = text_between(pages.single, start_marker, end_marker); });
    between.add(s);
    between_twice.add(seconds_of([&] { piece_twice = text_between(pages.twice, start_marker, end_marker); }));
    state.SetIterationTime(s);
    if (piece != expected_piece || piece_twice != expected_piece) {
      state.SkipWithError("text_between found the wrong piece");
      return;
    }
  }
  set_throughput(state, "memmem_GBps", pages.single.size(), reference.seconds);
  set_throughput(state, "text_between_GBps", pages.single.size(), between.seconds);
  state.counters["text_between_vs_memmem"] = reference.seconds / between.seconds;
  state.counters["text_between_time_2x_input"] = between_twice.seconds / between.seconds;
  state.counters["memmem_time_2x_input"] = reference_twice.seconds / reference.seconds;
}
BENCHMARK(BM_TextBetweenAgainstMemmem)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

// A hostile page: the marker's bytes stand across two Chinese characters
// every five bytes, so nearly every memmem hit is on a second byte and is
// rejected. The reference is memmem scanning the same page to its end.
void BM_GbkFindMisalignedHits(benchmark::State& state) {
  const std::string zhongwen = "中文";                 // D6 D0 CE C4
  const std::string marker = zhongwen.substr(1, 2);    // D0 CE, a character of its own
  const std::string absent = marker + "!";
  std::string page;
  page.reserve(10 * megabyte + 16);
  while (page.size() < 10 * megabyte) page += zhongwen + "a";
  page += marker;
  Best reference, find;
  for (auto _ : state) {
    std::size_t found = 0;
    reference.add(seconds_of([&] { benchmark::DoNotOptimize(memmem_position(page, absent)); }));
    const double s = seconds_of([&] { found = find_text(page, marker); });
    find.add(s);
    state.SetIterationTime(s);
    if (found != page.size() - 2) {
      state.SkipWithError("find matched inside a character");
      return;
    }
  }
  set_throughput(state, "find_GBps", page.size(), find.seconds);
  set_throughput(state, "memmem_full_scan_GBps", page.size(), reference.seconds);
  state.counters["find_vs_memmem_full_scan"] = reference.seconds / find.seconds;
}
BENCHMARK(BM_GbkFindMisalignedHits)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// About `size` bytes of UTF-8 page, a fifth of them Chinese.
std::string clean_utf8_page(std::size_t size) {
  const std::string ascii =
      "<div class=\"Sets\"><a href=\"/photos/lin/albums/72157600000001/\"><img src=\"/1/square.jpg\" /></a>";
  const std::string chinese = reinterpret_cast<const char*>(u8"夏天的海边照片");  // 21 bytes
  std::string page;
  page.reserve(size + 256);
  // 84 ASCII bytes and 21 bytes of Chinese (7 characters) by turns.
  while (page.size() < size) {
    page += ascii.substr(0, 84);
    page += chinese;
  }
  return page;
}

// The same size of page made of emoji and malformed fragments only.
std::string dirty_utf8_page(std::size_t size) {
  const std::string emoji = reinterpret_cast<const char*>(u8"😀🎉");
  // Cut-off sequences, overlong forms, an encoded surrogate, stray
  // continuation bytes and a byte that never occurs in UTF-8.
  const std::string broken = "\xE4\xB8" "\xC0\xAF" "\xF0\x9F\x98" "\xED\xA0\x80" "\x80\xBF" "\xFF";
  std::string page;
  page.reserve(size + 64);
  while (page.size() < size) page += emoji + broken;
  return page;
}

// One iconv call converting `page` into `out`; the number of bytes written.
std::size_t bare_iconv(iconv_t cd, const std::string& page, char* out, std::size_t out_size) {
  char* src = const_cast<char*>(page.data());
  std::size_t src_left = page.size();
  char* dst = out;
  std::size_t dst_left = out_size;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  iconv(cd, &src, &src_left, &dst, &dst_left);
  return out_size - dst_left;
}

void BM_Utf8ToTextAgainstIconv(benchmark::State& state) {
  const std::string clean = clean_utf8_page(20 * megabyte);
  const std::string dirty = dirty_utf8_page(clean.size());
  std::string iconv_out(clean.size() * 2, '\0');
  iconv_t cd = iconv_open("CP936", "UTF-8");
  Best reference, convert, convert_dirty;
  for (auto _ : state) {
    std::size_t written = 0;
    reference.add(seconds_of([&] { written = bare_iconv(cd, clean, iconv_out.data(), iconv_out.size()); }));
    std::string text, dirty_text;
    const double s = seconds_of([&] { text = utf8_to_text(clean); });
    convert.add(s);
    convert_dirty.add(seconds_of([&] { dirty_text = utf8_to_text(dirty); }));
    state.SetIterationTime(s);
    if (std::string_view(iconv_out).substr(0, written) != text || dirty_text.empty()) {
      state.SkipWithError("utf8_to_text and iconv disagree");
      break;
    }
  }
  iconv_close(cd);
  set_throughput(state, "iconv_GBps", clean.size(), reference.seconds);
  set_throughput(state, "utf8_to_text_GBps", clean.size(), convert.seconds);
  state.counters["utf8_to_text_vs_iconv"] = reference.seconds / convert.seconds;
  state.counters["emoji_malformed_time_vs_clean"] = convert_dirty.seconds / convert.seconds;
}
BENCHMARK(BM_Utf8ToTextAgainstIconv)->UseManualTime()->Iterations(15)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // Keep freed memory in the process, so that every conversion writes into
  // memory that was used before, as iconv's reused output buffer is. The first
  // touch of fresh memory costs milliseconds per megabyte on some machines
  // (virtual machines especially) and would otherwise decide the figures by
  // whichever allocation happens to get recycled.
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
