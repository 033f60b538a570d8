#include "download/album_pages.h"

#include "text/gbk_text.h"
#include "web/text_between.h"

namespace velmora {
namespace {
constexpr std::string_view next_page_marker = "thumbnail\">下一页</a>";
constexpr std::string_view photo_marker = "lightbox lb[album] ListPhoto";
}  // namespace

std::string album_page_address(std::string_view album_site_host, std::string_view site_user,
                               std::int32_t album_number, int page) {
  std::string address = "http://";
  address += album_site_host;
  address += "/photos/";
  address += site_user;
  address += "/albums/";
  address += std::to_string(album_number);
  address += "/page";
  address += std::to_string(page);
  address += "/?style=thumbnail";
  return address;
}

bool has_next_page(std::string_view page) { return find_text(page, next_page_marker) != npos; }

std::vector<std::string> photo_chunks_from_pages(std::string_view all_pages) {
  std::string large = replace_text(all_pages, "/square.jpg", "/big.jpg", /*ignore_case=*/true);
  return split_text(large, photo_marker);
}

std::string picture_address(std::string_view chunk) { return text_between(chunk, "src=\"", "\""); }

}  // namespace velmora
