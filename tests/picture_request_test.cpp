#include "web/picture_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/raw_http_server.h"
#include "support/test_text.h"
#include "web/http_limits.h"

namespace velmora {
namespace {

using testing::RawHttpServer;
using testing::ReceivedRequest;
using testing::Reply;
using testing::TempDir;
using testing::http_answer;
using testing::read_file;

struct ProgressCall {
  std::int32_t total, received, elapsed_ms, user_value;
};

TEST(PictureRequest, SavesTheBodyAndSendsItsHeaderSet) {
  const std::string body(12000, 'x');
  RawHttpServer server([&](const ReceivedRequest&, Reply& reply) { reply.send(http_answer(200, body)); });
  TempDir dir;
  const auto file = dir.path() / "p.jpg";
  std::vector<ProgressCall> calls;
  int status = 0;
  const std::int32_t result = fetch_picture(
      server.url("/a/big.jpg"), file.string(), 7,
      [&](std::int32_t t, std::int32_t r, std::int32_t e, std::int32_t u) { calls.push_back({t, r, e, u}); },
      std::nullopt, &status);
  EXPECT_EQ(result, 12000);
  EXPECT_EQ(status, 200);
  EXPECT_EQ(read_file(file), body);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].received, 5120);
  EXPECT_EQ(calls[2].received, 12000);
  const std::vector<std::string> expected = {
      "Host: 127.0.0.1:" + std::to_string(server.port()),
      "Accept: */*",
      "Accept-Language: zh-cn",
      "Accept-Encoding: gzip, deflate",
      "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)",
      "Referer: http://127.0.0.1",
      "Cache-Control: no-cache",
      "Pragma: no-cache",
  };
  EXPECT_EQ(server.requests().at(0).header_lines(), expected) << server.requests().at(0).head;
}

}  // namespace
}  // namespace velmora
