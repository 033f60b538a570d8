#pragma once
// Reading a site user's album-list page: the owner's name from the page title
// and one AlbumEntry per "<div class=\"Sets\">" block, in page order. Pure text
// work on program text (GBK); the fields are taken verbatim (character
// references stay as they are) and a block missing a field still gives an
// album, with that field empty (the album number 0).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

struct AlbumEntry {
  std::string title;          // between title=" and ">
  std::int32_t album_number;  // the text between albums/ and /, read as a number
  std::string cover_url;      // between src=" and "; src_data=" when src is empty
  std::string photo_count;    // between <b> and <
  friend bool operator==(const AlbumEntry&, const AlbumEntry&) = default;
};

struct AlbumListPage {
  std::string owner_name;  // between <title> and 的; empty when either is missing
  std::vector<AlbumEntry> albums;
};

// The page as program text.
AlbumListPage scrape_album_page(std::string_view page);

// The page as fetched (UTF-8 bytes): converted, then scraped.
AlbumListPage read_album_list_page(std::string_view page_bytes);

// Column 1 of an album's row: the photo count with the measure word.
std::string photo_count_text(std::string_view photo_count);

// The status text after a scrape: "[" owner "] 合计 " N "个相册".
std::string album_list_summary(std::string_view owner_name, std::size_t album_count);

// The history entry of a listed address: address "|" owner name.
std::string history_entry(std::string_view album_address, std::string_view owner_name);

}  // namespace velmora
