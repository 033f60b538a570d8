#include "catalogue/album_list_page.h"

#include "text/gbk_text.h"
#include "web/encoding.h"
#include "web/text_between.h"

namespace velmora {

namespace {

AlbumEntry read_album_piece(std::string_view piece) {
  AlbumEntry album;
  // Lazily loaded covers carry their address in src_data only.
  album.cover_url = text_between(piece, "src=\"", "\"");
  if (album.cover_url.empty()) album.cover_url = text_between(piece, "src_data=\"", "\"");
  album.title = text_between(piece, "title=\"", "\">");
  album.album_number = read_number(text_between(piece, "albums/", "/"));
  album.photo_count = text_between(piece, "<b>", "<");
  return album;
}

}  // namespace

AlbumListPage scrape_album_page(std::string_view page) {
  AlbumListPage result;
  result.owner_name = text_between(page, "<title>", "的");
  std::vector<std::string> pieces = split_text(page, "<div class=\"Sets\">");
  // The first piece is what precedes the first album block.
  if (pieces.size() > 1) result.albums.reserve(pieces.size() - 1);
  for (std::size_t i = 1; i < pieces.size(); ++i) result.albums.push_back(read_album_piece(pieces[i]));
  return result;
}

AlbumListPage read_album_list_page(std::string_view page_bytes) { return scrape_album_page(utf8_to_text(page_bytes)); }

std::string photo_count_text(std::string_view photo_count) { return std::string(photo_count) + "张"; }

std::string album_list_summary(std::string_view owner_name, std::size_t album_count) {
  return "[" + std::string(owner_name) + "] 合计 " + std::to_string(album_count) + "个相册";
}

std::string history_entry(std::string_view album_address, std::string_view owner_name) {
  return std::string(album_address) + "|" + std::string(owner_name);
}

}  // namespace velmora
