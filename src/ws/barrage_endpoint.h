#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where the barrage connection goes: the value of the --barrage-server option, the --live short
// form of the platform's own endpoint, and the choice of port among several. Pure values with no
// Qt, so that the option parser and its tests need nothing but the standard library.
namespace kestrova::ws {

// How the barrage frames travel: the plain stream of the original server, or the same frames
// carried in binary WebSocket messages, in the clear or over TLS.
enum class Transport { Tcp, WebSocket, SecureWebSocket };

struct BarrageEndpoint {
  Transport kind = Transport::Tcp;
  // A host name or IPv4 address as written, or an IPv6 address without its brackets.
  std::string host;
  // Never empty. One port for everything the user writes; the live endpoint has several.
  std::vector<std::uint16_t> ports;

  bool operator==(const BarrageEndpoint&) const = default;
};

// The port of the original TCP server, used when a bare host or tcp:// names no port.
inline constexpr std::uint16_t kDefaultBarragePort = 8601;

// Reads `tcp://HOST[:PORT]`, a bare `HOST[:PORT]` (both TCP, port 8601 when omitted),
// `ws://HOST[:PORT]` and `wss://HOST[:PORT]` (ports 80 and 443 when omitted, as in any web
// address; a single trailing "/" is allowed). The scheme is case-insensitive. IPv6 addresses are
// written in brackets. Anything else, including paths, queries, user names, port 0 and ports
// above 65535, gives nullopt, so that a mistyped option is refused at start rather than
// becoming a connection that can never work.
std::optional<BarrageEndpoint> ParseBarrageEndpoint(std::string_view text);

// The endpoint that today's platform serves: TLS WebSocket on danmuproxy.douyu.com, ports 8501
// to 8506.
BarrageEndpoint LiveBarrageEndpoint();

// The address a WebSocket client opens for a host and port, brackets added around an IPv6
// address: "wss://danmuproxy.douyu.com:8503/". Empty for a TCP endpoint.
std::string WebSocketAddress(Transport kind, std::string_view host, std::uint16_t port);

// Picks the port of each connection attempt from an endpoint's list: one at random for a fresh
// attempt, so that many clients spread over the server's ports, and the one after the previous
// port when the previous attempt failed before it was up, so that a dead port is left at once
// instead of being drawn again. Not thread-safe; one per client.
class PortRotation {
 public:
  // Returns an index below `count` (which is at least 1). The adapter passes a real random
  // source; tests pass a fixed one.
  using Pick = std::function<std::size_t(std::size_t count)>;

  // An empty list is treated as {kDefaultBarragePort}. An empty `pick` means a random device.
  explicit PortRotation(std::vector<std::uint16_t> ports, Pick pick = {});

  // The port for the next attempt; remembers it as the current port.
  std::uint16_t Next();
  // The attempt on the current port failed before the connection was up.
  void MarkFailed() { m_lastFailed = true; }

  const std::vector<std::uint16_t>& Ports() const { return m_ports; }

 private:
  std::vector<std::uint16_t> m_ports;
  Pick m_pick;
  std::size_t m_current = 0;
  bool m_started = false;
  bool m_lastFailed = false;
};

}  // namespace kestrova::ws
