#include "catalogue/preview_page.h"

#include <array>
#include <utility>

#include "text/gbk_text.h"

namespace velmora {

namespace {

constexpr std::string_view crlf = "\r\n";

// The gallery's one-line style rules: selector, declarations. Two of them
// name the album host, written here as {album_site_host}.
constexpr std::array<std::pair<std::string_view, std::string_view>, 20> gallery_rules{{
    {".Set", "OVERFLOW: hidden; MARGIN-BOTTOM: 15px; WIDTH: 130px; TEXT-ALIGN: center"},
    {".Set H4", "FONT-SIZE: 15px; MARGIN-BOTTOM: 0px; WIDTH: 120px; MARGIN-TOP: 0px; FONT-WEIGHT: bold"},
    {".Set P", "FONT-SIZE: 11px; MARGIN-TOP: 2px; COLOR: #000"},
    {".Sets",
     "OVERFLOW: hidden; MARGIN-BOTTOM: 10px; HEIGHT: 180px; WIDTH: 109px; POSITION: relative; FLOAT: left; "
     "TEXT-ALIGN: left; DISPLAY: inline; PADDING-RIGHT: 4px; MARGIN-RIGHT: 5px"},
    {".Sets H4",
     "FONT-SIZE: 12px; OVERFLOW: hidden; WIDTH: 100px; FONT-WEIGHT: bold; TEXT-ALIGN: center; MARGIN: 0px auto; "
     "MAX-HEIGHT: 45px; _height: 45px"},
    {".Sets P", "FONT-SIZE: 11px; MARGIN-TOP: 2px; COLOR: #000; TEXT-ALIGN: center"},
    {".SetCase",
     "HEIGHT: 95px; WIDTH: 91px; VERTICAL-ALIGN: middle; BACKGROUND: url(http://{album_site_host}/img/set_case.gif) "
     "no-repeat; POSITION: relative; PADDING-BOTTOM: 0px; TEXT-ALIGN: center; PADDING-TOP: 7px; MARGIN: 5px auto"},
    {".SetCase IMG",
     "BORDER-TOP: #000 1px solid; BORDER-RIGHT: #000 1px solid; BORDER-BOTTOM: #000 1px solid; PADDING-BOTTOM: 0px; "
     "PADDING-TOP: 0px; PADDING-LEFT: 0px; BORDER-LEFT: #000 1px solid; MARGIN: 0px; PADDING-RIGHT: 0px"},
    {".SetCase IMG.icon",
     "BORDER-TOP-STYLE: none; BORDER-LEFT-STYLE: none; BORDER-BOTTOM-STYLE: none; BORDER-RIGHT-STYLE: none"},
    {".SetCase A", "FONT-SIZE: 0px"},
    {".SetCase IMG.lazyload", "BACKGROUND: #ddd; MARGIN-LEFT: 6px; DISPLAY: block"},
    {".SetCase IMG.Icon",
     "BORDER-LEFT-WIDTH: 0px; BORDER-RIGHT-WIDTH: 0px; BORDER-BOTTOM-WIDTH: 0px; BORDER-TOP-WIDTH: 0px"},
    {".SetCommentsLink", "POSITION: absolute; LEFT: 10px; TOP: 65px"},
    {".SetCaseStar",
     "MARGIN-BOTTOM: 3px; HEIGHT: 95px; WIDTH: 91px; VERTICAL-ALIGN: middle; BACKGROUND: "
     "url(http://{album_site_host}/img/set_case_star.gif) no-repeat; MARGIN-TOP: 5px; POSITION: relative; "
     "PADDING-BOTTOM: 0px; TEXT-ALIGN: center; PADDING-TOP: 7px"},
    {".SetCaseStar IMG",
     "BORDER-TOP: #000 1px solid; BORDER-RIGHT: #000 1px solid; BORDER-BOTTOM: #000 1px solid; PADDING-BOTTOM: 0px; "
     "PADDING-TOP: 0px; PADDING-LEFT: 0px; BORDER-LEFT: #000 1px solid; MARGIN: 0px; PADDING-RIGHT: 0px"},
    {".SetCaseStar IMG.Icon",
     "BORDER-LEFT-WIDTH: 0px; BORDER-RIGHT-WIDTH: 0px; BORDER-BOTTOM-WIDTH: 0px; BORDER-TOP-WIDTH: 0px"},
    {".Seta:link", "TEXT-DECORATION: none; COLOR: #990000"},
    {".Seta:visited", "TEXT-DECORATION: none; COLOR: #990000"},
    {".Seta:hover", "TEXT-DECORATION: none; BACKGROUND: #990000; COLOR: #fff"},
    {".Seta:active", "TEXT-DECORATION: none; BACKGROUND: #990000; COLOR: #fff"},
}};

void add_line(std::string& out, std::string_view line) {
  out.append(line);
  out.append(crlf);
}

// The user name sits in an unquoted href as well: a blank there would end
// the address and start a new attribute, so blanks travel percent-encoded.
std::string escape_user_name(std::string_view user) {
  std::string escaped;
  for (char c : escape_html_text(user)) {
    switch (c) {
      case ' ': escaped += "%20"; break;
      case '\t': escaped += "%09"; break;
      case '\n': escaped += "%0A"; break;
      case '\f': escaped += "%0C"; break;
      case '\r': escaped += "%0D"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

}  // namespace

std::string escape_html_text(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::string preview_page_head(std::string_view album_site_host, std::string_view update_site_host) {
  const std::string album_host(album_site_host);
  std::string head;
  head.reserve(4096);
  add_line(head,
           "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
           "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">");
  add_line(head, "<html xmlns=\"http://www.w3.org/1999/xhtml\">");
  add_line(head, "<head>");
  add_line(head, "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />");
  add_line(head, "<title>无标题文档</title>");
  add_line(head, "<style type=\"text/css\">");
  add_line(head, "");
  for (const auto& [selector, declarations] : gallery_rules) {
    add_line(head, std::string(selector) + " {");
    add_line(head, "\t" + replace_text(declarations, "{album_site_host}", album_host));
    add_line(head, "}");
  }
  add_line(head, "");
  add_line(head, "");
  add_line(head, "body {");
  add_line(head, "\tbackground-image: url(http://" + std::string(update_site_host) + "/quillbay/velmoraget/banner2.png);");
  add_line(head, "\tbackground-repeat: no-repeat;");
  add_line(head, "}");
  add_line(head, "");
  add_line(head, "body,td,th {");
  add_line(head, "\tfont-family: \"微软雅黑\";");
  add_line(head, "\tfont-size: 12px;");
  add_line(head, "}");
  add_line(head, "</style>");
  add_line(head, "</head>");
  add_line(head, "");
  head += "<body> <DIV class=Sets> <DIV class=SetCase><A target=blank href=http://" + album_host + "/photos/";
  return head;
}

std::string build_preview_page(std::string_view album_site_host, std::string_view update_site_host,
                               const PreviewCard& card) {
  const std::string user = escape_user_name(card.site_user);
  const std::string number = std::to_string(card.album_number);
  std::string page = preview_page_head(album_site_host, update_site_host);
  page += user;
  page += "/albums/";
  page += number;
  page += "/><IMG class=setThumb alt='' src='";
  page += escape_html_text(card.cover_url);
  page += "' width=75 height=75></A> </DIV> <H4><A target=blank class=Seta href='http://";
  page += album_site_host;
  page += "/photos/";
  page += user;
  page += "/albums/";
  page += number;
  page += "/'>";
  page += escape_html_text(card.title);
  page += "</A></H4> <P><B>";
  page += escape_html_text(card.count_text);
  page += "图片</B> </P></DIV></BODY></HTML>";
  return page;
}

}  // namespace velmora
