#pragma once
// The pure half of the update check: what the information page says, the
// prompt shown for another version, and whether a downloaded program may take
// the running one's place. No network, no files, no window.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// Addresses on the update server ("host" or "host:port").
std::string update_page_url(std::string_view update_site_host);
std::string new_program_url(std::string_view update_site_host);

enum class UpdateOutcome {
  network_failure,  // the page is empty: the request failed or the server sent nothing
  up_to_date,       // the page names this program's own version
  no_version,       // nothing between "最新版本：" and the next "<"
  other_version,    // any other text, older or newer: offer it
};

struct UpdateDecision {
  UpdateOutcome outcome = UpdateOutcome::network_failure;
  std::string latest;  // the version the page names (empty unless other_version or up_to_date)
  std::string prompt;  // the question put to the user; only for other_version
};

// Reads the information page (GBK). The version is compared as text, exactly,
// with `own_version`: "1.10" and "1.0" both differ from "1.1". The notes are
// the text between the first "新版" and the first "|" after it; "新版" also
// stands inside "最新版本：", so a page without an earlier "新版" gets notes
// that start with "本：" and the version.
UpdateDecision decide_update(std::string_view update_page, std::string_view own_version);

// The HTTP status and declared length of an answer, read from its raw header
// block. When the block holds several answers (a redirect followed, an
// interim 100), the last one counts. status is 0 when no status line can be
// read; declared_length is empty when the last answer declares none, and
// length_unreadable is set when it declares one that is not a plain decimal
// number or declares two that differ.
struct ResponseHead {
  int status = 0;
  std::optional<std::uint64_t> declared_length;
  bool length_unreadable = false;
};
ResponseHead parse_response_head(std::string_view raw_headers);

enum class ExecutableFormat {
  elf_or_script,  // an ELF image, or a script whose first line starts with "#!"
  mz,             // a DOS/Windows "MZ" image
};
// The format this platform's program loader runs.
ExecutableFormat native_executable_format();
bool has_executable_format(std::string_view bytes, ExecutableFormat format);

enum class ProgramVerdict {
  accepted,
  no_answer,        // nothing came back at all (no connection, no header, no body)
  error_status,     // an answer other than a complete success (not 2xx, or 206)
  empty,            // a success with an empty body (and nothing more declared)
  length_unknown,   // no usable declared length: completeness cannot be confirmed
  incomplete,       // fewer (or more) bytes than the answer declared
  not_a_program,    // the bytes are not in this platform's executable format
};

struct ProgramCheck {
  ProgramVerdict verdict = ProgramVerdict::no_answer;
  int status = 0;
  std::uint64_t received = 0;
  std::uint64_t declared = 0;
};

// Whether a downloaded program may replace the running one: a success status,
// a body of exactly the declared length, more than zero bytes, and the
// platform's executable format. Anything less is refused, so a dropped
// transfer or an error page never takes the program's place.
ProgramCheck check_downloaded_program(const ResponseHead& head, std::string_view body, ExecutableFormat format);

// What the user is told when a download is refused (GBK, several lines).
std::string refused_download_text(const ProgramCheck& check);

}  // namespace velmora
