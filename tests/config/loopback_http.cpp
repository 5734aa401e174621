#include "loopback_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>

namespace kestrova::config::testing {
namespace {

class Channel {
 public:
  Channel(int fd, SSL_CTX* tls) : m_fd(fd) {
    if (tls != nullptr) {
      m_ssl = SSL_new(tls);
      SSL_set_fd(m_ssl, fd);
      if (SSL_accept(m_ssl) != 1) m_failed = true;
    }
  }
  ~Channel() {
    if (m_ssl != nullptr) {
      SSL_shutdown(m_ssl);
      SSL_free(m_ssl);
    }
  }
  bool Failed() const { return m_failed; }
  // Waits up to `ms` for bytes; <0 error or closed, 0 time-out.
  long Read(char* buffer, std::size_t size, int ms) {
    if (m_ssl == nullptr || SSL_pending(m_ssl) == 0) {
      pollfd p{m_fd, POLLIN, 0};
      const int ready = ::poll(&p, 1, ms);
      if (ready <= 0) return ready == 0 ? 0 : -1;
    }
    const long got = m_ssl != nullptr ? SSL_read(m_ssl, buffer, static_cast<int>(size))
                                      : ::recv(m_fd, buffer, size, 0);
    return got <= 0 ? -1 : got;
  }
  void Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const long sent = m_ssl != nullptr
                            ? SSL_write(m_ssl, bytes.data() + done, static_cast<int>(bytes.size() - done))
                            : ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (sent <= 0) return;
      done += static_cast<std::size_t>(sent);
    }
  }

 private:
  int m_fd;
  SSL* m_ssl = nullptr;
  bool m_failed = false;
};

std::size_t ContentLength(const std::string& head) {
  std::string lower = head;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t at = lower.find("\r\ncontent-length:");
  if (at == std::string::npos) return 0;
  return static_cast<std::size_t>(std::strtoul(head.c_str() + at + 17, nullptr, 10));
}

}  // namespace

LoopbackHttpServer::LoopbackHttpServer(Responder responder, SSL_CTX* tls)
    : m_responder(std::move(responder)), m_tls(tls) {
  m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(m_listener, 8);
  socklen_t length = sizeof address;
  ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
  m_port = ntohs(address.sin_port);
  m_thread = std::thread([this] { Run(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  m_stop = true;
  m_thread.join();
  ::close(m_listener);
}

std::vector<std::string> LoopbackHttpServer::Requests() const {
  std::lock_guard lock(m_mutex);
  return m_requests;
}

bool LoopbackHttpServer::WaitForRequests(std::size_t count, std::chrono::seconds bound) const {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, bound, [&] { return m_requests.size() >= count; });
}

void LoopbackHttpServer::Run() {
  while (!m_stop) {
    pollfd p{m_listener, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ServeOne(fd);
    ::close(fd);
  }
}

void LoopbackHttpServer::ServeOne(int fd) {
  Channel channel(fd, m_tls);
  if (channel.Failed()) return;
  std::string request;
  char buffer[4096];
  std::size_t headEnd = std::string::npos;
  while (!m_stop) {
    headEnd = request.find("\r\n\r\n");
    if (headEnd != std::string::npos &&
        request.size() >= headEnd + 4 + ContentLength(request.substr(0, headEnd + 2))) {
      break;
    }
    const long got = channel.Read(buffer, sizeof buffer, 20);
    if (got < 0) return;
    if (got > 0) request.append(buffer, static_cast<std::size_t>(got));
  }
  if (m_stop) return;
  {
    std::lock_guard lock(m_mutex);
    m_requests.push_back(request);
  }
  m_changed.notify_all();
  const std::string response = m_responder(request);
  if (response == kHold) {
    while (!m_stop && channel.Read(buffer, sizeof buffer, 20) >= 0) {
    }
    return;
  }
  channel.Write(response);
}

int UnusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

std::string HttpResponse(const std::string& status, const std::vector<std::string>& headers,
                         const std::string& body) {
  std::string out = "HTTP/1.1 " + status + "\r\n";
  for (const std::string& h : headers) out += h + "\r\n";
  out += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  return out;
}

}  // namespace kestrova::config::testing
