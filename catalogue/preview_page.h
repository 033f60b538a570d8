#pragma once
// The preview page: one album shown as a card in the album site's gallery
// style (cover in a frame, the title linked to the album, the photo count),
// as an XHTML document in program text (GBK).
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

struct PreviewCard {
  std::string site_user;
  std::int32_t album_number = 0;
  std::string cover_url;
  std::string title;       // as listed: character references undecoded
  std::string count_text;  // the row's column 1, photo count + "张"
};

// The fixed head of every preview page, host names filled in, up to the
// opening of the cover link: lines end in CR LF, the last line has none.
std::string preview_page_head(std::string_view album_site_host, std::string_view update_site_host);

// The whole page for `card`. Every text that comes from outside (the album
// site or the typed address) is escaped on its way in, so it shows as text and
// cannot close its attribute or open a tag.
std::string build_preview_page(std::string_view album_site_host, std::string_view update_site_host,
                               const PreviewCard& card);

// <, >, " and ' as character references; & stays as it is, so the site's own
// character references (&amp;, &#38;) still show as on the site. Safe on GBK
// bytes: no second byte of a double-byte character is below 0x40.
std::string escape_html_text(std::string_view text);

}  // namespace velmora
