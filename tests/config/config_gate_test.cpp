#include "config/config_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <future>
#include <memory>

#include "config/cipher.h"
#include "fakes/fakes.h"
#include "intake/text.h"
#include "intake/texts.h"
#include "loopback_http.h"

namespace kestrova::config {
namespace {

using intake::Texts;

ByteBuffer Body(const AnsiText& text) { return ByteBuffer(text.begin(), text.end()); }

class GateTest : public ::testing::Test {
 protected:
  GateTest() {
    window.edits[ports::EditBox::ConfigKey] = kDefaultConfigKey;
    window.edits[ports::EditBox::OwnVersion] = "1.1";
  }
  GateOutcome Run(const ByteBuffer& body) {
    EXPECT_EQ(gate.Begin(), "127.0.0.1/config");
    EXPECT_EQ(window.StatusText(1), Texts().downloading);
    return gate.Complete(body);
  }
  void ExpectBlocked(const std::string& why) {
    EXPECT_EQ(window.StatusText(1), Texts().downloading) << why;
    EXPECT_FALSE(window.buttonEnabled) << why;
    EXPECT_EQ(state.configuredRoomId, "") << why;
  }

  fakes::FakeWindow window;
  ProgramState state;
  ConfigGate gate{window, state, "127.0.0.1/config"};
};

TEST_F(GateTest, AcceptedConfigurationsMakeTheProgramReady) {
  struct Case {
    AnsiText plain;
    AnsiText room;
  };
  for (const Case& c : {Case{"12345#1.1", "12345"}, Case{"12345#1.1#x", "12345"}, Case{"#1.1", ""}}) {
    fakes::FakeWindow w;
    w.edits[ports::EditBox::ConfigKey] = kDefaultConfigKey;
    w.edits[ports::EditBox::OwnVersion] = "1.1";
    ProgramState s;
    s.configuredRoomId = "previous";
    ConfigGate g(w, s, "u");
    g.Begin();
    EXPECT_EQ(g.Complete(Body(EncipherConfig(c.plain, kDefaultConfigKey))), GateOutcome::Ready) << c.plain;
    EXPECT_EQ(s.configuredRoomId, c.room) << c.plain;
    EXPECT_EQ(w.StatusText(1), Texts().initialised) << c.plain;
    EXPECT_TRUE(w.buttonEnabled) << c.plain;
    EXPECT_TRUE(w.messages.empty()) << c.plain;
  }
}

TEST_F(GateTest, OtherVersionsOfferTheUpdate) {
  for (const char* plain : {"12345#1.0", "12345#2.0", "12345#1.1\r\n", "12345#1.1 "}) {
    fakes::FakeWindow w;
    w.edits = window.edits;
    ProgramState s;
    ConfigGate g(w, s, "u");
    g.Begin();
    EXPECT_EQ(g.Complete(Body(EncipherConfig(plain, kDefaultConfigKey))), GateOutcome::UpdateOffered) << plain;
    ASSERT_EQ(w.messages.size(), 1u) << plain;
    EXPECT_EQ(w.messages[0].text, Texts().updateAvailable);
    EXPECT_EQ(w.messages[0].caption, Texts().infoCaption);
    EXPECT_EQ(w.StatusText(1), Texts().downloading);
    EXPECT_FALSE(w.buttonEnabled);
    EXPECT_EQ(s.configuredRoomId, "");
  }
}

TEST_F(GateTest, UnusableConfigurationsBlockSilently) {
  const AnsiText valid = EncipherConfig("12345#1.1", kDefaultConfigKey);
  AnsiText lowerTag = valid;
  for (std::size_t i = lowerTag.size() - 9; i < lowerTag.size(); ++i) {
    lowerTag[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lowerTag[i])));
  }
  AnsiText nulInside = valid;
  nulInside.insert(4, 1, '\0');
  struct Case {
    std::string why;
    AnsiText body;
  };
  const Case cases[] = {
      {"empty body", ""},
      {"garbage", "<html>not a configuration</html>"},
      {"wrong tag", EncipherConfig("12345#1.1", "other key")},
      {"lower-case tag", lowerTag},
      {"zero byte inside", nulInside},
      {"one piece", EncipherConfig("12345", kDefaultConfigKey)},
      {"one piece and separator", EncipherConfig("12345#", kDefaultConfigKey)},
      {"lone separator", EncipherConfig("#", kDefaultConfigKey)},
      {"room with protocol items", EncipherConfig("1/type@=x/#1.1", kDefaultConfigKey)},
      {"room with a space", EncipherConfig("12 345#1.1", kDefaultConfigKey)},
      {"room with a bad room and version", EncipherConfig("12a#2.0", kDefaultConfigKey)},
  };
  for (const Case& c : cases) {
    fakes::FakeWindow w;
    w.edits = window.edits;
    ProgramState s;
    ConfigGate g(w, s, "u");
    g.Begin();
    EXPECT_EQ(g.Complete(Body(c.body)), GateOutcome::Blocked) << c.why;
    EXPECT_EQ(w.StatusText(1), Texts().downloading) << c.why;
    EXPECT_FALSE(w.buttonEnabled) << c.why;
    EXPECT_EQ(s.configuredRoomId, "") << c.why;
    EXPECT_TRUE(w.messages.empty()) << c.why;
  }
}

TEST_F(GateTest, BodyIsCutAtItsFirstZeroByte) {
  ByteBuffer body = Body(EncipherConfig("777#1.1", kDefaultConfigKey));
  body.push_back(0);
  body.push_back('Z');
  EXPECT_EQ(Run(body), GateOutcome::Ready);
  EXPECT_EQ(state.configuredRoomId, "777");
}

TEST_F(GateTest, KeyAndVersionAreReadFromTheWindow) {
  window.edits[ports::EditBox::ConfigKey] = "other";
  window.edits[ports::EditBox::OwnVersion] = "3.0";
  EXPECT_EQ(Run(Body(EncipherConfig("5#3.0", "other"))), GateOutcome::Ready);
  EXPECT_EQ(state.configuredRoomId, "5");
}

TEST_F(GateTest, DecidesOnlyOnce) {
  EXPECT_EQ(Run({}), GateOutcome::Blocked);
  EXPECT_EQ(gate.Complete(Body(EncipherConfig("1#1.1", kDefaultConfigKey))), GateOutcome::Blocked);
  ExpectBlocked("second completion");
  EXPECT_EQ(gate.Outcome(), GateOutcome::Blocked);
}

TEST(ConfigDownload, DeliversTheBodyOnItsOwnThread) {
  testing::LoopbackHttpServer server([](const std::string&) {
    return testing::HttpResponse("200 OK", {}, "downloaded");
  });
  std::promise<std::pair<ByteBuffer, std::thread::id>> result;
  ConfigDownload download("127.0.0.1:" + std::to_string(server.Port()) + "/config", FetchOptions{},
                          [&](ByteBuffer body) { result.set_value({std::move(body), std::this_thread::get_id()}); });
  auto future = result.get_future();
  ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  const auto [body, thread] = future.get();
  EXPECT_EQ(std::string(body.begin(), body.end()), "downloaded");
  EXPECT_NE(thread, std::this_thread::get_id());
}

TEST(ConfigDownload, DestroyingItCancelsAtOnceWithoutACallback) {
  testing::LoopbackHttpServer server([](const std::string&) { return testing::LoopbackHttpServer::kHold; });
  std::atomic<bool> called{false};
  auto download = std::make_unique<ConfigDownload>(
      "127.0.0.1:" + std::to_string(server.Port()) + "/config", FetchOptions{},
      [&](ByteBuffer) { called = true; });
  ASSERT_TRUE(server.WaitForRequests(1));
  auto closing = std::async(std::launch::async, [&] { download.reset(); });
  ASSERT_EQ(closing.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_FALSE(called);
}

}  // namespace
}  // namespace kestrova::config
