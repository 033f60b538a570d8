// The real window's interface, used as the catalogue, the download and the
// update use it: from the UI thread and from threads of their own. The window
// runs in this process on a private X display.
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <memory>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "shell/application.h"
#include "shell/wx/window_harness.h"
#include "shell/wx/wx_window_port.h"
#include "support/private_display.h"
#include "support/test_text.h"

namespace velmora {
namespace {

// A private X server for the whole test program, and the toolkit on it.
class PrivateDisplayEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    display_ = std::make_unique<testing::PrivateDisplay>();
    ASSERT_TRUE(display_->running()) << display_->error();
    ASSERT_TRUE(start_window_toolkit()) << "the toolkit did not start on " << std::getenv("DISPLAY");
  }
  void TearDown() override { display_.reset(); }

 private:
  std::unique_ptr<testing::PrivateDisplay> display_;
};

[[maybe_unused]] ::testing::Environment* const display = ::testing::AddGlobalTestEnvironment(new PrivateDisplayEnvironment);

class WindowPortTest : public ::testing::Test {
 protected:
  testing::TempDir folder;
  WxWindowPort port;
  Application app{port, Hosts{"127.0.0.1:1", "127.0.0.1:1"}, ProgramFiles{folder.path() / "velmora", folder.path()}};
  WindowHarness window{app, port};
};

TEST_F(WindowPortTest, OperationsFromAnotherThreadReachTheWindow) {
  const std::string long_title = [] {
    std::string title = "x";
    for (int i = 0; i < 200; ++i) title += "相";  // 401 bytes: the cut must fall between characters
    return title;
  }();
  window.run_on_other_thread([&] {
    port.set_url_text("http://localhost/photos/安娜/albums/");
    EXPECT_EQ(port.url_text(), "http://localhost/photos/安娜/albums/");
    port.set_status_text("[安娜] 合计 3个相册");
    port.set_enter_enabled(false);

    EXPECT_EQ(port.append_album("第一", -5), 0);
    port.set_album_cell(0, 1, "7张");
    port.append_albums({{"第二", INT32_MIN, "0张"}, {long_title, INT32_MAX, "12张"}});
    EXPECT_EQ(port.album_count(), 3);
    EXPECT_EQ(port.album_value(0), -5);
    EXPECT_EQ(port.album_value(1), INT32_MIN);
    EXPECT_EQ(port.album_value(2), INT32_MAX);
    EXPECT_EQ(port.album_cell(0, 0), "第一");
    EXPECT_EQ(port.album_cell(0, 1), "7张");
    EXPECT_EQ(port.album_cell(2, 1), "12张");
    EXPECT_EQ(port.album_cell(2, 0), long_title.substr(0, 259)) << "259 bytes end after the 129th character";
    // Rows and columns that do not exist.
    EXPECT_EQ(port.album_value(3), 0);
    EXPECT_EQ(port.album_value(-1), 0);
    EXPECT_EQ(port.album_cell(3, 0), "");
    EXPECT_EQ(port.album_cell(0, 2), "");
    port.set_album_cell(5, 0, "nothing");

    port.set_history_menu({{"http://x/|安娜", 13146}});
    port.set_clipboard_text("<p>12张图片</p>\r\n");
  });
  EXPECT_EQ(window.status_text(), "[安娜] 合计 3个相册");
  EXPECT_FALSE(window.enter_enabled());
  ASSERT_EQ(window.history_items().size(), 1u);
  EXPECT_EQ(window.history_items()[0].text, "http://x/|安娜");
  EXPECT_EQ(window.clipboard_text(), "<p>12张图片</p>\r\n");

  window.run_on_other_thread([&] {
    port.delete_all_albums();
    EXPECT_EQ(port.album_count(), 0);
    port.set_enter_enabled(true);
  });
  EXPECT_TRUE(window.enter_enabled());
}

TEST_F(WindowPortTest, OperationsOnTheUiThreadRunAtOnce) {
  // No event is handled here: a call that queued itself would never return.
  port.set_url_text("abc");
  EXPECT_EQ(port.url_text(), "abc");
  EXPECT_EQ(port.append_album("t", 1), 0);
  EXPECT_EQ(port.album_count(), 1);
  port.set_status_text("下载开始");
  EXPECT_EQ(window.status_text(), "下载开始");
}

TEST_F(WindowPortTest, ManyThreadsAtOnce) {
  constexpr int threads = 6;
  constexpr int rows_each = 40;
  window.run_on_other_thread([&] {
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&, t] {
        for (int i = 0; i < rows_each; ++i) {
          port.append_album("row", t * 1000 + i);
          port.set_status_text("第 " + std::to_string(i) + " 张下载完成");
        }
      });
    }
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(port.album_count(), threads * rows_each);
    std::vector<bool> seen(threads * 1000, false);
    for (int row = 0; row < threads * rows_each; ++row) seen[port.album_value(row)] = true;
    for (int t = 0; t < threads; ++t) {
      for (int i = 0; i < rows_each; ++i) EXPECT_TRUE(seen[t * 1000 + i]) << t << "/" << i;
    }
  });
}

TEST_F(WindowPortTest, WaitingCallersAreReleasedWhenTheProgramEnds) {
  std::atomic<bool> returned{false};
  std::string text = "unchanged";
  // The UI thread handles no event: the caller waits...
  std::thread caller([&] {
    text = port.url_text();
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(returned);
  // ...until the program ends, when it gets the default result.
  port.release_waiting_callers();
  caller.join();
  EXPECT_EQ(text, "");
  // The queued call finds the program ending and does nothing; later calls
  // return at once.
  window.process_events_until([] { return false; }, 100);
  std::thread late([&] { port.set_url_text("late"); });
  late.join();
}

TEST_F(WindowPortTest, PreviewShowsAGbkPageThatDeclaresItsCharset) {
  const std::string page =
      "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<html xmlns=\"http://www.w3.org/1999/xhtml\">\r\n<head>\r\n"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />\r\n"
      "<title>12张图片</title>\r\n</head>\r\n<body><p>12张图片</p></body></html>";
  port.write_preview(page);
  // The view reads the page as the text it was given, whatever charset the
  // page names: a misread title would not match.
  EXPECT_TRUE(window.process_events_until([&] { return window.preview_title() == "12张图片"; }, 20000))
      << "title: " << window.preview_title();
}

TEST_F(WindowPortTest, PreviewRunsNoScript) {
  port.write_preview(
      "<html><head><title>page</title></head><body onload=\"document.title='onload'\">"
      "<script>document.title='script';</script><p>x</p></body></html>");
  ASSERT_TRUE(window.process_events_until([&] { return !window.preview_title().empty(); }, 20000));
  // Give a script every chance to run before looking again.
  window.process_events_until([] { return false; }, 500);
  EXPECT_EQ(window.preview_title(), "page");
}

TEST_F(WindowPortTest, ClicksOnTheAlbumListCarryTheRowUnderThePointer) {
  std::vector<std::string> routed;
  window.route_album_clicks([&](int row) { routed.push_back("click " + std::to_string(row)); },
                            [&](int row) { routed.push_back("double " + std::to_string(row)); });
  port.append_albums({{"一", 1, "1张"}, {"二", 2, "2张"}, {"三", 3, "3张"}});
  auto wait_for = [&](std::size_t count) {
    return window.process_events_until([&] { return routed.size() >= count; }, 5000);
  };
  // Clicks apart by more than the double-click time.
  auto pause = [&] { window.process_events_until([] { return false; }, 600); };

  window.click_album_list(1, false);
  ASSERT_TRUE(wait_for(1));
  pause();
  // The row already selected: no selection change, but still a click.
  window.click_album_list(1, false);
  ASSERT_TRUE(wait_for(2));
  pause();
  window.click_album_list(-1, false);
  ASSERT_TRUE(wait_for(3));
  pause();
  // A double click: the click of its first press, then the double click.
  window.click_album_list(2, true);
  ASSERT_TRUE(wait_for(5));
  pause();
  window.click_album_list(-1, true);
  ASSERT_TRUE(wait_for(7));
  pause();
  EXPECT_EQ(routed, (std::vector<std::string>{"click 1", "click 1", "click -1", "click 2", "double 2", "click -1",
                                              "double -1"}));
}

TEST(WindowPortWithoutWindow, EveryOperationGivesItsDefault) {
  WxWindowPort port;
  EXPECT_EQ(port.url_text(), "");
  port.set_url_text("x");
  EXPECT_EQ(port.append_album("t", 1), -1);
  EXPECT_EQ(port.album_count(), 0);
  EXPECT_EQ(port.album_value(0), 0);
  EXPECT_EQ(port.album_cell(0, 0), "");
  port.write_preview("<p>x</p>");
  port.set_history_menu({});
}

}  // namespace
}  // namespace velmora
