// The start-up update check against an update server on loopback, with a
// small program in a temporary folder standing for the running one.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "demo/demo_site.h"
#include "shell/application.h"
#include "support/child_processes.h"
#include "support/recording_window.h"
#include "support/test_text.h"
#include "update/update_check.h"
#include "web/encoding.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using demo::Answer;
using demo::DemoSite;
using demo::RequestRecord;
using testing::MessageBoxCall;
using testing::read_file;
using testing::RecordingWindow;
using testing::write_file;

const std::string old_program = "#!/bin/sh\necho old program 1.1\n";
const char* const banner_path = "/quillbay/velmoraget/banner.htm";
const char* const program_path = "/quillbay/velmoraget/velmoraget.exe";

std::string banner(const std::string& latest_and_rest) {
  return "<html><body><div>最新版本：" + latest_and_rest + "</div></body></html>";
}

std::string prompt_for(const std::string& latest, const std::string& notes) {
  return "当前版本：1.1\r\n最新版本：" + latest + "\r\n点击确定后立即开始更新！\r\n\r\n" + notes;
}

std::set<std::string> folder_listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

// Runs `program` and returns what it prints, or "exit N" when it fails.
std::string run_program(const fs::path& program) {
  FILE* pipe = ::popen(("'" + program.string() + "' 2>&1").c_str(), "r");
  if (!pipe) return "popen failed";
  std::string output;
  char buffer[256];
  while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, got);
  int status = ::pclose(pipe);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return output + "exit " + std::to_string(status);
  return output;
}

class UpdateCheck : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::adopt_orphans(); }

  void SetUp() override {
    program_folder_ = dir_.path() / "程序";
    fs::create_directory(program_folder_);
    executable_ = program_folder_ / "velmora";
    write_file(executable_, old_program);
    fs::permissions(executable_, fs::perms(0755));
    working_directory_ = program_folder_;
  }

  void TearDown() override { testing::reap_children(); }

  // Serves `banner_gbk` as the information page and `new_program` (404 when
  // empty) as the new program; `override_answer` may take over any request.
  void serve(std::string banner_gbk, std::string new_program = {}, DemoSite::Override override_answer = {}) {
    demo::SiteContent content;
    content.update.banner_gbk = std::move(banner_gbk);
    content.update.new_program = std::move(new_program);
    site_ = std::make_unique<DemoSite>(std::move(content));
    ASSERT_TRUE(site_->start());
    if (override_answer) site_->set_override(std::move(override_answer));
    update_host_ = "127.0.0.1:" + std::to_string(site_->port());
  }

  // Runs the check as the window's start-up does; returns the page it read.
  std::string run_check() {
    Application app(window_, Hosts{"localhost:1", update_host_}, ProgramFiles{executable_, working_directory_});
    check_for_update(app);
    return app.update.update_page;
  }

  std::vector<std::string> requested_targets() const {
    std::vector<std::string> targets;
    for (const RequestRecord& request : site_->requests()) targets.push_back(request.target);
    return targets;
  }

  void expect_old_program_untouched() {
    EXPECT_EQ(read_file(executable_), old_program);
    EXPECT_EQ(run_program(executable_), "old program 1.1\n");
    EXPECT_FALSE(window_.quit_requested());
  }

  testing::TempDir dir_;
  fs::path program_folder_;
  fs::path executable_;
  fs::path working_directory_;
  std::unique_ptr<DemoSite> site_;
  std::string update_host_;
  RecordingWindow window_;
};

TEST_F(UpdateCheck, SameVersionSaysSoAndRemovesTheLeftoverOfAnEarlierUpdate) {
  const std::string page = banner("1.1<br>新版说明：修正|");
  serve(page, "#!/bin/sh\necho never fetched\n");
  write_file(program_folder_ / "velmora.delete", "the program an earlier update replaced");
  write_file(program_folder_ / "other.delete", "not ours");

  EXPECT_EQ(run_check(), page);
  EXPECT_EQ(window_.status_text(), "已经是最新版本");
  EXPECT_EQ(window_.calls(), (std::vector<std::string>{"set_status_text"}));
  EXPECT_EQ(folder_listing(program_folder_), (std::set<std::string>{"velmora", "other.delete"}));
  EXPECT_EQ(requested_targets(), (std::vector<std::string>{banner_path}));
  expect_old_program_untouched();
}

TEST_F(UpdateCheck, TheLeftoverIsLookedForInTheWorkingDirectory) {
  serve(banner("1.1<"));
  working_directory_ = dir_.path();
  write_file(dir_.path() / "velmora.delete", "leftover in the working directory");
  write_file(program_folder_ / "velmora.delete", "leftover beside the program");

  run_check();
  EXPECT_EQ(window_.status_text(), "已经是最新版本");
  EXPECT_FALSE(fs::exists(dir_.path() / "velmora.delete"));
  EXPECT_TRUE(fs::exists(program_folder_ / "velmora.delete"));

  // A folder of that name is not a leftover program and stays.
  fs::create_directory(dir_.path() / "velmora.delete");
  run_check();
  EXPECT_TRUE(fs::is_directory(dir_.path() / "velmora.delete"));
}

TEST_F(UpdateCheck, AnyOtherVersionIsOfferedAndDecliningChangesNothing) {
  struct Case {
    const char* name;
    std::string page;
    std::string latest;
    std::string notes;
  };
  const Case cases[] = {
      {"newer", banner("1.10<br>") + "<p>新版|</p>", "1.10", "本：1.10<br></div></body></html><p>新版"},
      {"older", banner("1.0<") + "|", "1.0", "本：1.0<</div></body></html>"},
      {"notes before the version", "<b>新版修正了下载中断的问题|</b>" + banner("2.0<"), "2.0", "修正了下载中断的问题"},
      {"no notes marker", banner("2.0 预览<"), "2.0 预览", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingWindow window;
    serve(c.page, "#!/bin/sh\necho never fetched\n");
    window.answer_message_boxes({message_box_cancel});
    Application app(window, Hosts{"localhost:1", update_host_}, ProgramFiles{executable_, working_directory_});
    check_for_update(app);

    ASSERT_EQ(window.message_boxes().size(), 1u);
    const MessageBoxCall prompt = window.message_boxes()[0];
    EXPECT_EQ(prompt.text, prompt_for(c.latest, c.notes));
    EXPECT_EQ(prompt.title, "软件需要更新");
    EXPECT_EQ(prompt.buttons, MessageBoxButtons::ok_cancel);
    EXPECT_FALSE(prompt.owned_by_window);
    EXPECT_EQ(window.calls(), (std::vector<std::string>{"message_box"}));
    EXPECT_EQ(window.status_text(), "IDC_状态条");
    EXPECT_EQ(requested_targets(), (std::vector<std::string>{banner_path}));
    EXPECT_EQ(folder_listing(program_folder_), (std::set<std::string>{"velmora"}));
    EXPECT_EQ(read_file(executable_), old_program);
    EXPECT_FALSE(window.quit_requested());
  }
}

TEST_F(UpdateCheck, APageWithoutAVersionIsPassedOverInSilence) {
  for (std::string page : {banner("<br>新版|"), std::string("<html>服务器维护中</html>"),
                           std::string("<p>最新版本：1.2 (no tag after it)")}) {
    SCOPED_TRACE(page);
    RecordingWindow window;
    serve(page);
    Application app(window, Hosts{"localhost:1", update_host_}, ProgramFiles{executable_, working_directory_});
    check_for_update(app);
    EXPECT_EQ(app.update.update_page, page);
    EXPECT_TRUE(window.calls().empty());
    EXPECT_EQ(window.status_text(), "IDC_状态条");
  }
}

TEST_F(UpdateCheck, AnUnreachableServerOrAnEmptyPageIsANetworkFailure) {
  // Unreachable: a server that was started and stopped leaves its port closed.
  {
    serve(banner("1.1<"));
    site_->stop();
    SCOPED_TRACE("unreachable");
    EXPECT_EQ(run_check(), "");
    EXPECT_EQ(window_.status_text(), "网络访问失败，无法检测新版本");
    EXPECT_EQ(window_.calls(), (std::vector<std::string>{"set_status_text"}));
    expect_old_program_untouched();
  }
  for (Answer answer : {Answer{200, "text/html", ""}, Answer{200, "text/html", std::string("\0最新版本：2.0<", 15)}}) {
    SCOPED_TRACE("empty page");
    RecordingWindow window;
    serve("", {}, [answer](const RequestRecord&, int) { return std::optional<Answer>(answer); });
    Application app(window, Hosts{"localhost:1", update_host_}, ProgramFiles{executable_, working_directory_});
    check_for_update(app);
    EXPECT_EQ(window.status_history(), (std::vector<std::string>{"网络访问失败，无法检测新版本"}));
    EXPECT_TRUE(window.message_boxes().empty());
  }
}

// A new program that leaves a marker with what it was started with.
std::string marker_program(const fs::path& marker) {
  return "#!/bin/sh\n"
         "{ echo \"$$\"; echo \"$0\"; echo \"$#\"; } > '" + marker.string() + ".tmp'\n"
         "mv '" + marker.string() + ".tmp' '" + marker.string() + "'\n";
}

TEST_F(UpdateCheck, AnAcceptedUpdateReplacesTheProgramStartsItAndQuits) {
  const fs::path marker = dir_.path() / "new program ran";
  const std::string new_program = marker_program(marker);
  serve(banner("1.2<br>新版：更快|"), new_program);
  write_file(program_folder_ / "velmora.delete", "an older leftover");
  window_.answer_message_boxes({message_box_ok, message_box_ok});

  run_check();

  const std::vector<MessageBoxCall> boxes = window_.message_boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].title, "软件需要更新");
  EXPECT_EQ(boxes[1].text, "软件更新成功，即将运行新版本！");
  EXPECT_EQ(boxes[1].title, "更新完成");
  EXPECT_EQ(boxes[1].buttons, MessageBoxButtons::ok);
  EXPECT_TRUE(boxes[1].owned_by_window);
  EXPECT_EQ(window_.calls(), (std::vector<std::string>{"message_box", "message_box", "quit_program"}));
  EXPECT_EQ(requested_targets(), (std::vector<std::string>{banner_path, program_path}));

  // Replaced: the new program under the old name, executable; the old one beside it.
  EXPECT_EQ(read_file(executable_), new_program);
  EXPECT_EQ(fs::status(executable_).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
  EXPECT_EQ(read_file(program_folder_ / "velmora.delete"), old_program);
  EXPECT_EQ(folder_listing(program_folder_), (std::set<std::string>{"velmora", "velmora.delete"}));

  // Started by its full path alone, and not waited for.
  ASSERT_TRUE(testing::wait_for_file(marker)) << "the new program did not run";
  std::istringstream record(read_file(marker));
  std::string pid, argv0, argc;
  std::getline(record, pid);
  std::getline(record, argv0);
  std::getline(record, argc);
  EXPECT_EQ(argv0, executable_.string());
  EXPECT_EQ(argc, "0");
  std::optional<int> status = testing::wait_for_child(std::stoi(pid));
  ASSERT_TRUE(status.has_value()) << "the new program was not handed on to the system";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

TEST_F(UpdateCheck, AFaultyDownloadLeavesTheOldProgramRunning) {
  const std::string good = "#!/bin/sh\necho new program 1.2\n";
  struct Case {
    const char* name;
    std::string new_program;       // what the site serves (empty: 404)
    std::optional<Answer> answer;  // or this answer instead
    std::string told;              // how the message to the user begins
  };
  const Case cases[] = {
      {"no program on the server", "", std::nullopt, "新版本下载失败：服务器返回错误（404）"},
      {"error page", good,
       Answer{500, "text/html", "<html><body>Internal Server Error</body></html>"},
       "新版本下载失败：服务器返回错误（500）"},
      {"error page that looks like a script", good, Answer{503, "application/octet-stream", good},
       "新版本下载失败：服务器返回错误（503）"},
      {"empty success", good, Answer{200, "application/octet-stream", ""}, "新版本下载失败：服务器返回的文件是空的"},
      {"truncated", good, Answer{200, "application/octet-stream", good + std::string(20000, '#'), true, 3000},
       "新版本下载不完整：收到 3000 字节，应为 " + std::to_string(good.size() + 20000) + " 字节"},
      {"closed before the body", good, Answer{200, "application/octet-stream", good, true, 0},
       "新版本下载不完整：收到 0 字节"},
      {"length not declared", good, Answer{200, "application/octet-stream", good, false},
       "新版本下载失败：服务器没有告知文件大小"},
      {"a web page instead of a program", good, Answer{200, "text/html", "<html>最新版本：1.2<br></html>"},
       "新版本下载失败：下载的文件不是可执行程序"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingWindow window;
    window.answer_message_boxes({message_box_ok});
    std::optional<Answer> answer = c.answer;
    serve(banner("1.2<"), c.new_program, [answer](const RequestRecord& request, int) {
      return request.target == program_path ? answer : std::nullopt;
    });
    Application app(window, Hosts{"localhost:1", update_host_}, ProgramFiles{executable_, working_directory_});
    check_for_update(app);

    const std::vector<MessageBoxCall> boxes = window.message_boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(boxes[1].text.starts_with(c.told)) << text_to_utf8(boxes[1].text);
    EXPECT_TRUE(boxes[1].text.ends_with("原来的程序没有改动，可以继续使用。"));
    EXPECT_EQ(boxes[1].title, "更新失败");
    EXPECT_EQ(boxes[1].buttons, MessageBoxButtons::ok);
    EXPECT_FALSE(window.quit_requested());
    EXPECT_EQ(folder_listing(program_folder_), (std::set<std::string>{"velmora"}));
    EXPECT_EQ(read_file(executable_), old_program);
    EXPECT_EQ(run_program(executable_), "old program 1.1\n");
  }
}

TEST_F(UpdateCheck, AnOldProgramThatCannotBeMovedAsideIsKept) {
  serve(banner("1.2<"), "#!/bin/sh\necho new\n");
  fs::create_directory(program_folder_ / "velmora.delete");
  write_file(program_folder_ / "velmora.delete" / "something", "x");
  run_check();

  ASSERT_EQ(window_.message_boxes().size(), 2u);
  const MessageBoxCall told = window_.message_boxes()[1];
  EXPECT_TRUE(told.text.starts_with("无法移开原来的程序")) << text_to_utf8(told.text);
  EXPECT_EQ(told.title, "更新失败");
  EXPECT_EQ(folder_listing(program_folder_), (std::set<std::string>{"velmora", "velmora.delete"}));
  expect_old_program_untouched();
}

TEST_F(UpdateCheck, ANewProgramThatCannotStartIsUndone) {
  serve(banner("1.2<"), "#!/nonexistent/interpreter\necho new\n");
  run_check();

  const std::vector<MessageBoxCall> boxes = window_.message_boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[1].title, "更新完成");
  EXPECT_EQ(boxes[2].text, "新版本无法启动（找不到文件），更新已撤销。\r\n\r\n原来的程序已经恢复，可以继续使用。");
  EXPECT_EQ(boxes[2].title, "更新失败");
  EXPECT_EQ(folder_listing(program_folder_), (std::set<std::string>{"velmora"}));
  expect_old_program_untouched();
}

}  // namespace
}  // namespace velmora
