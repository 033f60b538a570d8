#include "update/update_check.h"

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

#include "shell/application.h"
#include "update/program_replacement.h"
#include "update/update_decision.h"
#include "web/encoding.h"
#include "web/page_request.h"

namespace velmora {

namespace fs = std::filesystem;

namespace {

const char* const failure_title = "更新失败";
const char* const old_program_unchanged = "\r\n\r\n原来的程序没有改动，可以继续使用。";
const char* const old_program_restored = "\r\n\r\n原来的程序已经恢复，可以继续使用。";

// A path as program text, for the message boxes.
std::string path_text(const fs::path& path) { return utf8_to_text(path.string()); }

// The cause of a file-system failure in words the user can act on.
std::string cause_text(const std::error_code& error) {
  switch (error.value()) {
    case EACCES:
    case EPERM:
    case EROFS:
      return "没有写入权限";
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return "磁盘空间不足";
    case ENOENT:
      return "找不到文件";
    case ENOEXEC:
      return "不是本系统能运行的程序";
    default:
      return "错误代码 " + std::to_string(error.value());
  }
}

// The old program could not be moved back from its ".delete" name: say where
// it is, so that the user can rename it by hand.
std::string stranded_program_text(const fs::path& executable) {
  return "\r\n\r\n原来的程序无法自动恢复，它现在保存在：\r\n" + path_text(moved_aside_path(executable)) +
         "\r\n请把它改回原来的名字：\r\n" + path_text(executable);
}

std::string replacement_failure_text(const ReplacementResult& result, const fs::path& executable) {
  const std::string folder = path_text(executable.parent_path());
  switch (result.failed_step) {
    case ReplacementStep::none:
      return {};
    case ReplacementStep::write_new:
      return "无法在程序所在的文件夹中保存新版本（" + cause_text(result.error) + "）：\r\n" + folder +
             old_program_unchanged;
    case ReplacementStep::move_old_aside:
      return "无法移开原来的程序（" + cause_text(result.error) + "），更新没有完成。" + old_program_unchanged;
    case ReplacementStep::move_new_in:
      return "无法把新版本放到原来的位置（" + cause_text(result.error) + "），更新没有完成。" +
             (result.old_program_in_place ? std::string(old_program_restored) : stranded_program_text(executable));
  }
  return {};
}

void tell_failure(WindowPort& window, const std::string& text) {
  window.message_box(text, failure_title, MessageBoxButtons::ok, true);
}

// The user said yes: fetch the new program, put it in place only when it
// arrived whole, start it and end this one. Any failure leaves the old
// program where it was and this run going.
void install_update(Application& app) {
  WindowPort& window = app.window;
  const fs::path& executable = app.files.executable;

  std::string raw_headers;
  const std::string new_program =
      fetch_page_bytes(new_program_url(app.hosts.update_site), {}, std::nullopt, {}, {}, &raw_headers);
  const ProgramCheck check =
      check_downloaded_program(parse_response_head(raw_headers), new_program, native_executable_format());
  if (check.verdict != ProgramVerdict::accepted) {
    tell_failure(window, refused_download_text(check));
    return;
  }

  const ReplacementResult replaced = replace_program_file(executable, new_program);
  if (replaced.failed_step != ReplacementStep::none) {
    tell_failure(window, replacement_failure_text(replaced, executable));
    return;
  }

  window.message_box("软件更新成功，即将运行新版本！", "更新完成", MessageBoxButtons::ok, true);

  const std::error_code start_error = start_detached_program(executable);
  if (start_error) {
    std::error_code restore_error;
    const bool restored = put_old_program_back(executable, restore_error);
    tell_failure(window, "新版本无法启动（" + cause_text(start_error) + "），更新已撤销。" +
                             (restored ? std::string(old_program_restored) : stranded_program_text(executable)));
    return;
  }
  window.quit_program();
}

}  // namespace

void check_for_update(Application& app) {
  WindowPort& window = app.window;
  app.update.update_page = fetch_page(update_page_url(app.hosts.update_site));
  const UpdateDecision decision = decide_update(app.update.update_page, current_version);

  switch (decision.outcome) {
    case UpdateOutcome::network_failure:
      window.set_status_text("网络访问失败，无法检测新版本");
      return;
    case UpdateOutcome::up_to_date: {
      window.set_status_text("已经是最新版本");
      // The program an earlier update moved aside, looked for in the working
      // directory (the program's own folder when it was started from there).
      const fs::path executable_name = app.files.executable.filename();
      if (!executable_name.empty()) {
        const fs::path leftover = app.files.working_directory / moved_aside_path(executable_name);
        std::error_code ignored;
        if (!fs::is_directory(fs::symlink_status(leftover, ignored))) fs::remove(leftover, ignored);
      }
      return;
    }
    case UpdateOutcome::no_version:
      return;
    case UpdateOutcome::other_version:
      break;
  }

  if (window.message_box(decision.prompt, "软件需要更新", MessageBoxButtons::ok_cancel, false) != message_box_ok)
    return;
  install_update(app);
}

}  // namespace velmora
