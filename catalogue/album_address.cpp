#include "catalogue/album_address.h"

#include "text/gbk_text.h"
#include "web/text_between.h"

namespace velmora {

namespace {
constexpr std::string_view http_scheme = "http://";
}

std::string with_http_scheme(std::string_view typed) {
  if (find_text(typed, http_scheme) != npos) return std::string(typed);
  std::string completed(http_scheme);
  completed.append(typed);
  return completed;
}

std::string site_user_in_address(std::string_view address, std::string_view album_site_host) {
  std::string user = text_between(address, std::string(album_site_host) + "/photos/", "/");
  if (user.empty()) user = text_between(address, http_scheme, "." + std::string(album_site_host));
  return user;
}

}  // namespace velmora
