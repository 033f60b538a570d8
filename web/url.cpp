#include "web/url.h"

#include "text/gbk_text.h"

namespace velmora {
namespace {

// The leading decimal number of `text`, truncated toward zero; 0 when the
// text does not begin with a digit.
std::int32_t leading_port_number(std::string_view text) {
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > 0x7fffffff) return 0x7fffffff;
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace

SplitUrl split_url(std::string_view url) {
  std::string_view host_part;
  std::size_t slash;
  if (url.size() >= 7 && ascii_lower(url.substr(0, 7)) == "http://") {
    slash = find_text(url, "/", 7);
    host_part = slash == npos ? url.substr(7) : url.substr(7, slash - 7);
  } else {
    slash = find_text(url, "/");
    host_part = slash == npos ? url : url.substr(0, slash);
  }
  SplitUrl result;
  std::size_t colon = find_text(host_part, ":");
  result.host = ascii_lower(colon == npos ? host_part : host_part.substr(0, colon));
  result.port = colon == npos ? 80 : leading_port_number(host_part.substr(colon + 1));
  result.path = slash == npos ? std::string("/") : std::string(url.substr(slash));
  return result;
}

std::string host_from_url(std::string_view url, bool keep_port) {
  std::size_t scheme = find_text(url, "http://");
  std::size_t start = scheme == npos ? 0 : scheme + 7;
  std::size_t slash = find_text(url, "/", start);
  std::string_view host = slash == npos ? url.substr(start) : url.substr(start, slash - start);
  if (!keep_port) {
    std::size_t colon = find_text(host, ":");
    if (colon != npos) host = host.substr(0, colon);
  }
  return ascii_lower(host);
}

}  // namespace velmora
