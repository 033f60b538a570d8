#pragma once
// A loopback HTTP server for tests of the HTTP code that need to see the
// request exactly as it crossed the wire (header order, spelling) and to
// answer in ways a regular server library will not: a body cut off part-way,
// a server that stops sending, bytes sent in chosen pieces. Each connection
// runs the handler once on its own thread and is then closed.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace velmora::testing {

struct ReceivedRequest {
  std::string head;  // the request line and header lines, each ending in "\r\n"
  std::string body;
  std::chrono::steady_clock::time_point arrived;

  std::string request_line() const;
  // The header lines in the order they arrived, without their "\r\n".
  std::vector<std::string> header_lines() const;
  // The names of the header lines, in order.
  std::vector<std::string> header_names() const;
  // The value of the first header of that name (letter case ignored).
  std::optional<std::string> header(std::string_view name) const;
};

// The server side of one connection, handed to the handler.
class Reply {
 public:
  // Sends the bytes; false once the client has gone.
  bool send(std::string_view bytes);
  // Waits `duration`, or less when the server stops.
  void pause(std::chrono::milliseconds duration);
  // Sends nothing more until the server stops or the client goes away.
  void stall();

 private:
  friend class RawHttpServer;
  Reply(int socket, class RawHttpServer& server) : socket_(socket), server_(server) {}
  int socket_;
  RawHttpServer& server_;
};

// A complete answer: status line, the given header lines, Content-Length and
// "Connection: close", then the body.
std::string http_answer(int status, std::string_view body, std::string_view extra_headers = {});

class RawHttpServer {
 public:
  using Handler = std::function<void(const ReceivedRequest&, Reply&)>;

  // Whether a request body is read before the handler runs; a server that
  // leaves it unread lets a sender's buffers fill up.
  enum class RequestBody { read, left_unread };

  // Listens on 127.0.0.1, on a port of the system's choosing.
  explicit RawHttpServer(Handler handler, RequestBody request_body = RequestBody::read);
  ~RawHttpServer();
  RawHttpServer(const RawHttpServer&) = delete;
  RawHttpServer& operator=(const RawHttpServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:" + port + path.
  std::string url(std::string_view path) const;
  std::vector<ReceivedRequest> requests() const;
  // Waits until `count` requests have arrived; false on time-out.
  bool wait_for_requests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  // Ends every connection and the listener; called by the destructor.
  void stop();

 private:
  friend class Reply;
  void accept_loop();
  void serve(int socket);
  bool wait_while_running(std::chrono::milliseconds duration);
  void forget_socket(int socket);

  Handler handler_;
  RequestBody request_body_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<ReceivedRequest> requests_;
  std::vector<int> open_sockets_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

}  // namespace velmora::testing

namespace velmora::testing {

// A loopback port on which nothing listens: connections to it are refused.
int closed_loopback_port();

// A loopback listener that never accepts and whose queue is full, so that a
// further connection attempt hangs without an answer until its time-out.
class UnansweredListener {
 public:
  UnansweredListener();
  ~UnansweredListener();
  UnansweredListener(const UnansweredListener&) = delete;
  UnansweredListener& operator=(const UnansweredListener&) = delete;
  int port() const { return port_; }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::vector<int> queued_;
};

}  // namespace velmora::testing
