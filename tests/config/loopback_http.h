#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A small HTTP peer on 127.0.0.1 with an ephemeral port, for checking the exact bytes a
// request puts on the wire. One connection at a time, served on its own thread; every request
// (head and body, as received) is recorded before the scripted answer is written.
namespace kestrova::config::testing {

class LoopbackHttpServer {
 public:
  // Returns the raw response bytes for a request. kHold keeps the connection open without an
  // answer until the client gives up or the server stops.
  using Responder = std::function<std::string(const std::string& request)>;
  static inline const std::string kHold = std::string("\0hold", 5);

  // With `tls` the server speaks TLS with that context (the caller keeps it alive).
  explicit LoopbackHttpServer(Responder responder, SSL_CTX* tls = nullptr);
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  int Port() const { return m_port; }
  std::vector<std::string> Requests() const;
  // Waits, with a generous upper bound, until `count` requests have been recorded.
  bool WaitForRequests(std::size_t count, std::chrono::seconds bound = std::chrono::seconds(10)) const;

 private:
  void Run();
  void ServeOne(int fd);

  Responder m_responder;
  SSL_CTX* m_tls;
  int m_listener = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  std::vector<std::string> m_requests;
  std::thread m_thread;
};

// A port on which nothing listens (bound once, then released).
int UnusedPort();

// "HTTP/1.1 <status>" with the given header lines and a Content-Length for `body`.
std::string HttpResponse(const std::string& status, const std::vector<std::string>& headers,
                         const std::string& body);

}  // namespace kestrova::config::testing
