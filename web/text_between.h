#pragma once
// text_between: the one tool with which the program reads web pages.
#include <string>
#include <string_view>

namespace velmora {

// The text strictly between the first start_marker and the first end_marker
// that begins at or after the start marker's end (or, without use_end_marker,
// the rest of the text). Empty when a marker is missing or empty. keep: 1 keeps
// both markers, 2 the start marker, 3 the end marker, anything else neither;
// with keep 1 or 3 the end marker is appended even when nothing was found.
// ignore_case folds ASCII letters in both searches. start_from_end uses the
// start marker's last occurrence, found byte by byte without GBK stepping.
std::string text_between(std::string_view text, std::string_view start_marker, std::string_view end_marker,
                         bool use_end_marker = true, bool ignore_case = false, int keep = 0,
                         bool start_from_end = false);

}  // namespace velmora
