#include <gtest/gtest.h>

#include <string>

#include "web/url.h"

namespace velmora {
namespace {

struct UrlCase {
  std::string url;
  std::string host;
  std::int32_t port;
  std::string path;
  std::string referer_host;  // host_from_url with the port cut off
};

TEST(Url, SplitsTheWayBothRequestsNeed) {
  const UrlCase cases[] = {
      {"http://X.Y:81/a?b#c", "x.y", 81, "/a?b#c", "x.y"},
      // The upper-case scheme counts for split_url but is not found by
      // host_from_url, whose host then runs to the first "/".
      {"HTTP://X.Y/a", "x.y", 80, "/a", "http"},
      {"X.Y/a", "x.y", 80, "/a", "x.y"},
      {"http://X.Y", "x.y", 80, "/", "x.y"},
      {"X.Y", "x.y", 80, "/", "x.y"},
      {"http://X.Y:/a", "x.y", 0, "/a", "x.y"},
      {"http://X.Y:8z/a", "x.y", 8, "/a", "x.y"},
      {"https://X.Y/a", "https", 0, "//X.Y/a", "https"},
      {"a/b?u=http://X.Y/c", "a", 80, "/b?u=http://X.Y/c", "x.y"},
      {"HtTp://Photos.Example:8080/Alice/Albums/", "photos.example", 8080, "/Alice/Albums/", "http"},
      {"", "", 80, "/", ""},
      {"http://", "", 80, "/", ""},
      {"http://x.y:99999999999/", "x.y", 2147483647, "/", "x.y"},
      {"http://User:Pw@X.Y/a", "user", 0, "/a", "user"},
      // The second byte of a double-byte character may look like an upper-case
      // letter; lower-casing leaves it alone.
      {"http://相册.X.Y/照片", "相册.x.y", 80, "/照片", "相册.x.y"},
      {"http://\x81" "AB.Y/", "\x81" "Ab.y", 80, "/", "\x81" "Ab.y"},
  };
  for (const UrlCase& c : cases) {
    const SplitUrl split = split_url(c.url);
    EXPECT_EQ(split.host, c.host) << c.url;
    EXPECT_EQ(split.port, c.port) << c.url;
    EXPECT_EQ(split.path, c.path) << c.url;
    EXPECT_EQ(host_from_url(c.url), c.referer_host) << c.url;
  }
}

TEST(Url, HostFromUrlCanKeepThePort) {
  EXPECT_EQ(host_from_url("http://X.Y:81/a", true), "x.y:81");
  EXPECT_EQ(host_from_url("http://X.Y:81/a", false), "x.y");
  EXPECT_EQ(host_from_url("X.Y:81", true), "x.y:81");
}

}  // namespace
}  // namespace velmora
