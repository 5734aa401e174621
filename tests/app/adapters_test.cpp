// Loopback tests of the real Qt adapters: the TCP client against a QTcpServer in the test, the
// timer, and the ALSA player against ALSA's device-free "null" sink.
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/alsa_sound_player.h"
#include "app/qt_tcp_client.h"
#include "app/qt_timer.h"
#include "intake/alert_sound.h"

namespace kestrova::app {
namespace {

constexpr int kWaitMs = 10000;

struct RecordingEvents : ports::TcpEvents {
  virtual ~RecordingEvents() = default;
  int connected = 0;
  int closed = 0;
  std::vector<std::string> blocks;
  std::string All() const {
    std::string all;
    for (const auto& block : blocks) all += block;
    return all;
  }
  void OnConnected() override { ++connected; }
  void OnData(std::span<const std::uint8_t> block) override {
    blocks.emplace_back(reinterpret_cast<const char*>(block.data()), block.size());
  }
  void OnClosed() override { ++closed; }
};

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

class TcpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_server.listen(QHostAddress::LocalHost, 0));
    m_client.SetEvents(&m_events);
  }

  // Both ends live on this thread, so every wait spins the event loop: the client's side of
  // the connection only moves forward inside it.
  QTcpSocket* AcceptPeer() {
    if (!QTest::qWaitFor([&] { return m_server.hasPendingConnections(); }, kWaitMs)) return nullptr;
    return m_server.nextPendingConnection();
  }

  static QByteArray ReadAtLeast(QTcpSocket* peer, int bytes) {
    QByteArray got;
    static_cast<void>(QTest::qWaitFor(
        [&] {
          got += peer->readAll();
          return got.size() >= bytes;
        },
        kWaitMs));
    return got;
  }

  QTcpServer m_server;
  RecordingEvents m_events;
  QtTcpClient m_client;
};

TEST_F(TcpClientTest, WritesMadeWhileConnectingLeaveInOrderOnceUp) {
  ASSERT_TRUE(m_client.Connect("127.0.0.1", m_server.serverPort()));
  // Both writes happen before the connection can be up: the link writes login and join at once.
  EXPECT_TRUE(m_client.Send(Bytes("login|")));
  EXPECT_TRUE(m_client.Send(Bytes("join|")));
  QTcpSocket* peer = AcceptPeer();
  ASSERT_NE(peer, nullptr);
  EXPECT_EQ(ReadAtLeast(peer, 11), QByteArray("login|join|"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return m_events.connected == 1; }, kWaitMs));
  EXPECT_EQ(m_events.closed, 0);
}

TEST_F(TcpClientTest, DeliversWhatArrivedAsBlocksAndReportsThePeersClose) {
  ASSERT_TRUE(m_client.Connect("127.0.0.1", m_server.serverPort()));
  QTcpSocket* peer = AcceptPeer();
  ASSERT_NE(peer, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return m_events.connected == 1; }, kWaitMs));

  std::string sent;
  for (int i = 0; i < 50; ++i) {
    const std::string piece = "piece" + std::to_string(i) + ";";
    sent += piece;
    peer->write(piece.data(), static_cast<qint64>(piece.size()));
    peer->flush();
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return m_events.All().size() == sent.size(); }, kWaitMs));
  EXPECT_EQ(m_events.All(), sent);
  EXPECT_LE(m_events.blocks.size(), 50U);

  peer->write("last", 4);
  peer->flush();
  peer->disconnectFromHost();
  ASSERT_TRUE(QTest::qWaitFor([&] { return m_events.closed == 1; }, kWaitMs));
  // What the peer sent just before closing is not lost.
  EXPECT_EQ(m_events.All(), sent + "last");
  QTest::qWait(50);
  EXPECT_EQ(m_events.closed, 1);
}

TEST_F(TcpClientTest, FailedConnectRaisesClosedOnceAndSendsFailAfterwards) {
  const quint16 port = m_server.serverPort();
  m_server.close();  // nothing listens there now
  ASSERT_TRUE(m_client.Connect("127.0.0.1", port));
  ASSERT_TRUE(QTest::qWaitFor([&] { return m_events.closed == 1; }, kWaitMs));
  EXPECT_EQ(m_events.connected, 0);
  EXPECT_FALSE(m_client.Send(Bytes("x")));
  QTest::qWait(50);
  EXPECT_EQ(m_events.closed, 1);
}

TEST_F(TcpClientTest, EmptyHostDoesNotStartAndDisconnectIsSilent) {
  EXPECT_FALSE(m_client.Connect("", 8601));
  EXPECT_FALSE(m_client.Send(Bytes("x")));
  m_client.Disconnect();  // harmless without a connection

  ASSERT_TRUE(m_client.Connect("127.0.0.1", m_server.serverPort()));
  QTcpSocket* peer = AcceptPeer();
  ASSERT_NE(peer, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return m_events.connected == 1; }, kWaitMs));
  m_client.Disconnect();
  EXPECT_FALSE(m_client.Send(Bytes("x")));
  ASSERT_TRUE(QTest::qWaitFor([&] { return peer->state() == QAbstractSocket::UnconnectedState; },
                              kWaitMs));
  QTest::qWait(50);
  EXPECT_EQ(m_events.closed, 0);  // a disconnect we asked for raises no event
}

TEST_F(TcpClientTest, ReconnectReplacesTheSocketAndOldEventsStayAway) {
  ASSERT_TRUE(m_client.Connect("127.0.0.1", m_server.serverPort()));
  QTcpSocket* first = AcceptPeer();
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return m_events.connected == 1; }, kWaitMs));

  ASSERT_TRUE(m_client.Connect("127.0.0.1", m_server.serverPort()));
  EXPECT_TRUE(m_client.Send(Bytes("second")));
  QTcpSocket* second = AcceptPeer();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(ReadAtLeast(second, 6), QByteArray("second"));
  // The first connection was closed by us; its peer sees the close and nothing more.
  ASSERT_TRUE(QTest::qWaitFor([&] { return first->state() == QAbstractSocket::UnconnectedState; },
                              kWaitMs));
  EXPECT_TRUE(first->readAll().isEmpty());
  first->write("stale", 5);
  ASSERT_TRUE(QTest::qWaitFor([&] { return m_events.connected == 2; }, kWaitMs));
  second->write("fresh", 5);
  ASSERT_TRUE(QTest::qWaitFor([&] { return m_events.All() == "fresh"; }, kWaitMs));
  EXPECT_EQ(m_events.closed, 0);
}

// A handler that reconnects from inside OnClosed, as the link's retry does on a later tick.
TEST_F(TcpClientTest, ReconnectFromInsideClosedHandlerWorks) {
  struct Reconnecting : RecordingEvents {
    QtTcpClient* client = nullptr;
    quint16 port = 0;
    void OnClosed() override {
      RecordingEvents::OnClosed();
      if (closed == 1) client->Connect("127.0.0.1", port);
    }
  } events;
  events.client = &m_client;
  events.port = m_server.serverPort();
  m_client.SetEvents(&events);

  ASSERT_TRUE(m_client.Connect("127.0.0.1", m_server.serverPort()));
  QTcpSocket* first = AcceptPeer();
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return events.connected == 1; }, kWaitMs));
  first->disconnectFromHost();
  QTcpSocket* second = AcceptPeer();
  ASSERT_NE(second, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return events.connected == 2; }, kWaitMs));
  EXPECT_EQ(events.closed, 1);
}

TEST(QtTimerTest, SamePeriodKeepsThePhaseAndZeroStops) {
  QtTimer timer;
  int ticks = 0;
  timer.SetTick([&] { ++ticks; });
  EXPECT_EQ(timer.Period(), 0);
  timer.SetPeriod(300);
  QElapsedTimer clock;
  clock.start();
  // Re-setting the same period again and again must not push the first tick back.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        timer.SetPeriod(300);
        return ticks > 0;
      },
      kWaitMs));
  EXPECT_LT(clock.elapsed(), 3000);
  EXPECT_EQ(timer.Period(), 300);
  timer.SetPeriod(0);
  const int stoppedAt = ticks;
  QTest::qWait(400);
  EXPECT_EQ(ticks, stoppedAt);
  EXPECT_EQ(timer.Period(), 0);
}

TEST(WaveTest, ReadsTheCarriedAlertAndRefusesBrokenImages) {
  const auto alert = intake::AlertSound();
  const std::optional<WaveView> view = ReadWave(alert);
  ASSERT_TRUE(view.has_value());
  EXPECT_EQ(view->channels, 2);
  EXPECT_EQ(view->sampleRate, 11025);
  EXPECT_EQ(view->bitsPerSample, 16);
  EXPECT_EQ(view->data.size(), intake::kAlertSoundDataBytes);

  std::vector<std::uint8_t> bytes(alert.begin(), alert.end());
  EXPECT_FALSE(ReadWave(std::span(bytes).first(100)).has_value());  // data chunk runs past the end
  EXPECT_FALSE(ReadWave(std::span(bytes).first(8)).has_value());
  std::vector<std::uint8_t> notPcm = bytes;
  notPcm[20] = 3;  // IEEE float
  EXPECT_FALSE(ReadWave(notPcm).has_value());
  std::vector<std::uint8_t> hugeChunk = bytes;
  hugeChunk[16] = hugeChunk[17] = hugeChunk[18] = hugeChunk[19] = 0xFF;
  EXPECT_FALSE(ReadWave(hugeChunk).has_value());
}

TEST(AlsaSoundPlayerTest, PlaysOnTheNullDeviceWithoutWaitingAndFinishes) {
  AlsaSoundPlayer player("null");
  QElapsedTimer clock;
  clock.start();
  player.Play(intake::AlertSound());
  player.Play(intake::AlertSound());
  // Play returns at once; the 2.26 s of sound run on their own threads.
  EXPECT_LT(clock.elapsed(), 500);
  ASSERT_TRUE(QTest::qWaitFor([&] { return player.ActivePlaybacks() == 0; }, 20000));
}

TEST(AlsaSoundPlayerTest, MissingDeviceOrBadWaveIsOnlySilence) {
  AlsaSoundPlayer player("kestrova_no_such_device");
  player.Play(intake::AlertSound());
  const std::uint8_t garbage[4] = {1, 2, 3, 4};
  player.Play(garbage);
  ASSERT_TRUE(QTest::qWaitFor([&] { return player.ActivePlaybacks() == 0; }, kWaitMs));
}

TEST(AlsaSoundPlayerTest, ABurstOfAlertsIsCapped) {
  AlsaSoundPlayer player("null");
  for (int i = 0; i < 3 * AlsaSoundPlayer::kMaxConcurrentPlaybacks; ++i) {
    player.Play(intake::AlertSound());
    EXPECT_LE(player.ActivePlaybacks(), AlsaSoundPlayer::kMaxConcurrentPlaybacks);
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return player.ActivePlaybacks() == 0; }, 30000));
}

}  // namespace
}  // namespace kestrova::app
