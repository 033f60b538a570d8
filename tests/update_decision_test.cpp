// The update decision read from the information page, the reading of an
// answer's header block, and the acceptance of a downloaded program.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "shell/application.h"
#include "update/update_decision.h"

namespace velmora {
namespace {

TEST(UpdateAddresses, AreOnTheUpdateHost) {
  EXPECT_EQ(update_page_url("127.0.0.1:47180"), "http://127.0.0.1:47180/quillbay/velmoraget/banner.htm");
  EXPECT_EQ(new_program_url("up.example"), "http://up.example/quillbay/velmoraget/velmoraget.exe");
}

struct PageCase {
  const char* name;
  std::string page;
  UpdateOutcome outcome;
  std::string latest;
  std::string notes;  // what the prompt carries after its fixed lines (other_version only)
};

TEST(DecideUpdate, ReadsTheVersionAndNotesOfThePage) {
  const PageCase cases[] = {
      {"empty page: the request failed", "", UpdateOutcome::network_failure, "", ""},
      {"own version", "<p>最新版本：1.1</p>", UpdateOutcome::up_to_date, "1.1", ""},
      {"own version, notes ignored", "<b>新版特性|</b>最新版本：1.1<br>", UpdateOutcome::up_to_date, "1.1", ""},
      // Equality, not an ordering: newer and older texts alike are offered.
      {"newer, longer text", "最新版本：1.10<br>新版说明|", UpdateOutcome::other_version, "1.10",
       "本：1.10<br>新版说明"},
      {"older", "最新版本：1.0<br>|", UpdateOutcome::other_version, "1.0", "本：1.0<br>"},
      {"blank around the version counts", "最新版本： 1.1<", UpdateOutcome::other_version, " 1.1", ""},
      {"letter case counts", "最新版本：V1.1<", UpdateOutcome::other_version, "V1.1", ""},
      // "新版" stands inside "最新版本：" too: an earlier one wins.
      {"notes before the version", "<i>新版功能：下载更快|</i>最新版本：2.0<", UpdateOutcome::other_version, "2.0",
       "功能：下载更快"},
      {"no bar: no notes", "最新版本：2.0<br>新版说明", UpdateOutcome::other_version, "2.0", ""},
      {"nothing before the next <", "最新版本：<br>新版|", UpdateOutcome::no_version, "", ""},
      {"no < after the marker", "最新版本：1.2", UpdateOutcome::no_version, "", ""},
      {"no marker at all", "<html><body>维护中</body></html>", UpdateOutcome::no_version, "", ""},
      {"marker with an ASCII colon", "最新版本:1.2<", UpdateOutcome::no_version, "", ""},
  };
  for (const PageCase& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateDecision decision = decide_update(c.page, current_version);
    EXPECT_EQ(decision.outcome, c.outcome);
    if (c.outcome == UpdateOutcome::other_version) {
      EXPECT_EQ(decision.latest, c.latest);
      EXPECT_EQ(decision.prompt, "当前版本：1.1\r\n最新版本：" + c.latest + "\r\n点击确定后立即开始更新！\r\n\r\n" + c.notes);
    } else {
      EXPECT_EQ(decision.prompt, "");
    }
  }
}

TEST(DecideUpdate, VersionEndsAtTheFirstAngleBracketAndMayHoldChinese) {
  UpdateDecision decision = decide_update("最新版本：2.0测试版</td><td>最新版本：9.9<", current_version);
  EXPECT_EQ(decision.outcome, UpdateOutcome::other_version);
  EXPECT_EQ(decision.latest, "2.0测试版");
}

struct HeadCase {
  const char* name;
  std::string raw;
  int status;
  std::optional<std::uint64_t> length;
  bool unreadable;
};

TEST(ParseResponseHead, TakesStatusAndLengthOfTheLastAnswer) {
  const HeadCase cases[] = {
      {"plain", "HTTP/1.1 200 OK\r\nContent-Length: 42\r\nServer: x\r\n\r\n", 200, 42, false},
      {"any letter case and blanks", "HTTP/1.1 200 OK\r\ncontent-LENGTH:   7 \t\r\n\r\n", 200, 7, false},
      {"bare line feeds", "HTTP/1.0 200 OK\nContent-Length: 3\n\n", 200, 3, false},
      {"zero length", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 200, 0, false},
      {"no length (chunked)", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", 200, std::nullopt, false},
      {"a redirect followed",
       "HTTP/1.1 302 Found\r\nContent-Length: 5\r\nLocation: /b\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n",
       200, 9, false},
      {"the redirect's length does not carry over",
       "HTTP/1.1 301 Moved\r\nContent-Length: 5\r\n\r\nHTTP/1.1 200 OK\r\n\r\n", 200, std::nullopt, false},
      {"interim answer", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 404 Not Found\r\nContent-Length: 12\r\n\r\n", 404, 12,
       false},
      {"version 2 status line", "HTTP/2 503\r\ncontent-length: 1\r\n\r\n", 503, 1, false},
      {"similar header name", "HTTP/1.1 200 OK\r\nX-Content-Length: 5\r\n\r\n", 200, std::nullopt, false},
      {"two equal lengths", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 5\r\n\r\n", 200, 5, false},
      {"two different lengths", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n", 200, 5, true},
      {"length with letters", "HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\n", 200, std::nullopt, true},
      {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", 200, std::nullopt, true},
      {"length beyond 64 bits", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n", 200, std::nullopt,
       true},
      {"empty block", "", 0, std::nullopt, false},
      {"the block did not fit its buffer", std::string(1024, ' '), 0, std::nullopt, false},
      {"garbled status", "HTTP/1.1 2x0 OK\r\nContent-Length: 1\r\n\r\n", 0, 1, false},
  };
  for (const HeadCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResponseHead head = parse_response_head(c.raw);
    EXPECT_EQ(head.status, c.status);
    EXPECT_EQ(head.declared_length, c.length);
    EXPECT_EQ(head.length_unreadable, c.unreadable);
  }
}

TEST(ExecutableFormat, RecognisesTheLoadersOwnImages) {
  const std::string elf("\x7F" "ELF\x02\x01\x01", 7);
  EXPECT_TRUE(has_executable_format(elf, ExecutableFormat::elf_or_script));
  EXPECT_TRUE(has_executable_format("#!/bin/sh\n", ExecutableFormat::elf_or_script));
  EXPECT_TRUE(has_executable_format("MZ\x90", ExecutableFormat::mz));
  for (std::string bytes : {std::string("MZ\x90"), std::string("\x7F" "EL"), std::string("#"), std::string(" #!/bin/sh"),
                            std::string("\xEF\xBB\xBF#!/bin/sh"), std::string("<html>"), std::string()})
    EXPECT_FALSE(has_executable_format(bytes, ExecutableFormat::elf_or_script)) << bytes;
  for (std::string bytes : {elf, std::string("#!/bin/sh"), std::string("mz"), std::string("M"), std::string()})
    EXPECT_FALSE(has_executable_format(bytes, ExecutableFormat::mz)) << bytes;
#ifdef _WIN32
  EXPECT_EQ(native_executable_format(), ExecutableFormat::mz);
#else
  EXPECT_EQ(native_executable_format(), ExecutableFormat::elf_or_script);
#endif
}

struct DownloadCase {
  const char* name;
  int status;
  std::optional<std::uint64_t> declared;
  bool length_unreadable;
  std::string body;
  ExecutableFormat format;
  ProgramVerdict verdict;
};

TEST(CheckDownloadedProgram, AcceptsOnlyAWholeProgramWithASuccessStatus) {
  const std::string script = "#!/bin/sh\necho new\n";
  const std::string elf = std::string("\x7F" "ELF", 4) + std::string(60, '\0');
  const std::string mz = "MZ" + std::string(62, '\0');
  const auto size = [](const std::string& s) { return std::optional<std::uint64_t>(s.size()); };
  const auto native = ExecutableFormat::elf_or_script;
  const DownloadCase cases[] = {
      {"script", 200, size(script), false, script, native, ProgramVerdict::accepted},
      {"ELF image with zero bytes", 200, size(elf), false, elf, native, ProgramVerdict::accepted},
      {"MZ image where MZ runs", 200, size(mz), false, mz, ExecutableFormat::mz, ProgramVerdict::accepted},
      {"another 2xx", 203, size(script), false, script, native, ProgramVerdict::accepted},
      {"nothing came back", 0, std::nullopt, false, "", native, ProgramVerdict::no_answer},
      {"unreadable answer with a body", 0, std::nullopt, false, script, native, ProgramVerdict::error_status},
      {"not found, a script-like error page", 404, size(script), false, script, native, ProgramVerdict::error_status},
      {"server error", 500, size(script), false, script, native, ProgramVerdict::error_status},
      {"redirect not followed", 302, size(script), false, script, native, ProgramVerdict::error_status},
      {"partial content", 206, size(script), false, script, native, ProgramVerdict::error_status},
      {"empty success", 200, 0, false, "", native, ProgramVerdict::empty},
      {"no content", 204, std::nullopt, false, "", native, ProgramVerdict::empty},
      {"no declared length", 200, std::nullopt, false, script, native, ProgramVerdict::length_unknown},
      {"unreadable length", 200, std::nullopt, true, script, native, ProgramVerdict::length_unknown},
      {"declared, nothing arrived", 200, size(script), false, "", native, ProgramVerdict::incomplete},
      {"truncated", 200, script.size() + 100, false, script, native, ProgramVerdict::incomplete},
      {"longer than declared", 200, script.size() - 1, false, script, native, ProgramVerdict::incomplete},
      {"an HTML page", 200, 13, false, "<html></html>", native, ProgramVerdict::not_a_program},
      {"MZ image on this loader", 200, size(mz), false, mz, native, ProgramVerdict::not_a_program},
      {"ELF where MZ runs", 200, size(elf), false, elf, ExecutableFormat::mz, ProgramVerdict::not_a_program},
  };
  for (const DownloadCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResponseHead head{c.status, c.declared, c.length_unreadable};
    ProgramCheck check = check_downloaded_program(head, c.body, c.format);
    EXPECT_EQ(check.verdict, c.verdict);
    const std::string told = refused_download_text(check);
    if (c.verdict == ProgramVerdict::accepted) {
      EXPECT_EQ(told, "");
    } else {
      // Every refusal tells the user that the old program is untouched.
      EXPECT_TRUE(told.ends_with("原来的程序没有改动，可以继续使用。")) << told;
    }
  }
}

TEST(CheckDownloadedProgram, TellsHowMuchOfATruncatedProgramArrived) {
  ProgramCheck check = check_downloaded_program(ResponseHead{200, 5000, false}, "#!/bin/sh\n", ExecutableFormat::elf_or_script);
  ASSERT_EQ(check.verdict, ProgramVerdict::incomplete);
  EXPECT_EQ(refused_download_text(check), "新版本下载不完整：收到 10 字节，应为 5000 字节。\r\n\r\n原来的程序没有改动，可以继续使用。");
  check = check_downloaded_program(ResponseHead{404, 10, false}, "#!/bin/sh\n", ExecutableFormat::elf_or_script);
  EXPECT_NE(refused_download_text(check).find("404"), std::string::npos);
}

}  // namespace
}  // namespace velmora
