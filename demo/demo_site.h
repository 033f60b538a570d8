#pragma once
// The bundled demo album site: a small HTTP server on loopback that serves
// what the program reads from the photo-album site and from the update server.
// The run command starts it for a newcomer's first look; the tests start it
// in-process on a free port, with faults where a test needs them.
//
// Addresses it answers (any Host header; path form and sub-domain form alike):
//   /photos/<user>/albums/                        a user's album list (UTF-8)
//   /photos/<user>/albums/<n>/page<k>/?style=thumbnail   thumbnail page k of album n
//   /photos/<user>/albums/<n>/                    its first thumbnail page (the album's link)
//   /photos/<user>/albums/<n>/<photo>/square.jpg  a thumbnail (JPEG)
//   /photos/<user>/albums/<n>/<photo>/big.jpg     the large picture (JPEG)
//   /                                             with Host <user>.<album host>: that user's album list;
//                                                 with any other Host: a page linking every user
//   /quillbay/velmoraget/banner.htm               the update information page (GBK)
//   /quillbay/velmoraget/banner2.png              its background picture
//   /quillbay/velmoraget/velmoraget.exe           the new program, when one is offered (else 404)
//   /img/set_case.gif, /img/set_case_star.gif     the frames of the preview card
// Anything else is answered 404. Pages name pictures and links with absolute
// addresses on the Host of the request, less a user's sub-domain.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace velmora::demo {

struct DemoPhoto {
  std::string picture_path;  // the address path of its large picture (…/big.jpg or another ending)
  std::string jpeg;          // the bytes served for it
  // The thumbnail named on the album's pages. Empty: picture_path with a final
  // "/big.jpg" turned into "/square.jpg" (any other ending: picture_path itself).
  std::string thumbnail_path;
  std::string thumbnail_jpeg;  // the thumbnail's bytes; empty: `jpeg`
};

struct DemoAlbum {
  std::int32_t number = 0;
  std::string title_html;    // UTF-8, exactly as it stands in the page's title="…" attribute
  std::string cover_path;    // address path of the cover thumbnail
  bool cover_in_src_data = false;  // the page names the cover only in src_data="…"
  std::vector<DemoPhoto> photos;
  int photos_per_page = 8;   // thumbnail pages hold this many photos each
  std::string cover_jpeg;    // bytes served at cover_path; empty: the first photo's thumbnail
  int listed_count = -1;     // the photo count the album list shows; -1: photos.size()
};

struct DemoUser {
  std::string name;          // as in /photos/<name>/
  std::string display_name;  // UTF-8, in the page title: <title>NAME的相册</title>
  std::vector<DemoAlbum> albums;
};

struct UpdateContent {
  std::string banner_gbk;    // banner.htm, GBK bytes
  std::string new_program;   // velmoraget.exe; empty: answered with 404
};

// Any other file the site serves as it is (the update page's background, the
// frames of the preview card).
struct DemoFile {
  std::string path;
  std::string content_type;
  std::string bytes;
};

struct SiteContent {
  std::vector<DemoUser> users;
  UpdateContent update;
  std::vector<DemoFile> files;
  // The demo's own content: a few users and albums with Chinese titles, an
  // album whose cover is in src_data only, one whose title holds character
  // references, real JPEG pictures; the banner offering version 1.1.
  // Throws std::runtime_error naming the file when a picture of demo/data
  // cannot be read.
  static SiteContent demo();
};

// The update page (GBK) announcing `latest_version`, with release notes.
std::string demo_banner_gbk(const std::string& latest_version);

// How to answer one request, decided by a test.
struct Answer {
  int status = 200;
  std::string content_type = "application/octet-stream";
  std::string body;
  bool declare_length = true;            // false: no Content-Length (chunked)
  std::optional<std::size_t> drop_after;  // close the connection after this many body bytes
  std::chrono::milliseconds delay_before_answer{0};  // silence before the status line
  std::chrono::milliseconds delay_each_block{0};  // pause between blocks of the body
  std::size_t block_size = 4096;          // bytes per block of the body
};

struct RequestRecord {
  std::string method;
  std::string target;   // path and query as sent
  std::string host;     // Host header
  std::vector<std::pair<std::string, std::string>> headers;  // in the order received
  std::string body;     // the request body (POST), as received
  std::chrono::steady_clock::time_point started;   // when the request began to arrive
  // When the last byte of the answer was handed to the connection, or the
  // answer broke off; time_point::max() while it is still being sent.
  std::chrono::steady_clock::time_point finished = std::chrono::steady_clock::time_point::max();
};

class DemoSite {
 public:
  // Serves `content` on 127.0.0.1:`port` (0: a free port).
  explicit DemoSite(SiteContent content, int port = 0);
  ~DemoSite();  // stops the server
  DemoSite(const DemoSite&) = delete;
  DemoSite& operator=(const DemoSite&) = delete;

  // Starts listening and returns once the server answers; false when the port
  // cannot be bound.
  bool start();
  void stop();
  int port() const;

  // A test may take over any request: return an Answer to send it, or nullopt
  // to let the site answer as usual. `attempt` counts requests for the same
  // target, from 1. It runs on the connection's own thread, so several calls
  // may overlap. Bodies are always sent exactly as given, never compressed.
  // Content, log and override outlast stop() and a new start().
  using Override = std::function<std::optional<Answer>(const RequestRecord& request, int attempt)>;
  void set_override(Override override_answer);

  // Every request so far, in the order they arrived.
  std::vector<RequestRecord> requests() const;
  // The most picture transfers (requests for .jpg paths) served at the same time.
  int max_concurrent_pictures() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora::demo
