#include "ws/barrage_endpoint.h"

#include <algorithm>
#include <memory>
#include <random>

namespace kestrova::ws {
namespace {

constexpr std::uint16_t kPlainWebPort = 80;
constexpr std::uint16_t kSecureWebPort = 443;
constexpr std::size_t kMaxHostLength = 253;
constexpr std::size_t kMaxLabelLength = 63;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsHexDigit(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string Lowered(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(), [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return result;
}

// Host names and dotted IPv4 addresses: labels of letters, digits, '-' and '_' (some internal
// names carry one), separated by single dots, none starting or ending with '-'.
bool IsValidHostName(std::string_view host) {
  if (host.empty() || host.size() > kMaxHostLength) return false;
  std::size_t labelStart = 0;
  while (labelStart <= host.size()) {
    std::size_t labelEnd = host.find('.', labelStart);
    if (labelEnd == std::string_view::npos) labelEnd = host.size();
    const std::string_view label = host.substr(labelStart, labelEnd - labelStart);
    if (label.empty() || label.size() > kMaxLabelLength) return false;
    if (label.front() == '-' || label.back() == '-') return false;
    for (char c : label) {
      if (!IsAlpha(c) && !IsDigit(c) && c != '-' && c != '_') return false;
    }
    labelStart = labelEnd + 1;
  }
  return true;
}

// The inside of "[...]": hexadecimal groups and colons, with an IPv4 tail allowed. Zone
// identifiers ("%eth0") are refused; they mean nothing to a remote server.
bool IsValidIpv6(std::string_view host) {
  if (host.size() < 2 || host.find(':') == std::string_view::npos) return false;
  return std::all_of(host.begin(), host.end(),
                     [](char c) { return IsHexDigit(c) || c == ':' || c == '.'; });
}

std::optional<std::uint16_t> ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<BarrageEndpoint> ParseBarrageEndpoint(std::string_view text) {
  BarrageEndpoint endpoint;
  std::uint16_t defaultPort = kDefaultBarragePort;
  std::string_view rest = text;

  const std::size_t schemeEnd = text.find("://");
  if (schemeEnd != std::string_view::npos) {
    const std::string scheme = Lowered(text.substr(0, schemeEnd));
    rest = text.substr(schemeEnd + 3);
    if (scheme == "tcp") {
      endpoint.kind = Transport::Tcp;
    } else if (scheme == "ws") {
      endpoint.kind = Transport::WebSocket;
      defaultPort = kPlainWebPort;
    } else if (scheme == "wss") {
      endpoint.kind = Transport::SecureWebSocket;
      defaultPort = kSecureWebPort;
    } else {
      return std::nullopt;
    }
    // A web address is often written with its root path; it is the only path we serve.
    if (endpoint.kind != Transport::Tcp && !rest.empty() && rest.back() == '/') {
      rest.remove_suffix(1);
    }
  }

  std::string_view host;
  std::string_view portText;
  bool hasPort = false;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = rest.substr(1, close - 1);
    if (!IsValidIpv6(host)) return std::nullopt;
    const std::string_view after = rest.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return std::nullopt;
      portText = after.substr(1);
      hasPort = true;
    }
  } else {
    const std::size_t colon = rest.find(':');
    host = rest.substr(0, colon);
    if (colon != std::string_view::npos) {
      portText = rest.substr(colon + 1);
      hasPort = true;
    }
    if (!IsValidHostName(host)) return std::nullopt;
  }

  std::uint16_t port = defaultPort;
  if (hasPort) {
    const std::optional<std::uint16_t> parsed = ParsePort(portText);
    if (!parsed) return std::nullopt;
    port = *parsed;
  }
  endpoint.host = std::string(host);
  endpoint.ports = {port};
  return endpoint;
}

BarrageEndpoint LiveBarrageEndpoint() {
  return BarrageEndpoint{
      Transport::SecureWebSocket, "danmuproxy.douyu.com", {8501, 8502, 8503, 8504, 8505, 8506}};
}

std::string WebSocketAddress(Transport kind, std::string_view host, std::uint16_t port) {
  std::string scheme;
  switch (kind) {
    case Transport::Tcp:
      return {};
    case Transport::WebSocket:
      scheme = "ws://";
      break;
    case Transport::SecureWebSocket:
      scheme = "wss://";
      break;
  }
  const bool ipv6 = host.find(':') != std::string_view::npos;
  std::string address = scheme;
  if (ipv6) address += '[';
  address += host;
  if (ipv6) address += ']';
  address += ':';
  address += std::to_string(port);
  address += '/';
  return address;
}

PortRotation::PortRotation(std::vector<std::uint16_t> ports, Pick pick)
    : m_ports(std::move(ports)), m_pick(std::move(pick)) {
  if (m_ports.empty()) m_ports.push_back(kDefaultBarragePort);
  if (!m_pick) {
    auto engine = std::make_shared<std::mt19937>(std::random_device{}());
    m_pick = [engine](std::size_t count) {
      return std::uniform_int_distribution<std::size_t>(0, count - 1)(*engine);
    };
  }
}

std::uint16_t PortRotation::Next() {
  const std::size_t count = m_ports.size();
  if (m_started && m_lastFailed) {
    m_current = (m_current + 1) % count;
  } else {
    m_current = m_pick(count) % count;
  }
  m_started = true;
  m_lastFailed = false;
  return m_ports[m_current];
}

}  // namespace kestrova::ws
