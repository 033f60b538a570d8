#include "web/page_request.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/env_guard.h"
#include "support/raw_http_server.h"
#include "text/gbk_text.h"
#include "web/http_limits.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using testing::EnvGuard;
using testing::RawHttpServer;
using testing::ReceivedRequest;
using testing::Reply;
using testing::closed_loopback_port;
using testing::http_answer;

const std::string kUserAgentLine = "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
const std::string kAcceptLine =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*";
const std::string kOctets = "Content-Type: application/octet-stream\r\n";

RawHttpServer::Handler answer_with(std::string answer) {
  return [answer](const ReceivedRequest&, Reply& reply) { reply.send(answer); };
}

// The start of an answer whose body is sent piece by piece afterwards.
std::string answer_head(std::string_view length_header) {
  return "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n" + std::string(length_header) + "\r\n";
}

PageRequestLimits short_limits() {
  PageRequestLimits limits;
  limits.idle = 1000ms;
  return limits;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(PageRequest, SendsThePlainGetOnTheWire) {
  RawHttpServer server(answer_with(http_answer(200, "hello", kOctets)));
  const std::string url = server.url("/list/a?b=1");
  EXPECT_EQ(fetch_page(url), "hello");
  ASSERT_EQ(server.requests().size(), 1u);
  const ReceivedRequest request = server.requests()[0];
  EXPECT_EQ(request.request_line(), "GET /list/a?b=1 HTTP/1.1");
  const std::vector<std::string> expected = {
      "Host: 127.0.0.1:" + std::to_string(server.port()),
      kUserAgentLine,
      kAcceptLine,
      "Referer: " + url,
      "Accept-Language: zh-cn",
  };
  // No Accept-Encoding, no Expect, no cache or connection lines of the
  // library's own.
  EXPECT_EQ(request.header_lines(), expected) << request.head;
  EXPECT_EQ(request.body, "");
}

TEST(PageRequest, DefaultLinesGiveWayToTheCallersMarkers) {
  struct Case {
    std::string request_headers;
    std::vector<std::string> lines_after_user_agent;  // "{url}" stands for the URL
  };
  const std::vector<Case> cases = {
      {"", {kAcceptLine, "Referer: {url}", "Accept-Language: zh-cn"}},
      {"accept: text/html\r\n", {"accept: text/html", "Referer: {url}", "Accept-Language: zh-cn"}},
      // A plain substring test: X-Accept counts as the Accept marker, and the
      // library must not add an Accept line of its own either.
      {"X-Accept: 1\r\n", {"X-Accept: 1", "Referer: {url}", "Accept-Language: zh-cn"}},
      {"Referer: http://elsewhere/\r\n", {"Referer: http://elsewhere/", kAcceptLine, "Accept-Language: zh-cn"}},
      {"accept-language: en\r\nREFERER: r\r\n", {"accept-language: en", "REFERER: r", kAcceptLine}},
      // A last line without its line end still stays a line of its own.
      {"X-Custom: 1", {"X-Custom: 1", kAcceptLine, "Referer: {url}", "Accept-Language: zh-cn"}},
  };
  RawHttpServer server(answer_with(http_answer(200, "ok", kOctets)));
  const std::string url = server.url("/p");
  for (const Case& c : cases) {
    SCOPED_TRACE("request_headers: " + c.request_headers);
    ASSERT_EQ(fetch_page(url, "", std::nullopt, c.request_headers), "ok");
    std::vector<std::string> expected = {"Host: 127.0.0.1:" + std::to_string(server.port()), kUserAgentLine};
    for (std::string line : c.lines_after_user_agent) {
      if (const auto at = line.find("{url}"); at != std::string::npos) line.replace(at, 5, url);
      expected.push_back(line);
    }
    const ReceivedRequest request = server.requests().back();
    EXPECT_EQ(request.header_lines(), expected) << request.head;
  }
}

TEST(PageRequest, CallerUserAgentReplacesTheFixedOne) {
  RawHttpServer server(answer_with(http_answer(200, "ok", kOctets)));
  ASSERT_EQ(fetch_page(server.url("/"), "", std::nullopt, "User-Agent: Other\r\n"), "ok");
  const auto names = server.requests().at(0).header_names();
  EXPECT_EQ(std::count(names.begin(), names.end(), "User-Agent"), 1) << server.requests()[0].head;
  EXPECT_EQ(server.requests()[0].header("User-Agent"), "Other");
}

TEST(PageRequest, MethodAndBodyLines) {
  struct Case {
    std::string method, post_data;
    std::string request_method;
    bool body_lines;
  };
  const std::vector<Case> cases = {
      {"", "", "GET", false},          {"get", "x=1", "GET", false},      {"PUT", "x=1", "GET", false},
      {"HEAD", "", "GET", false},      {"POST", "a=1&b=2", "POST", true}, {"post", "a=1", "post", true},
      {"PoSt", "z=9", "PoSt", true},   {"POST", "", "POST", false},
  };
  RawHttpServer server(answer_with(http_answer(200, "ok", kOctets)));
  const std::string url = server.url("/form");
  for (const Case& c : cases) {
    SCOPED_TRACE("method '" + c.method + "', post_data '" + c.post_data + "'");
    ASSERT_EQ(fetch_page(url, c.method, std::nullopt, "", c.post_data), "ok");
    const ReceivedRequest request = server.requests().back();
    EXPECT_EQ(request.request_line(), c.request_method + " /form HTTP/1.1");
    std::vector<std::string> expected = {"Host: 127.0.0.1:" + std::to_string(server.port()), kUserAgentLine,
                                         kAcceptLine, "Referer: " + url, "Accept-Language: zh-cn"};
    if (c.body_lines) {
      expected.push_back("Content-Type: application/x-www-form-urlencoded");
      expected.push_back("Content-Length: " + std::to_string(c.post_data.size()));
    }
    EXPECT_EQ(request.header_lines(), expected) << request.head;
    EXPECT_EQ(request.body, c.request_method == "GET" ? "" : c.post_data);
  }
}

TEST(PageRequest, UrlShapesAsTheProxySeesThem) {
  // Through a proxy the request line carries the whole address, which shows
  // the host, port and path the request is made of without needing a server
  // on port 80.
  struct Case {
    std::string url, request_line, host;
  };
  const std::vector<Case> cases = {
      {"X.Y/a", "GET http://x.y/a HTTP/1.1", "x.y"},
      {"http://X.Y", "GET http://x.y/ HTTP/1.1", "x.y"},
      {"http://x.y:/a", "GET http://x.y/a HTTP/1.1", "x.y"},  // port 0 is port 80
      {"http://x.y:8z/a", "GET http://x.y:8/a HTTP/1.1", "x.y:8"},
      {"HTTP://X.Y:81/a?b#c", "GET http://x.y:81/a?b HTTP/1.1", "x.y:81"},
      {"http://x.y/a b", "GET http://x.y/a%20b HTTP/1.1", "x.y"},
  };
  RawHttpServer proxy(answer_with(http_answer(200, "via proxy", kOctets)));
  const std::string proxy_address = "127.0.0.1:" + std::to_string(proxy.port());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    ASSERT_EQ(fetch_page(c.url, "", proxy_address), "via proxy");
    const ReceivedRequest request = proxy.requests().back();
    EXPECT_EQ(request.request_line(), c.request_line);
    EXPECT_EQ(request.header("Host"), c.host);
    EXPECT_EQ(request.header("Referer"), c.url);  // exactly as given, fragment included
    EXPECT_EQ(request.header("Accept-Language"), "zh-cn") << request.head;
  }
}

TEST(PageRequest, EnvironmentProxiesAreIgnored) {
  RawHttpServer server(answer_with(http_answer(200, "direct", kOctets)));
  RawHttpServer env_proxy(answer_with(http_answer(200, "env proxy", kOctets)));
  RawHttpServer given_proxy(answer_with(http_answer(200, "given proxy", kOctets)));
  EnvGuard env;
  env.clear_proxies();
  const std::string env_proxy_url = env_proxy.url("");
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) env.set(name, env_proxy_url);

  EXPECT_EQ(fetch_page(server.url("/")), "direct");

  // A given proxy is used even for hosts the environment exempts.
  env.set("no_proxy", "*");
  env.set("NO_PROXY", "*");
  EXPECT_EQ(fetch_page("http://x.y/a", "", "127.0.0.1:" + std::to_string(given_proxy.port())), "given proxy");
  EXPECT_TRUE(env_proxy.requests().empty());
}

TEST(PageRequest, RedirectsAreFollowed) {
  RawHttpServer other([](const ReceivedRequest&, Reply& reply) { reply.send(http_answer(200, "elsewhere", kOctets)); });
  const std::string other_url = other.url("/there");
  RawHttpServer server([&](const ReceivedRequest& request, Reply& reply) {
    const std::string line = request.request_line();
    if (line.starts_with("GET /old ")) {
      reply.send(http_answer(302, "moved", "Location: /new\r\n"));
    } else if (line.starts_with("GET /new ")) {
      reply.send(http_answer(200, "final page", kOctets));
    } else if (line.starts_with("GET /away ")) {
      reply.send(http_answer(301, "", "Location: " + other_url + "\r\n"));
    } else {
      reply.send(http_answer(404, "?", kOctets));
    }
  });
  std::string headers;
  EXPECT_EQ(fetch_page(server.url("/old"), "", std::nullopt, "", "", &headers), "final page");
  EXPECT_TRUE(headers.starts_with("HTTP/1.1 200 OK\r\n")) << headers;
  EXPECT_EQ(fetch_page(server.url("/away")), "elsewhere");
  ASSERT_EQ(other.requests().size(), 1u);
  EXPECT_EQ(other.requests()[0].header("Referer"), server.url("/away"));
}

TEST(PageRequest, BodiesComeBackAsTheyArrived) {
  std::string binary;
  for (int i = 0; i < 300 * 1024; ++i) binary.push_back(static_cast<char>(i * 7 % 256));
  const std::string gzip_body(
      "\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\x2b\x4b\xcd\xc9\xcd\x2f\x4a\x54\x28\xc3\x4e\x73\x01\x00\xf9\x24\xdc"
      "\x2f\x20\x00\x00\x00",
      32);
  RawHttpServer server([&](const ReceivedRequest& request, Reply& reply) {
    const std::string line = request.request_line();
    if (line.starts_with("GET /missing ")) {
      reply.send(http_answer(404, "<h1>not here</h1>", kOctets));
    } else if (line.starts_with("GET /zeros ")) {
      reply.send(http_answer(200, std::string(6, '\0'), kOctets));
    } else if (line.starts_with("GET /zero-inside ")) {
      reply.send(http_answer(200, std::string("ab\0cd", 5), kOctets));
    } else if (line.starts_with("GET /empty ")) {
      reply.send(http_answer(200, "", kOctets));
    } else if (line.starts_with("GET /binary ")) {
      reply.send(http_answer(200, binary, kOctets));
    } else if (line.starts_with("GET /gzip ")) {
      reply.send(http_answer(200, gzip_body, "Content-Type: text/plain\r\nContent-Encoding: gzip\r\n"));
    } else if (line.starts_with("GET /chunked ")) {
      reply.send(answer_head("Transfer-Encoding: chunked\r\n"));
      reply.send("5\r\nfirst\r\n");
      reply.pause(20ms);
      reply.send("7\r\n, then \r\n4\r\nlast\r\n0\r\n\r\n");
    } else if (line.starts_with("GET /until-close ")) {
      reply.send("HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\nno length given");
    }
  });
  struct Case {
    std::string path, bytes, text;
  };
  const std::vector<Case> cases = {
      {"/missing", "<h1>not here</h1>", "<h1>not here</h1>"},
      {"/zeros", std::string(6, '\0'), ""},
      {"/zero-inside", std::string("ab\0cd", 5), "ab"},
      {"/empty", "", ""},
      {"/binary", binary, binary.substr(0, binary.find('\0'))},
      {"/gzip", gzip_body, gzip_body.substr(0, gzip_body.find('\0'))},
      {"/chunked", "first, then last", "first, then last"},
      {"/until-close", "no length given", "no length given"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(fetch_page_bytes(server.url(c.path)), c.bytes);
    EXPECT_EQ(fetch_page(server.url(c.path)), c.text);
  }
  for (const ReceivedRequest& request : server.requests()) {
    EXPECT_FALSE(request.header("Accept-Encoding").has_value()) << request.head;
  }
}

TEST(PageRequest, BrokenTransferGivesTheBytesThatArrived) {
  RawHttpServer server([](const ReceivedRequest&, Reply& reply) {
    reply.send(answer_head("Content-Length: 10000\r\n"));
    reply.send(std::string(4000, 'p'));
  });  // the connection closes after 4000 of 10000 bytes
  EXPECT_EQ(fetch_page_bytes(server.url("/")), std::string(4000, 'p'));
}

TEST(PageRequest, UnreachableServerGivesEmpty) {
  std::string headers = "stale";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(fetch_page_bytes("http://127.0.0.1:" + std::to_string(closed_loopback_port()) + "/", "", std::nullopt,
                             "", "", &headers),
            "");
  EXPECT_EQ(headers, "");
  EXPECT_EQ(fetch_page("http://127.0.0.1:99999/"), "");  // no such port
  EXPECT_EQ(fetch_page(""), "");
  EXPECT_LT(seconds_since(start), 5.0);
}

TEST(PageRequest, ResponseHeadersOnlyWhenAskedAndOnlyWhenTheyFit) {
  RawHttpServer server([](const ReceivedRequest& request, Reply& reply) {
    if (request.request_line().starts_with("GET /big ")) {
      reply.send(http_answer(200, "body", "X-Filler: " + std::string(1100, 'f') + "\r\n"));
    } else {
      reply.send(http_answer(200, "body", "X-One: 1\r\n"));
    }
  });
  std::string headers;
  EXPECT_EQ(fetch_page(server.url("/small"), "", std::nullopt, "", "", &headers), "body");
  EXPECT_EQ(headers, "HTTP/1.1 200 OK\r\nX-One: 1\r\nContent-Length: 4\r\nConnection: close\r\n\r\n");
  // A block that does not fit the 1024-byte buffer is not handed back cut.
  EXPECT_EQ(fetch_page(server.url("/big"), "", std::nullopt, "", "", &headers), "body");
  EXPECT_EQ(headers, "");
}

TEST(PageRequest, LineBreaksInTheAddressCannotAddHeaderLines) {
  RawHttpServer server(answer_with(http_answer(200, "ok", kOctets)));
  const std::string url = server.url("/a\r\nX-Injected: 1");
  EXPECT_EQ(fetch_page(url, "", std::nullopt, "X-Own: 1\nX-Smuggled: 2\r\n"), "ok");
  const ReceivedRequest request = server.requests().at(0);
  EXPECT_EQ(ascii_lower(request.request_line()), "get /a%0d%0ax-injected:%201 http/1.1");
  EXPECT_FALSE(request.header("X-Injected").has_value()) << request.head;
  EXPECT_FALSE(request.header("X-Smuggled").has_value()) << request.head;
  EXPECT_EQ(request.header("Referer"), server.url("/aX-Injected: 1"));
}

// The idle timer: a server that goes silent ends the request after the limit,
// whatever has arrived by then; a slow but steady one is never cut off.
TEST(PageRequestIdleTimer, SilentServerEndsTheRequest) {
  RawHttpServer server([](const ReceivedRequest& request, Reply& reply) {
    if (request.request_line().starts_with("GET /part ")) {
      reply.send(answer_head("Content-Length: 100000\r\n"));
      reply.send(std::string(3000, 's'));
    }
    reply.stall();
  });
  struct Case {
    std::string path, body;
  };
  for (const Case& c : {Case{"/part", std::string(3000, 's')}, Case{"/silent", ""}}) {
    SCOPED_TRACE(c.path);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(fetch_page_bytes_with_limits(server.url(c.path), "", std::nullopt, "", "", nullptr, short_limits()),
              c.body);
    const double took = seconds_since(start);
    EXPECT_GE(took, 0.9);
    EXPECT_LT(took, 6.0);
  }
}

TEST(PageRequestIdleTimer, ServerThatTakesNoBodyEndsTheRequest) {
  RawHttpServer server([](const ReceivedRequest&, Reply& reply) { reply.stall(); },
                       RawHttpServer::RequestBody::left_unread);
  const std::string post_data(64 << 20, 'd');  // more than the socket buffers hold
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(fetch_page_bytes_with_limits(server.url("/upload"), "POST", std::nullopt, "", post_data, nullptr,
                                         short_limits()),
            "");
  EXPECT_LT(seconds_since(start), 8.0);
}

TEST(PageRequestIdleTimer, ConnectionThatNeverStandsEndsAtTheConnectLimit) {
  testing::UnansweredListener listener;
  PageRequestLimits limits;
  limits.connect = 1000ms;
  limits.idle = 60s;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(fetch_page_bytes_with_limits("http://127.0.0.1:" + std::to_string(listener.port()) + "/", "",
                                         std::nullopt, "", "", nullptr, limits),
            "");
  const double took = seconds_since(start);
  EXPECT_GE(took, 0.9);
  EXPECT_LT(took, 6.0);
}

TEST(PageRequestIdleTimer, SlowSteadyServerIsNotCutOff) {
  RawHttpServer server([](const ReceivedRequest&, Reply& reply) {
    reply.pause(600ms);
    reply.send(answer_head("Content-Length: 10\r\n"));
    for (char digit = '0'; digit <= '9'; ++digit) {
      reply.pause(300ms);
      if (!reply.send(std::string(1, digit))) return;
    }
  });
  // Three and a half seconds in all, never more than 0.6 s without a byte.
  EXPECT_EQ(fetch_page_bytes_with_limits(server.url("/"), "", std::nullopt, "", "", nullptr, short_limits()),
            "0123456789");
}

TEST(PageRequestIdleTimer, PublicRequestWaitsEighteenSeconds) {
  RawHttpServer server([](const ReceivedRequest&, Reply& reply) {
    reply.send(answer_head("Content-Length: 100\r\n"));
    reply.send("first");
    reply.stall();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(fetch_page(server.url("/")), "first");
  const double took = seconds_since(start);
  EXPECT_GE(took, 17.5);
  EXPECT_LT(took, 25.0);
}

TEST(PageRequestPump, RunsBetweenReadsOnTheInstallingThreadOnly) {
  RawHttpServer server([](const ReceivedRequest&, Reply& reply) {
    reply.pause(300ms);
    reply.send(http_answer(200, "late", kOctets));
  });
  int calls = 0;
  {
    ScopedPageRequestPump pump([&] { ++calls; });
    EXPECT_EQ(fetch_page(server.url("/")), "late");
    EXPECT_GE(calls, 3);  // the window is served while the answer is awaited

    const int before = calls;
    std::string other_thread_result;
    std::thread worker([&] { other_thread_result = fetch_page(server.url("/")); });
    worker.join();
    EXPECT_EQ(other_thread_result, "late");
    EXPECT_EQ(calls, before);
  }
  const int after_scope = calls;
  EXPECT_EQ(fetch_page(server.url("/")), "late");
  EXPECT_EQ(calls, after_scope);
}

TEST(PageRequestPump, PumpMayStartARequestOfItsOwn) {
  RawHttpServer server([](const ReceivedRequest& request, Reply& reply) {
    if (request.request_line().starts_with("GET /outer ")) {
      reply.pause(200ms);
      reply.send(http_answer(200, "outer", kOctets));
    } else {
      reply.send(http_answer(200, "inner", kOctets));
    }
  });
  std::string inner;
  bool started = false;
  std::function<void()> pump_body = [&] {
    if (started) return;
    started = true;
    inner = fetch_page(server.url("/inner"));  // the pump runs again inside
  };
  ScopedPageRequestPump pump([&] { pump_body(); });
  EXPECT_EQ(fetch_page(server.url("/outer")), "outer");
  EXPECT_EQ(inner, "inner");
}

TEST(PageRequestPump, SameRequestAndSameLimitsWithThePump) {
  RawHttpServer server([](const ReceivedRequest& request, Reply& reply) {
    if (request.request_line().starts_with("GET /stall ")) {
      reply.send(answer_head("Content-Length: 100\r\n") + "some");
      reply.stall();
    }
    reply.send(http_answer(200, "plain", kOctets));
  });
  int calls = 0;
  ScopedPageRequestPump pump([&] { ++calls; });
  EXPECT_EQ(fetch_page(server.url("/plain")), "plain");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(fetch_page_bytes_with_limits(server.url("/stall"), "", std::nullopt, "", "", nullptr, short_limits()),
            "some");
  EXPECT_LT(seconds_since(start), 6.0);
  EXPECT_GE(calls, 10);
  const std::vector<std::string> expected = {"Host: 127.0.0.1:" + std::to_string(server.port()), kUserAgentLine,
                                             kAcceptLine, "Referer: " + server.url("/plain"),
                                             "Accept-Language: zh-cn"};
  EXPECT_EQ(server.requests().at(0).header_lines(), expected);
}

TEST(PageRequestPump, InnerScopeRestoresTheOuterPump) {
  RawHttpServer server(answer_with(http_answer(200, "x", kOctets)));
  int outer_calls = 0;
  int inner_calls = 0;
  ScopedPageRequestPump outer([&] { ++outer_calls; });
  {
    ScopedPageRequestPump inner([&] { ++inner_calls; });
    fetch_page(server.url("/"));
  }
  EXPECT_GE(inner_calls, 1);
  EXPECT_EQ(outer_calls, 0);
  fetch_page(server.url("/"));
  EXPECT_GE(outer_calls, 1);
}

TEST(PageRequest, ParallelRequestsDoNotMix) {
  RawHttpServer server([](const ReceivedRequest& request, Reply& reply) {
    const std::string line = request.request_line();
    const std::string path = line.substr(4, line.find(' ', 4) - 4);
    reply.send(http_answer(200, std::string(50000, path.back()), kOctets));
  });
  std::vector<std::string> results(6);
  std::vector<std::thread> threads;
  for (int i = 0; i < 6; ++i) {
    threads.emplace_back([&, i] { results[i] = fetch_page_bytes(server.url("/page" + std::to_string(i))); });
  }
  for (auto& thread : threads) thread.join();
  for (int i = 0; i < 6; ++i) EXPECT_EQ(results[i], std::string(50000, static_cast<char>('0' + i))) << i;
}

}  // namespace
}  // namespace velmora
