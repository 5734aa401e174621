// kestrova-config-server: a configuration server for loopback, so that the program and its
// tests run without the internet. It answers GET /config with a configuration enciphered for
// a room and a version, and on request misbehaves in the ways a real server might.
//
//   kestrova-config-server [serve] [--room 9999] [--version 1.1] [--key 3164920]
//                          [--plain TEXT] [--listen 127.0.0.1:8680] [--misbehave MODE]
//                          [--delay SECONDS] [--stop-after SECONDS]
//   kestrova-config-server encipher [--room 9999] [--version 1.1] [--key 3164920] [--plain TEXT]
//
// Serving prints the port it listens on (useful with port 0) as the first line of stdout.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "config/cipher.h"
#include "intake/text.h"

namespace {

using kestrova::AnsiText;

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

enum class Mode { Normal, WrongTag, LowerTag, Empty, Nul, NulTail, Slow, Silent, Huge, Garbage, GarbageBody };

struct Settings {
  std::string room = "9999";
  std::string version = "1.1";
  std::string key = kestrova::config::kDefaultConfigKey;
  std::string plain;  // overrides room#version when set
  bool plainGiven = false;
  std::string host = "127.0.0.1";
  int port = 8680;
  Mode mode = Mode::Normal;
  int delaySeconds = 60;
  int stopAfterSeconds = 0;
};

constexpr std::size_t kHugeBodyBytes = 10u * 1000u * 1000u;
constexpr std::size_t kMaxConnections = 32;

bool ParseMode(std::string_view name, Mode& mode) {
  static constexpr std::pair<std::string_view, Mode> kModes[] = {
      {"none", Mode::Normal},       {"wrong-tag", Mode::WrongTag}, {"lower-tag", Mode::LowerTag},
      {"empty", Mode::Empty},       {"nul", Mode::Nul},            {"nul-tail", Mode::NulTail},
      {"slow", Mode::Slow},         {"silent", Mode::Silent},      {"huge", Mode::Huge},
      {"garbage", Mode::Garbage},   {"garbage-body", Mode::GarbageBody}};
  for (const auto& [text, value] : kModes) {
    if (name == text) {
      mode = value;
      return true;
    }
  }
  return false;
}

void Usage() {
  std::fprintf(stderr,
               "usage: kestrova-config-server [serve] [--room R] [--version V] [--key K] [--plain TEXT]\n"
               "                              [--listen HOST:PORT] [--misbehave MODE] [--delay S]\n"
               "                              [--stop-after S]\n"
               "       kestrova-config-server encipher [--room R] [--version V] [--key K] [--plain TEXT]\n"
               "MODE: none wrong-tag lower-tag empty nul nul-tail slow silent huge garbage garbage-body\n"
               "      slow answers after --delay seconds (60); silent never answers.\n"
               "Texts on the command line are UTF-8 and are served in code page 936.\n"
               "Port 0 listens on a free port; the port is the first line printed.\n");
}

bool ParseInt(const char* text, int& value) {
  char* end = nullptr;
  const long parsed = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || parsed < 0 || parsed > 1'000'000) return false;
  value = static_cast<int>(parsed);
  return true;
}

bool ParseArgs(int argc, char** argv, int first, Settings& s) {
  for (int i = first; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    if (arg == "--room") {
      s.room = value;
    } else if (arg == "--version") {
      s.version = value;
    } else if (arg == "--key") {
      s.key = value;
    } else if (arg == "--plain") {
      s.plain = value;
      s.plainGiven = true;
    } else if (arg == "--listen") {
      const std::string_view listen = value;
      const std::size_t colon = listen.rfind(':');
      if (colon == std::string_view::npos) return false;
      s.host = std::string(listen.substr(0, colon));
      if (!ParseInt(std::string(listen.substr(colon + 1)).c_str(), s.port) || s.port > 65535) return false;
    } else if (arg == "--misbehave") {
      if (!ParseMode(value, s.mode)) return false;
    } else if (arg == "--delay") {
      if (!ParseInt(value, s.delaySeconds)) return false;
    } else if (arg == "--stop-after") {
      if (!ParseInt(value, s.stopAfterSeconds)) return false;
    } else {
      return false;
    }
  }
  return true;
}

AnsiText PlainText(const Settings& s) {
  return kestrova::intake::Utf8ToGbk(s.plainGiven ? s.plain : s.room + "#" + s.version);
}

AnsiText ConfigText(const Settings& s) {
  const AnsiText plain = PlainText(s);
  const AnsiText key = kestrova::intake::Utf8ToGbk(s.key);
  using kestrova::config::EncipherConfig;
  AnsiText text = EncipherConfig(plain, key);
  const std::size_t tagAt = text.size() - kestrova::config::kConfigTagLength;
  switch (s.mode) {
    case Mode::WrongTag:
      return EncipherConfig(plain, key + "0");
    case Mode::LowerTag:
      for (std::size_t i = tagAt; i < text.size(); ++i) {
        if (text[i] >= 'A' && text[i] <= 'F') text[i] = static_cast<char>(text[i] - 'A' + 'a');
      }
      return text;
    case Mode::Empty:
      return {};
    case Mode::Nul:
      // Inside the hex body, so the text is cut before its tag.
      text.insert(tagAt / 2, 1, '\0');
      return text;
    case Mode::NulTail:
      return text + AnsiText(1, '\0') + "trailing bytes after the text";
    case Mode::Huge: {
      // Valid, but padded with enciphered zero bytes to 10 MB: only a body limit stops it.
      AnsiText huge = text.substr(0, tagAt);
      const std::size_t padding = (kHugeBodyBytes - huge.size() - kestrova::config::kConfigTagLength) / 2;
      huge.reserve(kHugeBodyBytes);
      for (std::size_t i = 0; i < padding; ++i) huge += "A1";
      return huge + text.substr(tagAt);
    }
    case Mode::GarbageBody: {
      AnsiText junk;
      std::uint32_t x = 2463534242u;
      for (int i = 0; i < 512; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        junk.push_back(static_cast<char>(x & 0xFF));
      }
      return junk;
    }
    default:
      return text;
  }
}

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

// Waits up to `seconds` (forever when negative) while the peer stays connected and the server
// runs; false when either ended first.
bool WaitConnected(int fd, int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!g_stop && (seconds < 0 || std::chrono::steady_clock::now() < until)) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) > 0) {
      char scratch[256];
      if (::recv(fd, scratch, sizeof scratch, 0) <= 0) return false;
    }
  }
  return !g_stop;
}

std::string Response(const char* status, std::string_view body, bool headOnly) {
  std::string out = std::string("HTTP/1.1 ") + status + "\r\nContent-Type: text/plain\r\nContent-Length: " +
                    std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
  if (!headOnly) out.append(body);
  return out;
}

void Serve(int fd, const Settings& s, const AnsiText& configText) {
  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536 && !g_stop) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, 10'000);
    if (ready <= 0) return;
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return;
    request.append(buffer, static_cast<std::size_t>(got));
  }
  const std::string line = request.substr(0, request.find("\r\n"));
  std::fprintf(stderr, "config-server: %s\n", line.c_str());
  const bool head = line.rfind("HEAD ", 0) == 0;
  const bool get = line.rfind("GET ", 0) == 0;
  const std::size_t pathStart = line.find(' ');
  const std::size_t pathEnd = line.find(' ', pathStart + 1);
  const std::string path = pathStart == std::string::npos ? std::string()
                                                           : line.substr(pathStart + 1, pathEnd - pathStart - 1);
  if ((!get && !head) || path != "/config") {
    SendAll(fd, Response("404 Not Found", "not found\n", head));
    return;
  }
  switch (s.mode) {
    case Mode::Silent:
      WaitConnected(fd, -1);
      return;
    case Mode::Slow:
      if (!WaitConnected(fd, s.delaySeconds)) return;
      break;
    case Mode::Garbage:
      SendAll(fd, std::string_view("\x16\x03\x01\x00\xA5garbage, not HTTP\r\n\x00\xFF\xFE", 27));
      return;
    default:
      break;
  }
  SendAll(fd, Response("200 OK", configText, head));
}

struct Connection {
  std::thread thread;
  std::shared_ptr<std::atomic<bool>> done;
};

int RunServer(const Settings& s) {
  const AnsiText configText = ConfigText(s);
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) {
    std::perror("socket");
    return 1;
  }
  const int one = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(s.port));
  if (::inet_pton(AF_INET, s.host.c_str(), &address.sin_addr) != 1) {
    std::fprintf(stderr, "config-server: not an IPv4 address: %s\n", s.host.c_str());
    return 2;
  }
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 16) != 0) {
    std::perror("bind/listen");
    return 1;
  }
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::printf("%d\n", ntohs(address.sin_port));
  std::fflush(stdout);

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(s.stopAfterSeconds);
  std::list<Connection> connections;
  while (!g_stop) {
    if (s.stopAfterSeconds > 0 && std::chrono::steady_clock::now() >= deadline) break;
    for (auto it = connections.begin(); it != connections.end();) {
      if (*it->done) {
        it->thread.join();
        it = connections.erase(it);
      } else {
        ++it;
      }
    }
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    if (connections.size() >= kMaxConnections) {
      ::close(client);
      continue;
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    connections.push_back(Connection{std::thread([client, &s, &configText, done] {
                                       Serve(client, s, configText);
                                       ::shutdown(client, SHUT_RDWR);
                                       ::close(client);
                                       *done = true;
                                     }),
                                     done});
  }
  g_stop = true;
  ::close(listener);
  for (Connection& c : connections) c.thread.join();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  int first = 1;
  bool encipher = false;
  if (argc > 1 && std::string_view(argv[1]) == "encipher") {
    encipher = true;
    first = 2;
  } else if (argc > 1 && std::string_view(argv[1]) == "serve") {
    first = 2;
  } else if (argc > 1 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
    Usage();
    return 0;
  }
  if (!ParseArgs(argc, argv, first, settings)) {
    Usage();
    return 2;
  }
  if (encipher) {
    const AnsiText text = kestrova::config::EncipherConfig(PlainText(settings),
                                                           kestrova::intake::Utf8ToGbk(settings.key));
    std::printf("%s\n", text.c_str());
    return text.empty() ? 1 : 0;
  }
  return RunServer(settings);
}
