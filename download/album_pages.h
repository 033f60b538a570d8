#pragma once
// How the album download reads an album's thumbnail pages and finds its
// photos in them. Pure functions on program text.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// "http://" + host + "/photos/" + site_user + "/albums/" + album number +
// "/page" + page + "/?style=thumbnail"; pages count from 1.
std::string album_page_address(std::string_view album_site_host, std::string_view site_user,
                               std::int32_t album_number, int page);

// Whether a thumbnail page links to a following page: it holds the next-page
// marker, in exactly this letter case.
bool has_next_page(std::string_view page);

// The photo entries of an album from the text of all its pages: every
// thumbnail address ending "/square.jpg" (any letter case) rewritten to the
// large picture's "/big.jpg", then the text cut at every photo marker.
// Element 0 is the text before the first marker; element k belongs to photo k.
// The number of photos is the element count - 1 (none for an empty list).
std::vector<std::string> photo_chunks_from_pages(std::string_view all_pages);

// The large picture's address in a photo entry: between the first `src="`
// and the quote after it; empty when there is none.
std::string picture_address(std::string_view chunk);

}  // namespace velmora
