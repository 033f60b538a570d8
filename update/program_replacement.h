#pragma once
// Putting a new program file in place of the running one, and starting it.
// The old file is never touched until the new one stands complete on disk
// beside it, and every failed step puts back what was there before.
#include <filesystem>
#include <string_view>
#include <system_error>

namespace velmora {

// Where the replaced program is kept: its path + ".delete".
std::filesystem::path moved_aside_path(const std::filesystem::path& executable);

enum class ReplacementStep {
  none,            // the new program is in place
  write_new,       // the new program could not be written beside the old one
  move_old_aside,  // the old program could not be renamed to its ".delete" name
  move_new_in,     // the new program could not be renamed into place
};

struct ReplacementResult {
  ReplacementStep failed_step = ReplacementStep::none;
  std::error_code error;
  // False only when a failure after the old program was moved aside also
  // kept it from being moved back: it then stands at moved_aside_path.
  bool old_program_in_place = true;
};

// Writes `new_program` into a temporary file in the executable's folder,
// flushes it to disk and makes it executable (the old file's permission bits
// plus read and execute for its owner), then renames the old file to
// moved_aside_path (replacing an earlier leftover) and the new one to
// `executable`. On failure the temporary file is removed and the old program
// is where it was.
ReplacementResult replace_program_file(const std::filesystem::path& executable, std::string_view new_program);

// Undoes a replacement: the file at moved_aside_path goes back to
// `executable`, replacing the new program. False (with `error`) when it fails.
bool put_old_program_back(const std::filesystem::path& executable, std::error_code& error);

// Starts `program` as a process of its own, with its full path as the whole
// command line (argv[0], no arguments), the environment and working directory
// of this process, and without waiting for it. The new process is handed to
// the system (an intermediate process is reaped here), so no zombie is left
// behind and it outlives this program. Descriptors beyond 0-2 are not passed
// on. Returns the error when the program could not be started (not found, not
// executable, an interpreter that is missing, no process to be had).
std::error_code start_detached_program(const std::filesystem::path& program);

}  // namespace velmora
