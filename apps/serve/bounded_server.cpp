#include "serve/bounded_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <utility>

#include <fmt/format.h>

#include "serve/connection_pool.h"

namespace ai_players::app {
namespace {

using Clock = std::chrono::steady_clock;

// Waits for `events` on the socket; true when they came within `timeout`.
bool wait_for(int sock, short events, std::chrono::milliseconds timeout) {
  pollfd p{sock, events, 0};
  int n;
  do n = ::poll(&p, 1, static_cast<int>(timeout.count()));
  while (n < 0 && errno == EINTR);
  return n > 0;
}

void address_of(int sock, bool peer, std::string& ip, int& port) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  const int got = peer ? ::getpeername(sock, reinterpret_cast<sockaddr*>(&addr), &len)
                       : ::getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len);
  if (got != 0) return;
  char text[INET6_ADDRSTRLEN] = {};
  if (addr.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&addr);
    ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    port = ntohs(in->sin_port);
  } else if (addr.ss_family == AF_INET6) {
    const auto* in = reinterpret_cast<const sockaddr_in6*>(&addr);
    ::inet_ntop(AF_INET6, &in->sin6_addr, text, sizeof text);
    port = ntohs(in->sin6_port);
  }
  ip = text;
}

// One client connection as httplib's parser reads it: what it reads of each
// request is counted, and at a limit the request is cut (reads fail, and what
// httplib would answer is dropped for the refusal this server gives).
class BoundedStream final : public httplib::Stream {
 public:
  BoundedStream(int sock, const RequestLimits& limits, std::chrono::milliseconds read_timeout,
                std::chrono::milliseconds write_timeout)
      : sock_(sock), limits_(limits), read_timeout_(read_timeout), write_timeout_(write_timeout) {}

  // A new request starts with the next byte.
  void begin_request() {
    in_headers_ = true;
    seen_request_line_ = false;
    header_bytes_ = body_bytes_ = fields_ = line_length_ = 0;
    last_ = 0;
  }
  // The status the request was cut with; none while it is within its limits.
  std::optional<int> refused() const { return refused_; }

  // Waits up to `timeout` for the next request, giving up early once `serving` says no.
  template <class Serving>
  bool wait_for_request(std::chrono::milliseconds timeout, Serving serving) const {
    if (pos_ < end_) return true;
    const auto until = Clock::now() + timeout;
    for (;;) {
      if (!serving()) return false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
      if (left.count() <= 0) return false;
      if (wait_for(sock_, POLLIN, std::min(left, std::chrono::milliseconds(50)))) return true;
    }
  }

  bool peer_gone() const {
    if (pos_ < end_) return false;  // it sent more: it is there
    char byte;
    const ssize_t n = ::recv(sock_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
  }

  // The refusal, then the rest of what the client sends is read and dropped
  // for a while, so that it sees the answer rather than a reset.
  void send_refusal(const std::string& status_line, const std::string& body) {
    const std::string answer = fmt::format(
        "HTTP/1.1 {}\r\nContent-Type: application/json\r\nContent-Length: {}\r\nConnection: close\r\n"
        "X-Content-Type-Options: nosniff\r\n\r\n{}",
        status_line, body.size(), body);
    for (std::size_t sent = 0; sent < answer.size();) {
      const ssize_t n = send_some(answer.data() + sent, answer.size() - sent);
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
    ::shutdown(sock_, SHUT_WR);
    const auto until = Clock::now() + std::chrono::seconds(5);
    char sink[16384];
    while (Clock::now() < until && wait_for(sock_, POLLIN, std::chrono::seconds(1))) {
      ssize_t n;
      do n = ::recv(sock_, sink, sizeof sink, 0);
      while (n < 0 && errno == EINTR);
      if (n <= 0) return;
    }
  }

  bool is_readable() const override { return pos_ < end_ || wait_for(sock_, POLLIN, read_timeout_); }
  bool is_writable() const override { return wait_for(sock_, POLLOUT, write_timeout_); }

  ssize_t read(char* ptr, size_t size) override {
    if (refused_) return -1;
    if (pos_ == end_) {
      if (!is_readable()) return -1;
      ssize_t n;
      do n = ::recv(sock_, buffer_, sizeof buffer_, 0);
      while (n < 0 && errno == EINTR);
      if (n <= 0) return n;
      pos_ = 0;
      end_ = static_cast<std::size_t>(n);
    }
    const std::size_t n = std::min(size, end_ - pos_);
    if (!count(buffer_ + pos_, n)) return -1;
    std::memcpy(ptr, buffer_ + pos_, n);
    pos_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (refused_) return static_cast<ssize_t>(size);  // httplib's answer to a cut request: ours replaces it
    if (!is_writable()) return -1;
    return send_some(ptr, size);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { address_of(sock_, true, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { address_of(sock_, false, ip, port); }
  socket_t socket() const override { return sock_; }

 private:
  ssize_t send_some(const char* ptr, std::size_t size) {
    ssize_t n;
    do n = ::send(sock_, ptr, size, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n;
  }

  // Counts bytes handed to the parser; false (and the request refused) past a limit.
  bool count(const char* p, std::size_t n) {
    std::size_t i = 0;
    for (; in_headers_ && i < n; ++i) {
      const char c = p[i];
      ++header_bytes_;
      if (c == '\n') {
        // httplib ends the headers at a line of CRLF alone, and skips a line
        // that ends in LF only: so must this count, or a bare LF would end it here early.
        if (line_length_ == 1 && last_ == '\r' && seen_request_line_) in_headers_ = false;
        else if (std::exchange(seen_request_line_, true)) ++fields_;
        line_length_ = 0;
      } else {
        ++line_length_;
      }
      last_ = c;
      if (header_bytes_ > limits_.header_bytes || fields_ > limits_.header_fields) {
        refused_ = 431;
        return false;
      }
    }
    body_bytes_ += n - i;
    // A body's framing (chunk sizes, their line ends) may take as much again as the payload itself.
    if (body_bytes_ > 2 * limits_.body_bytes) {
      refused_ = 413;
      return false;
    }
    return true;
  }

  int sock_;
  const RequestLimits& limits_;
  std::chrono::milliseconds read_timeout_, write_timeout_;
  char buffer_[4096];
  std::size_t pos_ = 0, end_ = 0;  // what of buffer_ is not read yet

  bool in_headers_ = true;
  bool seen_request_line_ = false;
  std::size_t header_bytes_ = 0, body_bytes_ = 0, fields_ = 0, line_length_ = 0;
  char last_ = 0;
  std::optional<int> refused_;
};

thread_local const BoundedStream* answering = nullptr;

std::chrono::milliseconds ms_of(time_t sec, time_t usec) {
  return std::chrono::milliseconds(sec * 1000 + usec / 1000);
}

}  // namespace

std::string too_large_text(std::size_t body_bytes) {
  return fmt::format("the request is larger than {} kB", body_bytes / 1024);
}

BoundedServer::BoundedServer(RequestLimits limits, std::size_t threads) : limits_(limits) {
  set_payload_max_length(limits.body_bytes);
  new_task_queue = [this, threads] { return new ConnectionPool(threads, queued_); };
}

void BoundedServer::widen_backlog() {
  const socket_t sock = svr_sock_;
  if (sock != INVALID_SOCKET) ::listen(sock, SOMAXCONN);  // on a listening socket, this sets its backlog anew
}

bool BoundedServer::client_gone() { return answering && answering->peer_gone(); }

bool BoundedServer::process_and_close_socket(socket_t sock) {
  BoundedStream stream(sock, limits_, ms_of(read_timeout_sec_, read_timeout_usec_),
                       ms_of(write_timeout_sec_, write_timeout_usec_));
  bool ok = false;
  for (std::size_t left = keep_alive_max_count_; left > 0; --left) {
    // The first request is waited for; a next one only while no other connection waits for a thread.
    const bool first = left == keep_alive_max_count_;
    if (!stream.wait_for_request(std::chrono::seconds(keep_alive_timeout_sec_),
                                 [this, first] { return svr_sock_ != INVALID_SOCKET && (first || queued_ == 0); }))
      break;
    stream.begin_request();
    bool closed = false;
    answering = &stream;
    ok = process_request(stream, left == 1, closed, nullptr);
    answering = nullptr;
    if (const auto status = stream.refused()) {
      stream.send_refusal(*status == 431 ? "431 Request Header Fields Too Large" : "413 Payload Too Large",
                          fmt::format(R"({{"error":"{}"}})",
                                      *status == 431 ? fmt::format("the request's headers are longer than {} kB or {} lines",
                                                                   limits_.header_bytes / 1024, limits_.header_fields)
                                                     : too_large_text(limits_.body_bytes)));
      ok = false;
    }
    if (!ok || closed) break;
  }
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return ok;
}

}  // namespace ai_players::app
