#include "raw_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace velmora::testing {
namespace {

std::string lower(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

std::string trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return std::string(text.substr(begin, end - begin));
}

}  // namespace

std::string ReceivedRequest::request_line() const { return head.substr(0, head.find("\r\n")); }

std::vector<std::string> ReceivedRequest::header_lines() const {
  std::vector<std::string> lines;
  std::size_t start = head.find("\r\n");
  while (start != std::string::npos && start + 2 < head.size()) {
    start += 2;
    std::size_t end = head.find("\r\n", start);
    if (end == std::string::npos) end = head.size();
    if (end > start) lines.push_back(head.substr(start, end - start));
    start = end;
  }
  return lines;
}

std::vector<std::string> ReceivedRequest::header_names() const {
  std::vector<std::string> names;
  for (const std::string& line : header_lines()) names.push_back(line.substr(0, line.find(':')));
  return names;
}

std::optional<std::string> ReceivedRequest::header(std::string_view name) const {
  const std::string wanted = lower(name);
  for (const std::string& line : header_lines()) {
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && lower(line.substr(0, colon)) == wanted) return trim(line.substr(colon + 1));
  }
  return std::nullopt;
}

bool Reply::send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

void Reply::pause(std::chrono::milliseconds duration) { server_.wait_while_running(duration); }

void Reply::stall() {
  // Wake now and then to notice a client that gave up and closed.
  while (server_.wait_while_running(std::chrono::milliseconds(50))) {
    char probe;
    const ssize_t got = ::recv(socket_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (got == 0) return;
  }
}

std::string http_answer(int status, std::string_view body, std::string_view extra_headers) {
  std::string answer = "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Status") + "\r\n";
  answer += extra_headers;
  answer += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
  answer += body;
  return answer;
}

RawHttpServer::RawHttpServer(Handler handler, RequestBody request_body)
    : handler_(std::move(handler)), request_body_(request_body) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  const int on = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 64) != 0) {
    const std::string cause = std::strerror(errno);
    ::close(listener_);
    throw std::runtime_error("bind/listen on 127.0.0.1: " + cause);
  }
  socklen_t length = sizeof address;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { accept_loop(); });
}

RawHttpServer::~RawHttpServer() { stop(); }

std::string RawHttpServer::url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<ReceivedRequest> RawHttpServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool RawHttpServer::wait_for_requests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void RawHttpServer::stop() {
  if (stopping_.exchange(true)) return;
  ::shutdown(listener_, SHUT_RDWR);
  {
    std::lock_guard lock(mutex_);
    for (int socket : open_sockets_) ::shutdown(socket, SHUT_RDWR);
    changed_.notify_all();
  }
  if (acceptor_.joinable()) acceptor_.join();
  ::close(listener_);
  std::vector<std::thread> connections;
  {
    std::lock_guard lock(mutex_);
    connections.swap(connections_);
  }
  for (std::thread& connection : connections) connection.join();
}

void RawHttpServer::accept_loop() {
  while (!stopping_) {
    const int socket = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    std::lock_guard lock(mutex_);
    if (stopping_) {
      ::close(socket);
      return;
    }
    open_sockets_.push_back(socket);
    connections_.emplace_back([this, socket] { serve(socket); });
  }
}

void RawHttpServer::serve(int socket) {
  std::string received;
  char buffer[16384];
  std::size_t head_end = std::string::npos;
  while ((head_end = received.find("\r\n\r\n")) == std::string::npos) {
    const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    received.append(buffer, static_cast<std::size_t>(got));
  }
  if (head_end != std::string::npos) {
    ReceivedRequest request;
    request.arrived = std::chrono::steady_clock::now();
    request.head = received.substr(0, head_end + 2);
    request.body = received.substr(head_end + 4);
    const std::size_t wanted = request_body_ == RequestBody::left_unread ? 0 : [&] {
      const auto length = request.header("Content-Length");
      return length ? static_cast<std::size_t>(std::stoull(*length)) : 0;
    }();
    while (request.body.size() < wanted) {
      const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      request.body.append(buffer, static_cast<std::size_t>(got));
    }
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
      changed_.notify_all();
    }
    Reply reply(socket, *this);
    handler_(request, reply);
  }
  forget_socket(socket);
}

bool RawHttpServer::wait_while_running(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  return !changed_.wait_for(lock, duration, [&] { return stopping_.load(); });
}

void RawHttpServer::forget_socket(int socket) {
  std::lock_guard lock(mutex_);
  // Let the client read everything before the connection goes.
  ::shutdown(socket, SHUT_WR);
  ::close(socket);
  open_sockets_.erase(std::remove(open_sockets_.begin(), open_sockets_.end(), socket), open_sockets_.end());
}

}  // namespace velmora::testing

namespace velmora::testing {

int closed_loopback_port() {
  const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(probe);
  return ntohs(address.sin_port);
}

}  // namespace velmora::testing

namespace velmora::testing {

UnansweredListener::UnansweredListener() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 0) != 0) {
    throw std::runtime_error(std::string("unanswered listener: ") + std::strerror(errno));
  }
  socklen_t length = sizeof address;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  // A queue of length 0 still takes a connection or two; fill it.
  for (int i = 0; i < 4; ++i) {
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address);
    queued_.push_back(client);
  }
}

UnansweredListener::~UnansweredListener() {
  for (int client : queued_) ::close(client);
  ::close(listener_);
}

}  // namespace velmora::testing
