#include "ws/ws_server_transport.h"

#include <gtest/gtest.h>

#include <QPointer>

#include "barrage/frame_codec.h"
#include "loopback_support.h"
#include "test_pki.h"
#include "ws/websocket_client.h"

namespace kestrova::ws {
namespace {

using testing::Bytes;
using testing::RecordingEvents;
using testing::WaitFor;

// The barrage server's side of each connection as the tests see it.
struct Session {
  QPointer<WsServerConnection> connection;
  std::vector<ByteBuffer> received;
  int closed = 0;
};

class ServerFixture {
 public:
  ServerFixture()
      : transport([this](WsServerConnection& connection) {
          auto session = std::make_unique<Session>();
          Session* raw = session.get();
          raw->connection = &connection;
          connection.SetHandlers(
              [raw](std::span<const std::uint8_t> bytes) {
                raw->received.emplace_back(bytes.begin(), bytes.end());
              },
              [raw] { ++raw->closed; });
          sessions.push_back(std::move(session));
        }) {}

  std::vector<std::unique_ptr<Session>> sessions;
  WsServerTransport transport;
};

WebSocketClientSettings ClientFor(Transport kind, QString caFile = {}) {
  WebSocketClientSettings settings;
  settings.kind = kind;
  settings.extraCaFile = std::move(caFile);
  return settings;
}

TEST(WsServerTransport, MovesFramesBothWaysAsBinaryMessages) {
  ServerFixture server;
  ASSERT_EQ(server.transport.Listen({}), QString());
  EXPECT_EQ(server.transport.Url().scheme(), QStringLiteral("ws"));
  RecordingEvents events;
  WebSocketClient client(ClientFor(Transport::WebSocket));
  client.SetEvents(&events);
  ASSERT_TRUE(client.Connect("127.0.0.1", server.transport.Port()));
  const ByteBuffer login = barrage::EncodeMessage("type@=loginreq/roomid@=1/");
  const ByteBuffer join = barrage::EncodeMessage("type@=joingroup/rid@=1/gid@=-9999/");
  client.Send(login);
  client.Send(join);
  ASSERT_TRUE(WaitFor(
      [&] { return server.sessions.size() == 1 && server.sessions[0]->received.size() == 2; }));
  Session& session = *server.sessions[0];
  EXPECT_EQ(session.received, (std::vector<ByteBuffer>{login, join}));
  EXPECT_EQ(session.connection->Origin(), QStringLiteral("https://www.douyu.com"));
  EXPECT_TRUE(session.connection->Header("user-agent").startsWith("Mozilla/5.0"));
  EXPECT_EQ(server.transport.ConnectionCount(), 1u);

  // Several frames in one Send are one message; the client hands them over unchanged.
  const ByteBuffer reply = barrage::BuildFrame(Bytes("type@=mrkl/"), barrage::kServerMessageType);
  ByteBuffer twoFrames = reply;
  twoFrames.insert(twoFrames.end(), reply.begin(), reply.end());
  ASSERT_TRUE(session.connection->Send(twoFrames));
  ASSERT_TRUE(session.connection->Send(reply));
  ASSERT_TRUE(WaitFor([&] { return events.blocks.size() == 2; }));
  EXPECT_EQ(events.blocks[0], twoFrames);
  EXPECT_EQ(events.blocks[1], reply);
}

TEST(WsServerTransport, ClientGoingAwayRunsTheClosedHandlerOnce) {
  ServerFixture server;
  ASSERT_EQ(server.transport.Listen({}), QString());
  RecordingEvents events;
  WebSocketClient client(ClientFor(Transport::WebSocket));
  client.SetEvents(&events);
  ASSERT_TRUE(client.Connect("127.0.0.1", server.transport.Port()));
  ASSERT_TRUE(WaitFor([&] { return events.connected == 1 && server.sessions.size() == 1; }));

  client.Disconnect();
  ASSERT_TRUE(WaitFor([&] { return server.sessions[0]->closed == 1; }));
  // The connection object goes once its handler has run.
  ASSERT_TRUE(WaitFor([&] { return server.sessions[0]->connection.isNull(); }));
  EXPECT_EQ(server.transport.ConnectionCount(), 0u);
  EXPECT_EQ(server.sessions[0]->closed, 1);
}

TEST(WsServerTransport, ClosingFromTheServerSideReachesTheClient) {
  ServerFixture server;
  ASSERT_EQ(server.transport.Listen({}), QString());
  RecordingEvents first;
  RecordingEvents second;
  WebSocketClient clientA(ClientFor(Transport::WebSocket));
  WebSocketClient clientB(ClientFor(Transport::WebSocket));
  clientA.SetEvents(&first);
  clientB.SetEvents(&second);
  ASSERT_TRUE(clientA.Connect("127.0.0.1", server.transport.Port()));
  ASSERT_TRUE(WaitFor([&] { return first.connected == 1 && server.sessions.size() == 1; }));
  ASSERT_TRUE(clientB.Connect("127.0.0.1", server.transport.Port()));
  ASSERT_TRUE(WaitFor([&] { return second.connected == 1 && server.sessions.size() == 2; }));

  // One connection closed by its session: that client alone sees the close.
  server.sessions[0]->connection->Close();
  ASSERT_TRUE(WaitFor([&] { return first.closed == 1; }));
  EXPECT_EQ(server.sessions[0]->closed, 0);
  EXPECT_EQ(server.transport.ConnectionCount(), 1u);

  // Stopping the transport closes the rest.
  server.transport.Close();
  EXPECT_FALSE(server.transport.IsListening());
  ASSERT_TRUE(WaitFor([&] { return second.closed == 1; }));
  EXPECT_EQ(server.sessions[1]->closed, 0);
}

TEST(WsServerTransport, SecureModeServesAClientThatTrustsItsCa) {
  QString error;
  const TestPki* pki = SharedTestPki(&error);
  ASSERT_NE(pki, nullptr) << error.toStdString();
  ServerFixture server;
  WsServerSettings settings;
  settings.certificateFile = pki->serverCertificate;
  settings.keyFile = pki->serverKey;
  ASSERT_EQ(server.transport.Listen(settings), QString());
  EXPECT_EQ(server.transport.Url().scheme(), QStringLiteral("wss"));

  RecordingEvents events;
  WebSocketClient client(ClientFor(Transport::SecureWebSocket, pki->caCertificate));
  client.SetEvents(&events);
  ASSERT_TRUE(client.Connect("localhost", server.transport.Port()));
  client.Send(Bytes("over tls"));
  ASSERT_TRUE(WaitFor(
      [&] { return server.sessions.size() == 1 && server.sessions[0]->received.size() == 1; }));
  EXPECT_EQ(server.sessions[0]->received[0], Bytes("over tls"));
  ASSERT_TRUE(server.sessions[0]->connection->Send(Bytes("back")));
  ASSERT_TRUE(WaitFor([&] { return events.blocks.size() == 1; }));
  EXPECT_EQ(events.blocks[0], Bytes("back"));
}

TEST(WsServerTransport, ListenSaysWhyItCannot) {
  QString error;
  const TestPki* pki = SharedTestPki(&error);
  ASSERT_NE(pki, nullptr) << error.toStdString();
  ServerFixture server;

  WsServerSettings noKey;
  noKey.certificateFile = pki->serverCertificate;
  noKey.keyFile = QStringLiteral("/nonexistent/key.pem");
  EXPECT_NE(server.transport.Listen(noKey), QString());

  WsServerSettings keyAsCertificate;
  keyAsCertificate.certificateFile = pki->serverKey;
  keyAsCertificate.keyFile = pki->serverKey;
  EXPECT_NE(server.transport.Listen(keyAsCertificate), QString());

  ServerFixture other;
  ASSERT_EQ(other.transport.Listen({}), QString());
  WsServerSettings taken;
  taken.port = other.transport.Port();
  EXPECT_NE(server.transport.Listen(taken), QString());
  EXPECT_FALSE(server.transport.IsListening());
}

}  // namespace
}  // namespace kestrova::ws
