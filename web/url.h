#pragma once
// Taking URLs apart for the HTTP code. Neither function validates anything;
// both know the "http://" scheme only.
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

struct SplitUrl {
  std::string host;    // lower case, without the port
  std::int32_t port;   // 80 when the URL names none; 0 when the port text is not a number
  std::string path;    // from the "/" that ends the host part; "/" when there is none
};

// Host, port and path of a URL whose first 7 bytes may be "http://" in any case.
SplitUrl split_url(std::string_view url);

// The lower-cased host after the first lower-case "http://" (or from the start
// when there is none), up to the next "/"; the port is cut off unless keep_port.
std::string host_from_url(std::string_view url, bool keep_port = false);

}  // namespace velmora
