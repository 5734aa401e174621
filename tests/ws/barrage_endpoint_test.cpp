#include "ws/barrage_endpoint.h"

#include <gtest/gtest.h>

#include <set>

namespace kestrova::ws {
namespace {

struct GoodCase {
  const char* text;
  Transport kind;
  const char* host;
  std::uint16_t port;
};

class ParsesEndpoint : public ::testing::TestWithParam<GoodCase> {};

TEST_P(ParsesEndpoint, GivesKindHostAndPort) {
  const GoodCase& c = GetParam();
  const std::optional<BarrageEndpoint> endpoint = ParseBarrageEndpoint(c.text);
  ASSERT_TRUE(endpoint.has_value()) << c.text;
  EXPECT_EQ(endpoint->kind, c.kind) << c.text;
  EXPECT_EQ(endpoint->host, c.host) << c.text;
  EXPECT_EQ(endpoint->ports, std::vector<std::uint16_t>{c.port}) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParsesEndpoint,
    ::testing::Values(
        GoodCase{"tcp://10.0.0.7:8601", Transport::Tcp, "10.0.0.7", 8601},
        GoodCase{"tcp://localhost", Transport::Tcp, "localhost", kDefaultBarragePort},
        GoodCase{"TCP://Barrage.Example:1", Transport::Tcp, "Barrage.Example", 1},
        GoodCase{"openbarrage.douyutv.com", Transport::Tcp, "openbarrage.douyutv.com", 8601},
        GoodCase{"127.0.0.1:65535", Transport::Tcp, "127.0.0.1", 65535},
        GoodCase{"my_host-2:9", Transport::Tcp, "my_host-2", 9},
        GoodCase{"[::1]:8602", Transport::Tcp, "::1", 8602},
        GoodCase{"ws://127.0.0.1:8080", Transport::WebSocket, "127.0.0.1", 8080},
        GoodCase{"ws://127.0.0.1:8080/", Transport::WebSocket, "127.0.0.1", 8080},
        GoodCase{"ws://example.net", Transport::WebSocket, "example.net", 80},
        GoodCase{"wss://danmuproxy.douyu.com:8501", Transport::SecureWebSocket,
                 "danmuproxy.douyu.com", 8501},
        GoodCase{"WSS://example.net/", Transport::SecureWebSocket, "example.net", 443},
        GoodCase{"wss://[2001:db8::1]:9443/", Transport::SecureWebSocket, "2001:db8::1", 9443}));

class RefusesEndpoint : public ::testing::TestWithParam<const char*> {};

TEST_P(RefusesEndpoint, GivesNothing) {
  EXPECT_FALSE(ParseBarrageEndpoint(GetParam()).has_value()) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Table, RefusesEndpoint,
                         ::testing::Values(
                             // Missing or empty parts.
                             "", "tcp://", "ws://", "wss:///", ":8601", "host:", "ws://:80",
                             // Ports out of range or not plain decimal.
                             "host:0", "host:65536", "host:123456", "host:+80", "host:80x",
                             "host:-1", "host: 80",
                             // Schemes and address parts we do not serve.
                             "http://host:80", "udp://host:1", "host://x", "ws://host:80/path",
                             "ws://host:80//", "tcp://host:80/", "ws://user@host:80",
                             "ws://host:80?room=1", "wss://host:443#top",
                             // Host names that cannot be.
                             "host name", " host", "host ", "host.", ".host", "a..b", "-host",
                             "host-", "h\xc3\xb3st", "a:b:c",
                             // IPv6 written without brackets, or broken brackets, or with a zone.
                             "::1", "[::1", "[::1]x", "[]:80", "[host]:80", "[fe80::1%eth0]:80"));

TEST(LiveEndpoint, IsTheSecureProxyOnItsSixPorts) {
  const BarrageEndpoint live = LiveBarrageEndpoint();
  EXPECT_EQ(live.kind, Transport::SecureWebSocket);
  EXPECT_EQ(live.host, "danmuproxy.douyu.com");
  EXPECT_EQ(live.ports, (std::vector<std::uint16_t>{8501, 8502, 8503, 8504, 8505, 8506}));
}

TEST(WebSocketAddress, NamesSchemeHostPortAndRoot) {
  EXPECT_EQ(WebSocketAddress(Transport::WebSocket, "127.0.0.1", 8080), "ws://127.0.0.1:8080/");
  EXPECT_EQ(WebSocketAddress(Transport::SecureWebSocket, "danmuproxy.douyu.com", 8503),
            "wss://danmuproxy.douyu.com:8503/");
  EXPECT_EQ(WebSocketAddress(Transport::SecureWebSocket, "::1", 443), "wss://[::1]:443/");
  EXPECT_EQ(WebSocketAddress(Transport::Tcp, "host", 8601), "");
}

// A pick that answers from a script, so that each test says which random draws it gets.
PortRotation::Pick Scripted(std::vector<std::size_t> answers) {
  auto next = std::make_shared<std::size_t>(0);
  return [answers = std::move(answers), next](std::size_t) { return answers.at((*next)++); };
}

TEST(PortRotation, DrawsAtRandomForFreshAttemptsAndMovesOnAfterFailures) {
  PortRotation rotation(LiveBarrageEndpoint().ports, Scripted({2, 0, 4}));
  EXPECT_EQ(rotation.Next(), 8503);  // first attempt: drawn
  EXPECT_EQ(rotation.Next(), 8501);  // it did not fail: drawn again
  rotation.MarkFailed();
  EXPECT_EQ(rotation.Next(), 8502);  // after a failure: the next port, no draw
  rotation.MarkFailed();
  EXPECT_EQ(rotation.Next(), 8503);
  EXPECT_EQ(rotation.Next(), 8505);  // that one came up: back to drawing
  rotation.MarkFailed();
  EXPECT_EQ(rotation.Next(), 8506);
  rotation.MarkFailed();
  EXPECT_EQ(rotation.Next(), 8501);  // wraps around
}

TEST(PortRotation, RealDrawsStayInTheListAndSpreadOverIt) {
  PortRotation rotation(LiveBarrageEndpoint().ports);
  std::set<std::uint16_t> seen;
  for (int i = 0; i < 300; ++i) {
    const std::uint16_t port = rotation.Next();
    ASSERT_GE(port, 8501);
    ASSERT_LE(port, 8506);
    seen.insert(port);
  }
  // 300 draws missing one of six ports has a chance of about 6 * (5/6)^300, i.e. never.
  EXPECT_EQ(seen.size(), 6u);
}

TEST(PortRotation, SinglePortAndEmptyList) {
  PortRotation single({9000});
  EXPECT_EQ(single.Next(), 9000);
  single.MarkFailed();
  EXPECT_EQ(single.Next(), 9000);
  PortRotation empty({});
  EXPECT_EQ(empty.Next(), kDefaultBarragePort);
}

}  // namespace
}  // namespace kestrova::ws
