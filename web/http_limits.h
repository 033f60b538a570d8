#pragma once
// The time limits of the page request and the picture request. The public
// functions use the defaults; the variants taking limits exist so that tests
// can shorten them.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "web/picture_request.h"

namespace velmora {

struct PageRequestLimits {
  std::chrono::milliseconds connect{18000};
  // No byte sent or received for this long ends the request (send and
  // receive time-out alike).
  std::chrono::milliseconds idle{18000};
};

struct PictureRequestLimits {
  // The picture request sets no time-outs of its own, but a server that stops
  // sending must not hold a worker for ever: a minute without a byte ends it,
  // the limit most HTTP stacks apply to a silent peer.
  std::chrono::milliseconds idle{60000};
};

std::string fetch_page_bytes_with_limits(const std::string& url, const std::string& method,
                                         const std::optional<std::string>& proxy,
                                         const std::string& request_headers, const std::string& post_data,
                                         std::string* response_headers, const PageRequestLimits& limits);

std::int32_t fetch_picture_with_limits(const std::string& url, const std::string& file_path,
                                       std::int32_t user_value, const ProgressCallback& progress,
                                       const std::optional<std::string>& referer, int* http_status,
                                       const PictureRequestLimits& limits);

}  // namespace velmora
