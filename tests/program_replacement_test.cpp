// Putting a new program file in place of the old one on a real disk, and
// starting a program detached.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "support/child_processes.h"
#include "support/test_text.h"
#include "update/program_replacement.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::write_file;

const std::string old_program = "#!/bin/sh\necho old program\n";
const std::string new_program = "#!/bin/sh\necho new program\n";

std::set<std::string> folder_listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

mode_t mode_of(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

class ProgramReplacement : public ::testing::Test {
 protected:
  void SetUp() override {
    executable_ = dir_.path() / "velmora";
    write_file(executable_, old_program);
    fs::permissions(executable_, fs::perms(0755));
  }

  testing::TempDir dir_;
  fs::path executable_;
};

TEST_F(ProgramReplacement, PutsTheNewProgramInPlaceAndKeepsTheOldOneAside) {
  write_file(moved_aside_path(executable_), "an earlier update's leftover");
  ReplacementResult result = replace_program_file(executable_, new_program);
  ASSERT_EQ(result.failed_step, ReplacementStep::none) << result.error.message();
  EXPECT_EQ(read_file(executable_), new_program);
  EXPECT_EQ(mode_of(executable_), 0755u);
  EXPECT_EQ(read_file(dir_.path() / "velmora.delete"), old_program);
  EXPECT_EQ(folder_listing(dir_.path()), (std::set<std::string>{"velmora", "velmora.delete"}));
}

TEST_F(ProgramReplacement, NewProgramTakesTheOldPermissionsAndIsAlwaysRunnableByItsOwner) {
  struct Case {
    mode_t old_mode;
    mode_t new_mode;
  };
  for (Case c : {Case{0700, 0700}, Case{0750, 0750}, Case{0644, 0744}, Case{04755, 0755}, Case{0555, 0755}}) {
    SCOPED_TRACE(c.old_mode);
    write_file(executable_, old_program);
    ASSERT_EQ(::chmod(executable_.c_str(), c.old_mode), 0);
    ASSERT_EQ(replace_program_file(executable_, new_program).failed_step, ReplacementStep::none);
    EXPECT_EQ(mode_of(executable_), c.new_mode);
  }
}

TEST_F(ProgramReplacement, AFailedWriteLeavesTheOldProgramAndNoTemporaryFile) {
  // A file-size limit stands in for a full disk: the write stops part-way.
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &previous);
  struct rlimit saved {};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit small = saved;
  small.rlim_cur = 16;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  ReplacementResult result = replace_program_file(executable_, new_program + std::string(4096, '#'));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &previous, nullptr);

  EXPECT_EQ(result.failed_step, ReplacementStep::write_new);
  EXPECT_EQ(result.error.value(), EFBIG);
  EXPECT_TRUE(result.old_program_in_place);
  EXPECT_EQ(read_file(executable_), old_program);
  EXPECT_EQ(folder_listing(dir_.path()), (std::set<std::string>{"velmora"}));
}

TEST_F(ProgramReplacement, AnOldProgramThatCannotBeMovedAsideStaysAndTheNewOneIsDropped) {
  // The ".delete" name is taken by a folder that is not empty.
  fs::create_directory(moved_aside_path(executable_));
  write_file(moved_aside_path(executable_) / "keep", "x");
  ReplacementResult result = replace_program_file(executable_, new_program);
  EXPECT_EQ(result.failed_step, ReplacementStep::move_old_aside);
  EXPECT_TRUE(result.error);
  EXPECT_TRUE(result.old_program_in_place);
  EXPECT_EQ(read_file(executable_), old_program);
  EXPECT_EQ(folder_listing(dir_.path()), (std::set<std::string>{"velmora", "velmora.delete"}));
  EXPECT_EQ(read_file(moved_aside_path(executable_) / "keep"), "x");
}

TEST_F(ProgramReplacement, AMissingOrUnnamedProgramIsNotReplaced) {
  for (const fs::path& executable : {fs::path(), dir_.path() / "gone"}) {
    SCOPED_TRACE(executable);
    ReplacementResult result = replace_program_file(executable, new_program);
    EXPECT_NE(result.failed_step, ReplacementStep::none);
    EXPECT_EQ(folder_listing(dir_.path()), (std::set<std::string>{"velmora"}));
  }
}

TEST_F(ProgramReplacement, PuttingTheOldProgramBackUndoesTheReplacement) {
  ASSERT_EQ(replace_program_file(executable_, new_program).failed_step, ReplacementStep::none);
  std::error_code error;
  EXPECT_TRUE(put_old_program_back(executable_, error)) << error.message();
  EXPECT_EQ(read_file(executable_), old_program);
  EXPECT_EQ(folder_listing(dir_.path()), (std::set<std::string>{"velmora"}));
  EXPECT_FALSE(put_old_program_back(executable_, error));
  EXPECT_EQ(error.value(), ENOENT);
  EXPECT_EQ(read_file(executable_), old_program);
}

class DetachedStart : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::adopt_orphans(); }
  void TearDown() override { testing::reap_children(); }

  // A script that records what it was started with, then leaves a marker.
  fs::path write_recording_script() {
    fs::path script = dir_.path() / "new program";
    // The signal state is read with shell built-ins before anything forks:
    // the shell blocks signals for a moment around each fork.
    write_file(script, "#!/bin/sh\n"
                       "out='" + (dir_.path() / "record").string() + "'\n"
                       "exec 3> \"$out.tmp\"\n"
                       "while IFS= read -r line; do\n"
                       "  case $line in SigBlk:*|SigIgn:*) echo \"$line\" >&3;; esac\n"
                       "done < /proc/$$/status\n"
                       "{ echo \"$$\"; echo \"$0\"; echo \"$#\"; pwd; ls /proc/$$/fd | tr '\\n' ' '; echo; } >&3\n"
                       "exec 3>&-\n"
                       "mv \"$out.tmp\" \"$out\"\n");
    fs::permissions(script, fs::perms(0755));
    return script;
  }

  testing::TempDir dir_;
};

TEST_F(DetachedStart, RunsTheProgramByItsFullPathWithACleanStartAndLeavesNoChild) {
  const fs::path script = write_recording_script();
  // What this process carries that a started program must not inherit: a
  // blocked and an ignored signal, and a descriptor open across exec.
  sigset_t blocked, previous_mask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR1);
  ::pthread_sigmask(SIG_BLOCK, &blocked, &previous_mask);
  struct sigaction ignore {}, previous_action {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGTERM, &ignore, &previous_action);
  const int leaked = ::dup2(STDERR_FILENO, 77);

  std::error_code error = start_detached_program(script);

  ::close(leaked);
  ::sigaction(SIGTERM, &previous_action, nullptr);
  ::pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);
  ASSERT_FALSE(error) << error.message();

  // Started without waiting: the intermediate process is gone already, and
  // the program itself was handed on (here it comes back to this adopting
  // test process, elsewhere to the system).
  ASSERT_TRUE(testing::wait_for_file(dir_.path() / "record"));
  std::istringstream record(read_file(dir_.path() / "record"));
  std::string pid, argv0, argc, cwd, blocked_line, ignored_line, fds;
  std::getline(record, blocked_line);
  std::getline(record, ignored_line);
  std::getline(record, pid);
  std::getline(record, argv0);
  std::getline(record, argc);
  std::getline(record, cwd);
  std::getline(record, fds);
  EXPECT_EQ(argv0, script.string());
  EXPECT_EQ(argc, "0");
  EXPECT_EQ(fs::path(cwd), fs::current_path());
  EXPECT_EQ(blocked_line, "SigBlk:\t0000000000000000");
  EXPECT_EQ(ignored_line, "SigIgn:\t0000000000000000");
  EXPECT_EQ((" " + fds).find(" 77 "), std::string::npos) << fds;

  for (pid_t child : testing::child_processes()) EXPECT_EQ(child, std::stoi(pid)) << "a process was left behind";
  std::optional<int> status = testing::wait_for_child(std::stoi(pid));
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

TEST_F(DetachedStart, ReportsAProgramThatCannotBeStarted) {
  struct Case {
    const char* name;
    std::string content;  // empty: no file at all
    fs::perms perms;
    int error;
  };
  const Case cases[] = {
      {"no such file", "", fs::perms(0755), ENOENT},
      {"not executable", "#!/bin/sh\ntrue\n", fs::perms(0644), EACCES},
      {"interpreter missing", "#!/nonexistent/interpreter\n", fs::perms(0755), ENOENT},
      {"unknown format", "<html>not a program</html>", fs::perms(0755), ENOEXEC},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path program = dir_.path() / c.name;
    if (!c.content.empty()) {
      write_file(program, c.content);
      fs::permissions(program, c.perms);
    }
    std::error_code error = start_detached_program(program);
    EXPECT_EQ(error.value(), c.error) << error.message();
  }
}

}  // namespace
}  // namespace velmora
