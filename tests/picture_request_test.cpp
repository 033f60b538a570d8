#include "web/picture_request.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/env_guard.h"
#include "support/raw_http_server.h"
#include "support/test_text.h"
#include "web/http_limits.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using testing::EnvGuard;
using testing::RawHttpServer;
using testing::ReceivedRequest;
using testing::Reply;
using testing::TempDir;
using testing::closed_loopback_port;
using testing::http_answer;
using testing::read_file;
using testing::write_file;

struct ProgressCall {
  std::int32_t total, received, elapsed_ms, user_value;
  std::uintmax_t file_size;  // at the time of the call
};

// One fetch_picture call and everything it reported.
struct Outcome {
  std::int32_t result = 0;
  int status = -2;
  std::vector<ProgressCall> calls;

  std::vector<std::int32_t> received() const {
    std::vector<std::int32_t> counts;
    for (const ProgressCall& call : calls) counts.push_back(call.received);
    return counts;
  }
};

Outcome fetch(const std::string& url, const std::filesystem::path& file, std::optional<std::string> referer = {},
              const PictureRequestLimits& limits = {}) {
  Outcome outcome;
  outcome.result = fetch_picture_with_limits(
      url, file.string(), 42,
      [&](std::int32_t total, std::int32_t received, std::int32_t elapsed_ms, std::int32_t user_value) {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(file, error);
        outcome.calls.push_back({total, received, elapsed_ms, user_value, error ? 0 : size});
      },
      referer, &outcome.status, limits);
  return outcome;
}

std::string path_of(const ReceivedRequest& request) {
  const std::string line = request.request_line();
  return line.substr(4, line.find(' ', 4) - 4);
}

std::string body_of_size(std::size_t size) {
  std::string body;
  for (std::size_t i = 0; i < size; ++i) body.push_back(static_cast<char>(i * 31 % 251));
  return body;
}

// The start of an answer whose body is sent piece by piece afterwards.
std::string answer_head(std::string_view length_header) {
  return "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n" + std::string(length_header) + "\r\n";
}

std::vector<std::string> picture_header_lines(const std::string& host_line, const std::string& referer) {
  return {
      host_line,
      "Accept: */*",
      "Accept-Language: zh-cn",
      "Accept-Encoding: gzip, deflate",
      "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)",
      "Referer: " + referer,
      "Cache-Control: no-cache",
      "Pragma: no-cache",
  };
}

class PictureRequestTest : public ::testing::Test {
 protected:
  void SetUp() override { env_.clear_proxies(); }
  std::filesystem::path file(const std::string& name = "picture.jpg") const { return dir_.path() / name; }
  std::string host_line(const RawHttpServer& server) const {
    return "Host: 127.0.0.1:" + std::to_string(server.port());
  }

  EnvGuard env_;
  TempDir dir_;
};

TEST_F(PictureRequestTest, HeaderSetAndReferer) {
  RawHttpServer server([](const ReceivedRequest&, Reply& reply) { reply.send(http_answer(200, "jpeg")); });
  const std::string port = std::to_string(server.port());
  struct Case {
    std::string url;
    std::optional<std::string> referer;
    std::string request_line, sent_referer;
  };
  const std::vector<Case> cases = {
      // The default Referer is the host alone: no port, no path.
      {server.url("/a/b/big.jpg?x=1"), std::nullopt, "GET /a/b/big.jpg?x=1 HTTP/1.1", "http://127.0.0.1"},
      {server.url("/p.jpg"), "http://album.example/u/1", "GET /p.jpg HTTP/1.1", "http://album.example/u/1"},
      // The default Referer looks for the scheme in lower case only.
      {"HTTP://127.0.0.1:" + port + "/C.jpg", std::nullopt, "GET /C.jpg HTTP/1.1", "http://http"},
      // Nothing a page says can add a header line.
      {server.url("/p.jpg"), "http://r/\r\nX-Injected: 1", "GET /p.jpg HTTP/1.1", "http://r/X-Injected: 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const Outcome outcome = fetch(c.url, file(), c.referer);
    EXPECT_EQ(outcome.result, 4);
    EXPECT_EQ(read_file(file()), "jpeg");
    const ReceivedRequest request = server.requests().back();
    EXPECT_EQ(request.request_line(), c.request_line);
    EXPECT_EQ(request.header_lines(), picture_header_lines(host_line(server), c.sent_referer)) << request.head;
  }
}

TEST_F(PictureRequestTest, ProgressComesPerBlockOfAtMost5120Bytes) {
  // The body is sent in pieces that do not match the blocks; the blocks are
  // the same whatever the pieces.
  struct Case {
    std::size_t size, piece;
    std::vector<std::int32_t> received;
  };
  const std::vector<Case> cases = {
      {0, 0, {}},
      {1, 1, {1}},
      {5120, 5120, {5120}},
      {5120, 1000, {5120}},
      {5121, 5121, {5120, 5121}},
      {9000, 3000, {5120, 9000}},
      {12000, 12000, {5120, 10240, 12000}},
      {30720, 7000, {5120, 10240, 15360, 20480, 25600, 30720}},
  };
  // "/SIZE/PIECE": a body of SIZE bytes, sent PIECE bytes at a time.
  RawHttpServer server([](const ReceivedRequest& request, Reply& reply) {
    const std::string path = path_of(request);
    const std::size_t size = std::stoul(path.substr(1));
    const std::size_t piece = std::stoul(path.substr(path.find('/', 1) + 1));
    const std::string body = body_of_size(size);
    reply.send(answer_head("Content-Length: " + std::to_string(size) + "\r\n"));
    for (std::size_t at = 0; at < size; at += piece) {
      if (!reply.send(std::string_view(body).substr(at, piece))) return;
      reply.pause(5ms);
    }
  });
  for (const Case& c : cases) {
    SCOPED_TRACE("size " + std::to_string(c.size) + " in pieces of " + std::to_string(c.piece));
    const Outcome outcome =
        fetch(server.url("/" + std::to_string(c.size) + "/" + std::to_string(std::max<std::size_t>(c.piece, 1))),
              file());
    EXPECT_EQ(outcome.result, static_cast<std::int32_t>(c.size));
    EXPECT_EQ(read_file(file()), body_of_size(c.size));
    EXPECT_EQ(outcome.received(), c.received);
    for (const ProgressCall& call : outcome.calls) {
      EXPECT_EQ(call.total, static_cast<std::int32_t>(c.size));
      EXPECT_EQ(call.user_value, 42);
      EXPECT_GT(call.elapsed_ms, 0);  // a block within the first millisecond reports 10
      EXPECT_GE(call.file_size, static_cast<std::uintmax_t>(call.received));  // reported bytes are on disk
    }
  }
}

TEST_F(PictureRequestTest, ElapsedTimeRunsFromTheFirstRead) {
  RawHttpServer server([](const ReceivedRequest&, Reply& reply) {
    reply.pause(300ms);  // time before the answer does not count
    reply.send(answer_head("Content-Length: 10240\r\n"));
    reply.send(std::string(5120, 'a'));
    reply.pause(250ms);
    reply.send(std::string(5120, 'b'));
  });
  const Outcome outcome = fetch(server.url("/p.jpg"), file());
  ASSERT_EQ(outcome.calls.size(), 2u);
  EXPECT_LT(outcome.calls[0].elapsed_ms, 200);
  EXPECT_GE(outcome.calls[1].elapsed_ms, 240);
  EXPECT_LT(outcome.calls[1].elapsed_ms, 1500);
}

TEST_F(PictureRequestTest, BodiesAreSavedAsTheyArrive) {
  const std::string gzip_body(
      "\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\x2b\x4b\xcd\xc9\xcd\x2f\x4a\x54\x28\xc3\x4e\x73\x01\x00\xf9\x24\xdc"
      "\x2f\x20\x00\x00\x00",
      32);
  const std::string big = body_of_size(700 * 1024);
  RawHttpServer server([&](const ReceivedRequest& request, Reply& reply) {
    const std::string path = path_of(request);
    if (path == "/gzip") {
      reply.send(http_answer(200, gzip_body, "Content-Type: text/plain\r\nContent-Encoding: gzip\r\n"));
    } else if (path == "/missing") {
      reply.send(http_answer(404, "<h1>no such picture</h1>"));
    } else if (path == "/chunked") {
      reply.send(answer_head("Transfer-Encoding: chunked\r\n"));
      reply.send("1800\r\n" + std::string(0x1800, 'c') + "\r\n");
      reply.pause(10ms);
      reply.send("10\r\n0123456789abcdef\r\n0\r\n\r\n");
    } else if (path == "/trailer") {
      reply.send(answer_head("Transfer-Encoding: chunked\r\nTrailer: X-Check\r\n"));
      reply.send("1770\r\n" + std::string(6000, 't') + "\r\n0\r\nX-Check: 1\r\n\r\n");
    } else if (path == "/until-close") {
      reply.send("HTTP/1.0 200 OK\r\nContent-Type: image/jpeg\r\n\r\n" + std::string(6000, 'u'));
    } else if (path == "/unreadable-length") {
      reply.send(answer_head("Content-Length: 5000000000\r\n"));
      reply.send(std::string(100, 'L'));
    } else if (path == "/big") {
      reply.send(http_answer(200, big));
    }
  });
  struct Case {
    std::string path;
    std::string content;
    std::int32_t result;
    int status;
  };
  const std::vector<Case> cases = {
      {"/gzip", gzip_body, 32, 200},
      {"/missing", "<h1>no such picture</h1>", 24, 404},
      {"/chunked", std::string(0x1800, 'c') + "0123456789abcdef", 0, 200},
      // A trailer after the body is no new answer.
      {"/trailer", std::string(6000, 't'), 0, 200},
      {"/until-close", std::string(6000, 'u'), 0, 200},
      // A length that does not fit 32 bits cannot be read: 0.
      {"/unreadable-length", std::string(100, 'L'), 0, 200},
      {"/big", big, static_cast<std::int32_t>(big.size()), 200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const Outcome outcome = fetch(server.url(c.path), file());
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(read_file(file()), c.content);
    ASSERT_FALSE(outcome.calls.empty());
    EXPECT_EQ(outcome.calls.back().received, static_cast<std::int32_t>(c.content.size()));
    EXPECT_EQ(outcome.calls.back().total, c.result);
  }
}

TEST_F(PictureRequestTest, EmptyBodyEmptiesTheFile) {
  RawHttpServer server([](const ReceivedRequest&, Reply& reply) { reply.send(http_answer(200, "")); });
  write_file(file(), "an older picture");
  const Outcome outcome = fetch(server.url("/p.jpg"), file());
  EXPECT_EQ(outcome.result, 0);
  EXPECT_TRUE(outcome.calls.empty());
  ASSERT_TRUE(std::filesystem::exists(file()));
  EXPECT_EQ(std::filesystem::file_size(file()), 0u);
}

TEST_F(PictureRequestTest, BrokenTransferKeepsWhatArrivedAndGivesTheDeclaredLength) {
  RawHttpServer server([](const ReceivedRequest&, Reply& reply) {
    reply.send(answer_head("Content-Length: 20000\r\n"));
    reply.send(std::string(7000, 'k'));
  });  // the connection closes after 7000 of 20000 bytes
  const Outcome outcome = fetch(server.url("/p.jpg"), file());
  EXPECT_EQ(outcome.result, 20000);
  EXPECT_EQ(outcome.status, 200);
  EXPECT_EQ(read_file(file()), std::string(7000, 'k'));
  EXPECT_EQ(outcome.received(), (std::vector<std::int32_t>{5120, 7000}));
}

TEST_F(PictureRequestTest, UnreachableAddressLeavesTheFileUntouched) {
  RawHttpServer redirector([](const ReceivedRequest&, Reply& reply) {
    reply.send(http_answer(302, "", "Location: http://127.0.0.1:" + std::to_string(closed_loopback_port()) + "/\r\n"));
  });
  RawHttpServer half_answer([](const ReceivedRequest&, Reply& reply) { reply.send("HTTP/1.1 200 OK\r\nContent-Le"); });
  const std::string closed = "http://127.0.0.1:" + std::to_string(closed_loopback_port());
  const std::vector<std::string> urls = {
      closed + "/p.jpg",
      "http://127.0.0.1:99999/p.jpg",
      redirector.url("/p.jpg"),   // to a closed port
      half_answer.url("/p.jpg"),  // the answer breaks off inside its header
      "127.0.0.1:" + std::to_string(redirector.port()) + "/p.jpg",  // no scheme
      "ftp://127.0.0.1/p.jpg",
      "",
  };
  for (const std::string& url : urls) {
    SCOPED_TRACE(url);
    write_file(file(), "the picture saved before");
    const Outcome outcome = fetch(url, file());
    EXPECT_EQ(outcome.result, -1);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(outcome.calls.empty());
    EXPECT_EQ(read_file(file()), "the picture saved before");
  }
  // The scheme-less address never reached the server.
  EXPECT_EQ(redirector.requests().size(), 1u);
}

TEST_F(PictureRequestTest, FileThatCannotBeCreatedGivesMinusOne) {
  RawHttpServer server([](const ReceivedRequest&, Reply& reply) { reply.send(http_answer(200, "jpeg")); });
  const Outcome outcome = fetch(server.url("/p.jpg"), dir_.path() / "no such folder" / "p.jpg");
  EXPECT_EQ(outcome.result, -1);
  EXPECT_TRUE(outcome.calls.empty());
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "no such folder"));
}

TEST_F(PictureRequestTest, RedirectsAreFollowedAndOnlyTheFinalBodySaved) {
  RawHttpServer server([](const ReceivedRequest& request, Reply& reply) {
    const std::string path = path_of(request);
    if (path == "/first.jpg") {
      reply.send(http_answer(301, "redirect body", "Location: /second.jpg\r\n"));
    } else if (path == "/second.jpg") {
      reply.send(http_answer(307, "another redirect body", "Location: /final.jpg?v=2\r\n"));
    } else if (path == "/final.jpg?v=2") {
      reply.send(http_answer(200, "the picture"));
    } else if (path == "/loop.jpg") {
      reply.send(http_answer(302, "", "Location: /loop.jpg\r\n"));
    }
  });
  write_file(file(), "older");
  const Outcome outcome = fetch(server.url("/first.jpg"), file());
  EXPECT_EQ(outcome.result, 11);
  EXPECT_EQ(outcome.status, 200);
  EXPECT_EQ(read_file(file()), "the picture");
  EXPECT_EQ(outcome.received(), std::vector<std::int32_t>{11});
  ASSERT_EQ(server.requests().size(), 3u);
  for (const ReceivedRequest& request : server.requests()) {
    EXPECT_EQ(request.header_lines(), picture_header_lines(host_line(server), "http://127.0.0.1")) << request.head;
  }

  // Endless redirects end without an answer.
  write_file(file(), "older");
  const Outcome looped = fetch(server.url("/loop.jpg"), file());
  EXPECT_EQ(looped.result, -1);
  EXPECT_EQ(read_file(file()), "older");
}

TEST_F(PictureRequestTest, SystemProxyIsUsedAndPortZeroIsPort80) {
  RawHttpServer proxy([](const ReceivedRequest&, Reply& reply) { reply.send(http_answer(200, "via proxy")); });
  env_.set("http_proxy", proxy.url(""));
  const Outcome outcome = fetch("http://Photos.Example:0/u/7/big.jpg", file());
  EXPECT_EQ(outcome.result, 9);
  EXPECT_EQ(read_file(file()), "via proxy");
  ASSERT_EQ(proxy.requests().size(), 1u);
  const ReceivedRequest request = proxy.requests()[0];
  EXPECT_EQ(request.request_line(), "GET http://photos.example/u/7/big.jpg HTTP/1.1");
  EXPECT_EQ(request.header("Referer"), "http://photos.example");
  // The lines a proxy's cache honours.
  EXPECT_EQ(request.header("Cache-Control"), "no-cache");
  EXPECT_EQ(request.header("Pragma"), "no-cache") << request.head;

  // Hosts the system exempts go direct.
  RawHttpServer direct([](const ReceivedRequest&, Reply& reply) { reply.send(http_answer(200, "direct")); });
  env_.set("no_proxy", "127.0.0.1");
  EXPECT_EQ(fetch(direct.url("/p.jpg"), file()).result, 6);
  EXPECT_EQ(read_file(file()), "direct");
  EXPECT_EQ(proxy.requests().size(), 1u);
}

TEST_F(PictureRequestTest, SilentServerEndsTheTransfer) {
  RawHttpServer server([](const ReceivedRequest& request, Reply& reply) {
    if (path_of(request) == "/part.jpg") {
      reply.send(answer_head("Content-Length: 20000\r\n"));
      reply.send(std::string(6000, 's'));
    }
    reply.stall();
  });
  PictureRequestLimits limits;
  limits.idle = 1000ms;

  auto start = std::chrono::steady_clock::now();
  const Outcome part = fetch(server.url("/part.jpg"), file(), std::nullopt, limits);
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(part.result, 20000);
  EXPECT_EQ(read_file(file()), std::string(6000, 's'));
  EXPECT_EQ(part.received(), (std::vector<std::int32_t>{5120, 6000}));
  EXPECT_GE(took, 0.9);
  EXPECT_LT(took, 6.0);

  write_file(file(), "older");
  start = std::chrono::steady_clock::now();
  const Outcome silent = fetch(server.url("/silent.jpg"), file(), std::nullopt, limits);
  took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(silent.result, -1);
  EXPECT_EQ(read_file(file()), "older");
  EXPECT_LT(took, 6.0);
}

TEST_F(PictureRequestTest, KilledProcessLeavesTheBlocksWritten) {
  RawHttpServer server([](const ReceivedRequest&, Reply& reply) {
    reply.send(answer_head("Content-Length: 50000\r\n"));
    reply.send(std::string(3 * 5120, 'w'));
    reply.stall();
  });
  const std::string url = server.url("/p.jpg");
  const std::string path = file().string();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    fetch_picture(url, path, 0, [](std::int32_t, std::int32_t, std::int32_t, std::int32_t) {});
    ::_exit(0);
  }
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline &&
         !(std::filesystem::exists(file()) && std::filesystem::file_size(file()) >= 3 * 5120)) {
    std::this_thread::sleep_for(10ms);
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ(read_file(file()), std::string(3 * 5120, 'w'));
}

TEST_F(PictureRequestTest, ParallelTransfersStayApart) {
  RawHttpServer server([](const ReceivedRequest& request, Reply& reply) {
    const std::string path = path_of(request);
    reply.send(http_answer(200, std::string(64 * 1024 + 17, path[1])));
  });
  std::vector<Outcome> outcomes(5);
  std::vector<std::thread> threads;
  for (int i = 0; i < 5; ++i) {
    threads.emplace_back([&, i] {
      outcomes[i] = fetch(server.url("/" + std::to_string(i)), file(std::to_string(i) + ".jpg"));
    });
  }
  for (auto& thread : threads) thread.join();
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(outcomes[i].result, 64 * 1024 + 17);
    EXPECT_EQ(read_file(file(std::to_string(i) + ".jpg")), std::string(64 * 1024 + 17, static_cast<char>('0' + i)));
    EXPECT_EQ(outcomes[i].calls.size(), 13u);
  }
}

}  // namespace
}  // namespace velmora
