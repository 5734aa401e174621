#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "barrage/barrage_link.h"
#include "barrage/frame_codec.h"
#include "fakes/fakes.h"
#include "intake/texts.h"
#include "intake/time_convert.h"

namespace kestrova::barrage {
namespace {

using fakes::FakeTcpClient;
using intake::Texts;

class LinkTest : public ::testing::Test {
 protected:
  explicit LinkTest(LinkOptions options = {.host = "danmu.example", .port = 8601})
      : link(std::move(options), window, client, keepAlive, retry, clock, state,
             [this](std::span<const std::uint8_t> frame) {
               frames.emplace_back(frame.begin() + 12, frame.end() - 1);
             }) {
    window.caption = Texts().startCaption;
    window.buttonEnabled = true;
    state.configuredRoomId = "100";
    clock.SetUnixSeconds(1500000000);
  }

  std::string KeepLiveBody() const {
    const AnsiText tick = intake::CurrentUnixText(clock, intake::UnixDigits::Ten);
    EXPECT_EQ(tick.size(), 10u);
    return "type@=keeplive/tick@=" + tick + "/";
  }
  AnsiText Status() const { return window.StatusText(1); }
  std::vector<std::string> Bodies() const { return client.SentBodies(); }
  // Plays the retry timer's wait out; returns the wait it had been given.
  int FireRetry() {
    const int wait = retry.period;
    EXPECT_TRUE(retry.Fire());
    return wait;
  }

  fakes::FakeWindow window;
  FakeTcpClient client;
  fakes::FakeTimer keepAlive;
  fakes::FakeTimer retry;
  fakes::FakeClock clock;
  ProgramState state;
  std::vector<std::string> frames;
  BarrageLink link;
};

TEST_F(LinkTest, StartConnectsLogsInJoinsAndArmsTheTimer) {
  EXPECT_EQ(keepAlive.period, 0);
  EXPECT_FALSE(keepAlive.Fire());  // nothing before the first start
  link.OnButtonClicked();
  ASSERT_EQ(client.connects.size(), 1u);
  EXPECT_EQ(client.connects[0].host, "danmu.example");
  EXPECT_EQ(client.connects[0].port, 8601);
  EXPECT_EQ(Bodies(), (std::vector<std::string>{"type@=loginreq/roomid@=100/",
                                                "type@=joingroup/rid@=100/gid@=-9999/"}));
  EXPECT_EQ(keepAlive.period, 45000);
  EXPECT_EQ(window.caption, Texts().stopCaption);
  EXPECT_EQ(Status(), Texts().monitoring);
  EXPECT_EQ(state.monitoredRoomId, "100");
}

TEST_F(LinkTest, StopLogsOutKeepsConnectionAndKeepAlive) {
  link.OnButtonClicked();
  client.Accept();
  link.OnButtonClicked();
  EXPECT_EQ(Bodies().back(), "type@=logout/");
  EXPECT_EQ(client.disconnects, 0);
  EXPECT_EQ(window.caption, Texts().startCaption);
  EXPECT_EQ(Status(), "");
  ASSERT_TRUE(keepAlive.Fire());
  EXPECT_EQ(Bodies().back(), KeepLiveBody());
  // Data still arriving after a stop still reaches the rows.
  client.Push(EncodeMessage("type@=chatmsg/"));
  EXPECT_EQ(frames, std::vector<std::string>{"type@=chatmsg/"});
}

TEST_F(LinkTest, SecondStartReplacesSocketKeepsTimerPhaseAndTakesTheRoomAnew) {
  link.OnButtonClicked();
  client.Accept();
  link.OnButtonClicked();
  state.configuredRoomId = "200";
  link.OnButtonClicked();
  EXPECT_EQ(client.connects.size(), 2u);
  EXPECT_EQ(keepAlive.restarts, 1);
  EXPECT_EQ(state.monitoredRoomId, "200");
  const auto bodies = Bodies();
  ASSERT_EQ(bodies.size(), 5u);
  EXPECT_EQ(bodies[3], "type@=loginreq/roomid@=200/");
  EXPECT_EQ(bodies[4], "type@=joingroup/rid@=200/gid@=-9999/");
  EXPECT_EQ(client.sent.back().connection, 2);
}

TEST_F(LinkTest, RoomIsTakenAtTheStart) {
  link.OnButtonClicked();
  client.Accept();
  state.configuredRoomId = "999";
  client.ServerCloses();
  FireRetry();
  EXPECT_EQ(Bodies().back(), "type@=joingroup/rid@=100/gid@=-9999/");
}

TEST_F(LinkTest, OtherCaptionsDoNothing) {
  for (const AnsiText& caption : {AnsiText(""), AnsiText("start"), Texts().stopCaption + " "}) {
    window.caption = caption;
    link.OnButtonClicked();
    EXPECT_EQ(window.caption, caption);
  }
  EXPECT_TRUE(client.connects.empty());
  EXPECT_TRUE(client.sent.empty());
}

TEST_F(LinkTest, EmptyRoomStillSendsLoginAndJoin) {
  state.configuredRoomId.clear();
  link.OnButtonClicked();
  EXPECT_EQ(Bodies(), (std::vector<std::string>{"type@=loginreq/roomid@=/",
                                                "type@=joingroup/rid@=/gid@=-9999/"}));
}

TEST_F(LinkTest, FailedConnectIsShownAndRetriedWithBackoff) {
  link.OnButtonClicked();
  client.Refuse();
  EXPECT_EQ(window.caption, Texts().stopCaption);
  EXPECT_EQ(Status(), Texts().connectFailed);
  std::vector<int> waits;
  for (int i = 0; i < 7; ++i) {
    waits.push_back(FireRetry());
    // Each attempt is a new connection with login and join of its own.
    EXPECT_EQ(client.sent.back().connection, static_cast<int>(client.connects.size()));
    EXPECT_EQ(client.SentBodies().back(), "type@=joingroup/rid@=100/gid@=-9999/");
    client.Refuse();
  }
  EXPECT_EQ(waits, (std::vector<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000}));
  EXPECT_EQ(Status(), Texts().connectFailed);
  FireRetry();
  client.Accept();
  EXPECT_EQ(Status(), Texts().monitoring);
  EXPECT_EQ(link.ConnectionState(), BarrageLink::Connection::Connected);
  // Connected once: the next failure waits the first delay again.
  client.ServerCloses();
  EXPECT_EQ(Status(), Texts().connectionLost);
  EXPECT_EQ(retry.period, 1000);
}

TEST_F(LinkTest, ConnectThatCannotStartIsShownNotOverwritten) {
  client.connectStarts = false;
  link.OnButtonClicked();
  EXPECT_EQ(window.caption, Texts().stopCaption);
  EXPECT_EQ(Status(), Texts().connectFailed);
  EXPECT_EQ(retry.period, 1000);
  FireRetry();
  EXPECT_EQ(Status(), Texts().connectFailed);
  EXPECT_EQ(retry.period, 2000);
  client.connectStarts = true;
  FireRetry();
  client.Accept();
  EXPECT_EQ(Status(), Texts().monitoring);
}

TEST_F(LinkTest, ServerCloseWhileMonitoringReconnectsWithLoginAndJoin) {
  link.OnButtonClicked();
  client.Accept();
  // Half a frame from the old connection must not spoil the new one.
  const ByteBuffer frame = EncodeMessage("type@=chatmsg/txt@=x/");
  client.Push(std::span(frame).first(10));
  client.ServerCloses();
  EXPECT_EQ(Status(), Texts().connectionLost);
  EXPECT_EQ(window.caption, Texts().stopCaption);
  EXPECT_EQ(FireRetry(), 1000);
  EXPECT_EQ(client.connects.size(), 2u);
  const auto bodies = Bodies();
  EXPECT_EQ(bodies[bodies.size() - 2], "type@=loginreq/roomid@=100/");
  EXPECT_EQ(bodies.back(), "type@=joingroup/rid@=100/gid@=-9999/");
  client.Accept();
  EXPECT_EQ(Status(), Texts().monitoring);
  client.Push(EncodeMessage("type@=uenter/"));
  EXPECT_EQ(frames, std::vector<std::string>{"type@=uenter/"});
}

TEST_F(LinkTest, NothingReconnectsAfterAStop) {
  link.OnButtonClicked();
  client.Refuse();
  ASSERT_GT(retry.period, 0);
  link.OnButtonClicked();  // stop while waiting to retry
  EXPECT_EQ(retry.period, 0);
  EXPECT_FALSE(retry.Fire());
  EXPECT_EQ(client.connects.size(), 1u);
  EXPECT_EQ(Status(), "");

  // Started again and stopped; then the server closes: no visible change, no reconnect.
  link.OnButtonClicked();
  client.Accept();
  link.OnButtonClicked();
  client.ServerCloses();
  EXPECT_EQ(Status(), "");
  EXPECT_EQ(retry.period, 0);
  EXPECT_EQ(client.connects.size(), 2u);
  EXPECT_EQ(window.caption, Texts().startCaption);
}

TEST_F(LinkTest, UnreachableServerStillSwitchesCaptionAndKeepsAlive) {
  link.OnButtonClicked();
  EXPECT_EQ(window.caption, Texts().stopCaption);
  // A server that answers nothing: keep-alives go out all the same.
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(keepAlive.Fire());
  EXPECT_EQ(Bodies().back(), KeepLiveBody());
  EXPECT_EQ(link.ConnectionState(), BarrageLink::Connection::Connecting);  // no watchdog
}

TEST_F(LinkTest, ShutdownDisconnectsWithoutLogout) {
  link.OnButtonClicked();
  client.Accept();
  const std::size_t sentBefore = client.sent.size();
  link.Shutdown();
  EXPECT_EQ(client.disconnects, 1);
  EXPECT_EQ(client.sent.size(), sentBefore);
  EXPECT_EQ(keepAlive.period, 0);
}

class MrklWatchdogLinkTest : public LinkTest {
 protected:
  MrklWatchdogLinkTest()
      : LinkTest({.host = "h",
                  .port = 8501,
                  .keepAlive = KeepAlive::Mrkl,
                  .watchdog = SilenceWatchdog::On}) {}
};

TEST_F(MrklWatchdogLinkTest, HeartbeatIsMrkl) {
  link.OnButtonClicked();
  ASSERT_TRUE(keepAlive.Fire());
  EXPECT_EQ(Bodies().back(), "type@=mrkl/");
}

TEST_F(MrklWatchdogLinkTest, ThreeSilentPeriodsCountAsLost) {
  link.OnButtonClicked();
  client.Accept();
  keepAlive.Fire();  // the period in which the connection came up
  for (int i = 0; i < 5; ++i) {
    client.Push(EncodeMessage("type@=mrkl/"));
    keepAlive.Fire();
  }
  EXPECT_EQ(link.ConnectionState(), BarrageLink::Connection::Connected);
  keepAlive.Fire();
  keepAlive.Fire();
  EXPECT_EQ(link.ConnectionState(), BarrageLink::Connection::Connected);
  keepAlive.Fire();
  EXPECT_EQ(link.ConnectionState(), BarrageLink::Connection::WaitingToRetry);
  EXPECT_EQ(client.disconnects, 1);
  EXPECT_EQ(Status(), Texts().connectionLost);
  FireRetry();
  client.Accept();
  EXPECT_EQ(Status(), Texts().monitoring);
  EXPECT_EQ(Bodies().back(), "type@=joingroup/rid@=100/gid@=-9999/");
}

TEST_F(MrklWatchdogLinkTest, WatchdogSleepsAfterAStop) {
  link.OnButtonClicked();
  client.Accept();
  link.OnButtonClicked();
  for (int i = 0; i < 6; ++i) keepAlive.Fire();
  EXPECT_EQ(client.disconnects, 0);
  EXPECT_EQ(retry.period, 0);
  EXPECT_EQ(Bodies().back(), "type@=mrkl/");
}

TEST(ExponentialBackoff, DoublesUpToTheCapAndResets) {
  ExponentialBackoff backoff;
  std::vector<long> waits;
  for (int i = 0; i < 8; ++i) waits.push_back(static_cast<long>(backoff.Next().count()));
  EXPECT_EQ(waits, (std::vector<long>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
  backoff.Reset();
  EXPECT_EQ(backoff.Next().count(), 1000);
}

}  // namespace
}  // namespace kestrova::barrage
