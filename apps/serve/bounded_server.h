// cpp-httplib 0.11 with the bounds it lacks. As Debian builds it, it reads
// every header line a client sends (each up to 8 kB, as many as come) before
// any handler can look at them, reads a chunked or unsized body to its end
// whatever the payload limit, and listens with a backlog of 5. Its limits are
// compiled into the shared library, so no define of ours changes them; what
// it does leave open is the connection loop, so this server runs that loop
// itself over a stream of its own that counts what the parser reads and cuts
// the request off at the limit: the rest is never read into memory.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

#include <httplib.h>

namespace ai_players::app {

struct RequestLimits {
  std::size_t header_bytes = 64 * 1024;  // the request line and the header lines together
  std::size_t header_fields = 100;       // header lines
  std::size_t body_bytes = 64 * 1024;    // the payload; its framing (chunks) may take as much again
};

// "the request is larger than 64 kB": the words of a 413, wherever it is given.
std::string too_large_text(std::size_t body_bytes);

class BoundedServer : public httplib::Server {
 public:
  // Serves each connection on a thread of its own, up to `threads` at once
  // (see ConnectionPool); a connection between two requests gives its thread
  // up at once when others wait for one.
  BoundedServer(RequestLimits limits, std::size_t threads);

  // After binding: lets a burst of clients queue for accept(). With 0.11's
  // backlog of 5 the others' SYNs are dropped and retried a second or more later.
  void widen_backlog();

  // For a handler: whether the client whose request this thread is answering
  // has closed its connection or reset it (it will never read the answer).
  static bool client_gone();

 private:
  // The keep-alive loop of httplib's own, over a bounded stream; a request cut
  // at a limit is answered 431 or 413 and ends the connection.
  bool process_and_close_socket(socket_t sock) override;

  RequestLimits limits_;
  std::atomic<std::size_t> queued_{0};  // connections waiting for a thread
};

}  // namespace ai_players::app
