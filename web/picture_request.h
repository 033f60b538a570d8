#pragma once
// The picture request: streams one URL straight into a file, block by block,
// reporting progress after every block. The body is saved exactly as it
// arrives (no content decoding), so its length can be compared with the
// declared Content-Length.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace velmora {

// total: the declared Content-Length (0 when none); received: bytes written so
// far; elapsed_ms: since the first read (10 when it comes out as 0).
using ProgressCallback =
    std::function<void(std::int32_t total, std::int32_t received, std::int32_t elapsed_ms, std::int32_t user_value)>;

// Returns -1 when nothing was transferred (URL unreachable, file not
// creatable; the file is then left untouched), otherwise the declared
// Content-Length (0 when none), whether or not the whole body arrived.
// file_path is a native (UTF-8 on Linux) path. `http_status`, when given,
// receives the final HTTP status (0 when there was no answer).
std::int32_t fetch_picture(const std::string& url, const std::string& file_path, std::int32_t user_value,
                           const ProgressCallback& progress, std::optional<std::string> referer = std::nullopt,
                           int* http_status = nullptr);

}  // namespace velmora
