#include "web/page_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/raw_http_server.h"
#include "web/http_limits.h"

namespace velmora {
namespace {

using testing::RawHttpServer;
using testing::ReceivedRequest;
using testing::Reply;
using testing::http_answer;

RawHttpServer::Handler answer_with(std::string answer) {
  return [answer](const ReceivedRequest&, Reply& reply) { reply.send(answer); };
}

TEST(PageRequest, SendsThePlainGetOnTheWire) {
  RawHttpServer server(answer_with(http_answer(200, "hello", "Content-Type: application/octet-stream\r\n")));
  const std::string url = server.url("/list/a?b=1");
  EXPECT_EQ(fetch_page(url), "hello");
  ASSERT_EQ(server.requests().size(), 1u);
  const ReceivedRequest request = server.requests()[0];
  EXPECT_EQ(request.request_line(), "GET /list/a?b=1 HTTP/1.1");
  const std::vector<std::string> expected = {
      "Host: 127.0.0.1:" + std::to_string(server.port()),
      "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)",
      "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
      "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*",
      "Referer: " + url,
      "Accept-Language: zh-cn",
  };
  EXPECT_EQ(request.header_lines(), expected) << request.head;
  EXPECT_EQ(request.body, "");
}

}  // namespace
}  // namespace velmora
