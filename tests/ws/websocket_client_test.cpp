#include "ws/websocket_client.h"

#include <gtest/gtest.h>

#include <QTcpServer>

#include "barrage/frame_codec.h"
#include "barrage/frame_splitter.h"
#include "loopback_support.h"
#include "test_pki.h"

namespace kestrova::ws {
namespace {

using testing::Bytes;
using testing::FromQt;
using testing::RawServer;
using testing::RecordingEvents;
using testing::ToQt;
using testing::WaitFor;

WebSocketClientSettings Plain() {
  WebSocketClientSettings settings;
  settings.kind = Transport::WebSocket;
  return settings;
}

WebSocketClientSettings Secure(QString caFile = {}) {
  WebSocketClientSettings settings;
  settings.kind = Transport::SecureWebSocket;
  settings.extraCaFile = std::move(caFile);
  return settings;
}

// A port on which nobody listens: taken from the system, then given back.
std::uint16_t DeadPort() {
  QTcpServer probe;
  probe.listen(QHostAddress(QHostAddress::LocalHost), 0);
  return probe.serverPort();
}

ByteBuffer ServerFrame(std::string_view body) {
  return barrage::BuildFrame(Bytes(body), barrage::kServerMessageType);
}

TEST(WebSocketClient, SendsEachFrameAsOneBinaryMessageInOrderAlsoWhileConnecting) {
  RawServer server(QWebSocketServer::NonSecureMode);
  ASSERT_TRUE(server.Listen());
  RecordingEvents events;
  WebSocketClient client(Plain());
  client.SetEvents(&events);

  const ByteBuffer login = barrage::EncodeMessage("type@=loginreq/roomid@=288016/");
  const ByteBuffer join = barrage::EncodeMessage("type@=joingroup/rid@=288016/gid@=-9999/");
  const ByteBuffer mrkl = barrage::EncodeMessage("type@=mrkl/");
  ASSERT_TRUE(client.Connect("127.0.0.1", server.Port()));
  EXPECT_TRUE(client.Send(login));  // both before the handshake is done
  EXPECT_TRUE(client.Send(join));
  ASSERT_TRUE(WaitFor([&] { return events.connected == 1; }));
  EXPECT_TRUE(client.Send(mrkl));

  ASSERT_TRUE(
      WaitFor([&] { return server.peers.size() == 1 && server.peers[0]->received.size() == 3; }));
  const RawServer::Peer& peer = *server.peers[0];
  EXPECT_EQ(FromQt(peer.received[0]), login);
  EXPECT_EQ(FromQt(peer.received[1]), join);
  EXPECT_EQ(FromQt(peer.received[2]), mrkl);
  EXPECT_EQ(peer.origin, QStringLiteral("https://www.douyu.com"));
  EXPECT_TRUE(peer.request.rawHeader("User-Agent").startsWith("Mozilla/5.0"));
  EXPECT_EQ(events.closed, 0);
}

TEST(WebSocketClient, EachServerMessageIsOneBlockAndTheSplitterGetsWholeFrames) {
  RawServer server(QWebSocketServer::NonSecureMode);
  ASSERT_TRUE(server.Listen());
  RecordingEvents events;
  WebSocketClient client(Plain());
  client.SetEvents(&events);
  ASSERT_TRUE(client.Connect("127.0.0.1", server.Port()));
  ASSERT_TRUE(WaitFor([&] { return events.connected == 1 && server.peers.size() == 1; }));

  const ByteBuffer first = ServerFrame("type@=spbc/sn@=a/gb@=1/");
  const ByteBuffer second = ServerFrame("type@=mrkl/");
  const ByteBuffer third = ServerFrame("type@=chatmsg/txt@=hello/");
  ByteBuffer twoFrames = first;
  twoFrames.insert(twoFrames.end(), second.begin(), second.end());
  const ByteBuffer headPart(third.begin(), third.begin() + 7);
  const ByteBuffer tailPart(third.begin() + 7, third.end());
  QWebSocket& peer = *server.peers[0]->socket;
  peer.sendBinaryMessage(ToQt(twoFrames));
  peer.sendBinaryMessage(ToQt(headPart));
  peer.sendBinaryMessage(ToQt(tailPart));

  ASSERT_TRUE(WaitFor([&] { return events.blocks.size() == 3; }));
  EXPECT_EQ(events.blocks[0], twoFrames);
  EXPECT_EQ(events.blocks[1], headPart);
  EXPECT_EQ(events.blocks[2], tailPart);

  barrage::FrameSplitter splitter;
  std::vector<ByteBuffer> frames;
  for (const ByteBuffer& block : events.blocks) {
    splitter.Feed(block, [&](std::span<const std::uint8_t> frame) {
      frames.emplace_back(frame.begin(), frame.end());
    });
  }
  EXPECT_EQ(frames, (std::vector<ByteBuffer>{first, second, third}));
}

TEST(WebSocketClient, ServerCloseIsOneOnClosedAndTheNextConnectWorks) {
  RawServer server(QWebSocketServer::NonSecureMode);
  ASSERT_TRUE(server.Listen());
  RecordingEvents events;
  WebSocketClient client(Plain());
  client.SetEvents(&events);
  ASSERT_TRUE(client.Connect("127.0.0.1", server.Port()));
  ASSERT_TRUE(WaitFor([&] { return events.connected == 1 && server.peers.size() == 1; }));

  server.peers[0]->socket->close();
  ASSERT_TRUE(WaitFor([&] { return events.closed == 1; }));
  EXPECT_FALSE(client.Send(Bytes("late")));

  // A whole second connection runs while any duplicate close of the first would have arrived.
  ASSERT_TRUE(client.Connect("127.0.0.1", server.Port()));
  ASSERT_TRUE(WaitFor([&] { return events.connected == 2; }));
  EXPECT_TRUE(client.Send(Bytes("again")));
  ASSERT_TRUE(
      WaitFor([&] { return server.peers.size() == 2 && !server.peers[1]->received.empty(); }));
  EXPECT_EQ(events.closed, 1);
}

TEST(WebSocketClient, RefusedConnectIsOnClosedAndSendsFailAfterwards) {
  RecordingEvents events;
  WebSocketClient client(Plain());
  client.SetEvents(&events);
  ASSERT_TRUE(client.Connect("127.0.0.1", DeadPort()));
  EXPECT_TRUE(client.Send(Bytes("kept while connecting")));
  ASSERT_TRUE(WaitFor([&] { return events.closed == 1; }));
  EXPECT_EQ(events.connected, 0);
  EXPECT_FALSE(client.Send(Bytes("after the failure")));
}

TEST(WebSocketClient, ConnectThatCannotStartReturnsFalseWithoutEvents) {
  RecordingEvents events;
  WebSocketClient client(Plain());
  client.SetEvents(&events);
  EXPECT_FALSE(client.Connect("", 8080));
  EXPECT_FALSE(client.Connect("bad host", 8080));
  EXPECT_FALSE(client.Connect("127.0.0.1", 0));
  EXPECT_FALSE(client.Send(Bytes("nothing to write to")));
  QCoreApplication::processEvents();
  EXPECT_EQ(events.closed, 0);
}

TEST(WebSocketClient, DisconnectAndReplacingConnectRaiseNoEvent) {
  RawServer server(QWebSocketServer::NonSecureMode);
  ASSERT_TRUE(server.Listen());
  RecordingEvents events;
  WebSocketClient client(Plain());
  client.SetEvents(&events);
  ASSERT_TRUE(client.Connect("127.0.0.1", server.Port()));
  ASSERT_TRUE(WaitFor([&] { return events.connected == 1 && server.peers.size() == 1; }));

  // A second connect closes the first connection, and nothing sent afterwards goes there.
  ASSERT_TRUE(client.Connect("127.0.0.1", server.Port()));
  EXPECT_TRUE(client.Send(Bytes("to the new one")));
  ASSERT_TRUE(WaitFor([&] { return events.connected == 2 && server.peers.size() == 2; }));
  ASSERT_TRUE(WaitFor([&] { return server.peers[0]->gone && !server.peers[1]->received.empty(); }));
  EXPECT_TRUE(server.peers[0]->received.empty());
  EXPECT_EQ(FromQt(server.peers[1]->received[0]), Bytes("to the new one"));

  client.Disconnect();
  EXPECT_FALSE(client.Send(Bytes("after disconnect")));
  ASSERT_TRUE(WaitFor([&] { return server.peers[1]->gone; }));
  EXPECT_EQ(events.closed, 0);
  EXPECT_TRUE(events.blocks.empty());
}

TEST(WebSocketClient, FailedPortIsLeftForTheNextOneOfTheList) {
  RawServer server(QWebSocketServer::NonSecureMode);
  ASSERT_TRUE(server.Listen());
  WebSocketClientSettings settings = Plain();
  const std::uint16_t dead = DeadPort();
  settings.ports = {dead, server.Port()};
  settings.pickPort = [](std::size_t) { return std::size_t{0}; };
  RecordingEvents events;
  WebSocketClient client(settings);
  client.SetEvents(&events);

  ASSERT_TRUE(client.Connect("127.0.0.1", 1));  // the list rules, not the argument
  EXPECT_EQ(client.CurrentPort(), dead);
  ASSERT_TRUE(WaitFor([&] { return events.closed == 1; }));
  ASSERT_TRUE(client.Connect("127.0.0.1", 1));
  EXPECT_EQ(client.CurrentPort(), server.Port());
  ASSERT_TRUE(WaitFor([&] { return events.connected == 1; }));
}

TEST(WebSocketClient, ServerThatNeverAnswersTheHandshakeTimesOut) {
  QTcpServer mute;  // accepts the TCP connection and then says nothing
  ASSERT_TRUE(mute.listen(QHostAddress(QHostAddress::LocalHost), 0));
  WebSocketClientSettings settings = Plain();
  settings.connectTimeoutMs = 300;
  RecordingEvents events;
  WebSocketClient client(settings);
  client.SetEvents(&events);
  ASSERT_TRUE(client.Connect("127.0.0.1", mute.serverPort()));
  ASSERT_TRUE(WaitFor([&] { return events.closed == 1; }));
  EXPECT_EQ(events.connected, 0);
}

class SecureWebSocketClient : public ::testing::Test {
 protected:
  void SetUp() override {
    QString error;
    m_pki = SharedTestPki(&error);
    ASSERT_NE(m_pki, nullptr) << error.toStdString();
  }
  const TestPki* m_pki = nullptr;
};

TEST_F(SecureWebSocketClient, TrustingTheCaFileMakesItWork) {
  RawServer server(QWebSocketServer::SecureMode);
  ASSERT_TRUE(server.ListenSecure(m_pki->serverCertificate, m_pki->serverKey));
  RecordingEvents events;
  WebSocketClient client(Secure(m_pki->caCertificate));
  ASSERT_TRUE(client.ExtraCaLoaded());
  client.SetEvents(&events);
  ASSERT_TRUE(client.Connect("127.0.0.1", server.Port()));
  EXPECT_TRUE(client.Send(Bytes("hello")));
  ASSERT_TRUE(WaitFor([&] { return events.connected == 1 && server.peers.size() == 1; }));
  server.peers[0]->socket->sendBinaryMessage(QByteArrayLiteral("welcome"));
  ASSERT_TRUE(
      WaitFor([&] { return events.blocks.size() == 1 && !server.peers[0]->received.empty(); }));
  EXPECT_EQ(events.blocks[0], Bytes("welcome"));
  EXPECT_EQ(FromQt(server.peers[0]->received[0]), Bytes("hello"));
  EXPECT_EQ(events.closed, 0);
}

struct UntrustedCase {
  const char* name;
  bool wrongNameCertificate;
  // Which CA file the client gets: none (system only), the other CA, or the right one.
  enum class Ca { None, Other, Right } ca;
};

class SecureWebSocketRefusal : public SecureWebSocketClient,
                               public ::testing::WithParamInterface<UntrustedCase> {};

TEST_P(SecureWebSocketRefusal, EndsInOnClosedAndNothingIsExchanged) {
  const UntrustedCase& c = GetParam();
  RawServer server(QWebSocketServer::SecureMode);
  ASSERT_TRUE(c.wrongNameCertificate
                  ? server.ListenSecure(m_pki->wrongNameCertificate, m_pki->wrongNameKey)
                  : server.ListenSecure(m_pki->serverCertificate, m_pki->serverKey));
  QString caFile;
  if (c.ca == UntrustedCase::Ca::Other) caFile = m_pki->otherCaCertificate;
  if (c.ca == UntrustedCase::Ca::Right) caFile = m_pki->caCertificate;
  RecordingEvents events;
  WebSocketClient client(Secure(caFile));
  client.SetEvents(&events);
  ASSERT_TRUE(client.Connect("127.0.0.1", server.Port()));
  EXPECT_TRUE(client.Send(Bytes("secret")));
  ASSERT_TRUE(WaitFor([&] { return events.closed == 1; }));
  EXPECT_EQ(events.connected, 0);
  for (const auto& peer : server.peers) EXPECT_TRUE(peer->received.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, SecureWebSocketRefusal,
    ::testing::Values(UntrustedCase{"SystemCasOnly", false, UntrustedCase::Ca::None},
                      UntrustedCase{"AnotherCa", false, UntrustedCase::Ca::Other},
                      UntrustedCase{"RightCaWrongName", true, UntrustedCase::Ca::Right}),
    [](const ::testing::TestParamInfo<UntrustedCase>& info) {
      return std::string(info.param.name);
    });

TEST(SecureWebSocketCaFile, UnreadableFileRefusesEveryConnect) {
  RecordingEvents events;
  WebSocketClient client(Secure(QStringLiteral("/nonexistent/kestrova-ca.pem")));
  client.SetEvents(&events);
  EXPECT_FALSE(client.ExtraCaLoaded());
  EXPECT_FALSE(client.Connect("127.0.0.1", 443));
  QCoreApplication::processEvents();
  EXPECT_EQ(events.closed, 0);
}

}  // namespace
}  // namespace kestrova::ws
