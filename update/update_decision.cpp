#include "update/update_decision.h"

#include "text/gbk_text.h"
#include "web/text_between.h"

namespace velmora {

std::string update_page_url(std::string_view update_site_host) {
  return "http://" + std::string(update_site_host) + "/quillbay/velmoraget/banner.htm";
}

std::string new_program_url(std::string_view update_site_host) {
  return "http://" + std::string(update_site_host) + "/quillbay/velmoraget/velmoraget.exe";
}

UpdateDecision decide_update(std::string_view update_page, std::string_view own_version) {
  UpdateDecision decision;
  if (update_page.empty()) {
    decision.outcome = UpdateOutcome::network_failure;
    return decision;
  }
  decision.latest = text_between(update_page, "最新版本：", "<");
  if (decision.latest == own_version) {
    decision.outcome = UpdateOutcome::up_to_date;
    return decision;
  }
  if (decision.latest.empty()) {
    decision.outcome = UpdateOutcome::no_version;
    return decision;
  }
  decision.outcome = UpdateOutcome::other_version;
  const std::string notes = text_between(update_page, "新版", "|");
  decision.prompt = "当前版本：" + std::string(own_version) + "\r\n最新版本：" + decision.latest +
                    "\r\n点击确定后立即开始更新！\r\n\r\n" + notes;
  return decision;
}

namespace {

std::string_view trim_blanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// A plain decimal number that fits 64 bits; nullopt otherwise.
std::optional<std::uint64_t> read_length(std::string_view text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

// "HTTP/1.1 200 OK" -> 200; 0 when the line has no three-digit code.
int read_status(std::string_view line) {
  std::size_t space = line.find(' ');
  if (space == std::string_view::npos) return 0;
  std::string_view code = line.substr(space + 1, 3);
  if (code.size() != 3) return 0;
  int status = 0;
  for (char c : code) {
    if (c < '0' || c > '9') return 0;
    status = status * 10 + (c - '0');
  }
  if (line.size() > space + 4 && line[space + 4] != ' ' && line[space + 4] != '\r') return 0;
  return status;
}

}  // namespace

ResponseHead parse_response_head(std::string_view raw_headers) {
  ResponseHead head;
  std::size_t position = 0;
  while (position < raw_headers.size()) {
    std::size_t end = raw_headers.find('\n', position);
    if (end == std::string_view::npos) end = raw_headers.size();
    std::string_view line = raw_headers.substr(position, end - position);
    position = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
      // A new answer begins: what the earlier one said no longer counts.
      head = ResponseHead{};
      head.status = read_status(line);
      continue;
    }
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    if (ascii_lower(trim_blanks(line.substr(0, colon))) != "content-length") continue;
    std::optional<std::uint64_t> length = read_length(trim_blanks(line.substr(colon + 1)));
    if (!length || (head.declared_length && *head.declared_length != *length)) {
      head.length_unreadable = true;
      continue;
    }
    head.declared_length = length;
  }
  return head;
}

ExecutableFormat native_executable_format() {
#ifdef _WIN32
  return ExecutableFormat::mz;
#else
  return ExecutableFormat::elf_or_script;
#endif
}

bool has_executable_format(std::string_view bytes, ExecutableFormat format) {
  switch (format) {
    case ExecutableFormat::elf_or_script:
      return bytes.starts_with(std::string_view("\x7F" "ELF", 4)) || bytes.starts_with("#!");
    case ExecutableFormat::mz:
      return bytes.starts_with("MZ");
  }
  return false;
}

ProgramCheck check_downloaded_program(const ResponseHead& head, std::string_view body, ExecutableFormat format) {
  ProgramCheck check;
  check.status = head.status;
  check.received = body.size();
  check.declared = head.declared_length.value_or(0);
  if (head.status == 0 && body.empty()) {
    check.verdict = ProgramVerdict::no_answer;
  } else if (head.status < 200 || head.status > 299 || head.status == 206) {
    // 206 would be a piece of the file only; nothing here asks for one.
    check.verdict = ProgramVerdict::error_status;
  } else if (!head.length_unreadable && head.declared_length && *head.declared_length != body.size()) {
    check.verdict = ProgramVerdict::incomplete;
  } else if (body.empty()) {
    check.verdict = ProgramVerdict::empty;
  } else if (head.length_unreadable || !head.declared_length) {
    check.verdict = ProgramVerdict::length_unknown;
  } else if (!has_executable_format(body, format)) {
    check.verdict = ProgramVerdict::not_a_program;
  } else {
    check.verdict = ProgramVerdict::accepted;
  }
  return check;
}

std::string refused_download_text(const ProgramCheck& check) {
  std::string cause;
  switch (check.verdict) {
    case ProgramVerdict::accepted:
      return {};
    case ProgramVerdict::no_answer:
      cause = "新版本下载失败：网络访问失败。";
      break;
    case ProgramVerdict::error_status:
      cause = check.status == 0 ? "新版本下载失败：无法识别服务器的回答。"
                                : "新版本下载失败：服务器返回错误（" + std::to_string(check.status) + "）。";
      break;
    case ProgramVerdict::empty:
      cause = "新版本下载失败：服务器返回的文件是空的。";
      break;
    case ProgramVerdict::length_unknown:
      cause = "新版本下载失败：服务器没有告知文件大小，无法确认下载完整。";
      break;
    case ProgramVerdict::incomplete:
      cause = "新版本下载不完整：收到 " + std::to_string(check.received) + " 字节，应为 " +
              std::to_string(check.declared) + " 字节。";
      break;
    case ProgramVerdict::not_a_program:
      cause = "新版本下载失败：下载的文件不是可执行程序。";
      break;
  }
  return cause + "\r\n\r\n原来的程序没有改动，可以继续使用。";
}

}  // namespace velmora
