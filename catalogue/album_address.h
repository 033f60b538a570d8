#pragma once
// The two accepted forms of an album-list address, as pure text rules.
//   path form:       http://<album host>/photos/<user>/albums/
//   sub-domain form: http://<user>.<album host>/
#include <string>
#include <string_view>

namespace velmora {

// The typed text with "http://" put in front when it holds "http://" nowhere
// (anywhere counts, and letter case counts: "HTTP://..." gets a second scheme).
std::string with_http_scheme(std::string_view typed);

// The site user named in `address`: the path form first, the sub-domain form
// when that yields nothing. Empty when neither form fits.
std::string site_user_in_address(std::string_view address, std::string_view album_site_host);

}  // namespace velmora
