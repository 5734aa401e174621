// The gate against the real configuration server program on loopback, for a good configuration
// and for each way the server can go wrong.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "config/cipher.h"
#include "config/config_gate.h"
#include "fakes/fakes.h"
#include "intake/texts.h"
#include "loopback_http.h"

extern char** environ;

namespace kestrova::config {
namespace {

std::string ServerPath() {
  const char* build = std::getenv("KESTROVA_BUILD_DIR");
  return std::string(build != nullptr ? build : ".") + "/tools/config_server/kestrova-config-server";
}

// Runs the server program with the given arguments; stops it (by its own pid) when destroyed.
class ServerProcess {
 public:
  explicit ServerProcess(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), ServerPath());
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    m_out = pipeFds[0];
  }
  ~ServerProcess() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGTERM);
      int status = 0;
      ::waitpid(m_pid, &status, 0);
    }
    if (m_out >= 0) ::close(m_out);
  }
  // Everything the program printed until it exited (for one-shot commands).
  std::string ReadAll() {
    std::string out;
    char buffer[256];
    for (;;) {
      pollfd p{m_out, POLLIN, 0};
      if (::poll(&p, 1, 10'000) <= 0) break;
      const ssize_t got = ::read(m_out, buffer, sizeof buffer);
      if (got <= 0) break;
      out.append(buffer, static_cast<std::size_t>(got));
    }
    return out;
  }
  // The port from the first line, waiting with a generous bound; 0 when none came.
  int Port() {
    std::string line;
    char c = 0;
    while (line.find('\n') == std::string::npos) {
      pollfd p{m_out, POLLIN, 0};
      if (::poll(&p, 1, 10'000) <= 0 || ::read(m_out, &c, 1) != 1) return 0;
      line.push_back(c);
    }
    return std::atoi(line.c_str());
  }

 private:
  pid_t m_pid = -1;
  int m_out = -1;
};

struct GateRun {
  GateOutcome outcome;
  fakes::FakeWindow window;
  ProgramState state;
};

GateRun GateAgainst(int port, const FetchOptions& options = {}) {
  GateRun run{GateOutcome::Blocked, {}, {}};
  run.window.edits[ports::EditBox::ConfigKey] = kDefaultConfigKey;
  run.window.edits[ports::EditBox::OwnVersion] = "1.1";
  ConfigGate gate(run.window, run.state, "127.0.0.1:" + std::to_string(port) + "/config");
  run.outcome = gate.Complete(HttpFetch(options, gate.Begin()));
  return run;
}

std::vector<std::string> Serve(std::vector<std::string> extra) {
  std::vector<std::string> args{"--listen", "127.0.0.1:0", "--stop-after", "120"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

TEST(ConfigServer, EncipherCommandPrintsTheConfigurationText) {
  ServerProcess process({"encipher", "--room", "4321", "--version", "2.5"});
  EXPECT_EQ(process.ReadAll(), EncipherConfig("4321#2.5", kDefaultConfigKey) + "\n");
}

TEST(ConfigServer, GoodConfigurationMakesTheProgramReady) {
  ServerProcess server(Serve({"--room", "9999", "--version", "1.1"}));
  const int port = server.Port();
  ASSERT_GT(port, 0);
  GateRun run = GateAgainst(port);
  EXPECT_EQ(run.outcome, GateOutcome::Ready);
  EXPECT_EQ(run.state.configuredRoomId, "9999");
  EXPECT_TRUE(run.window.buttonEnabled);
  EXPECT_EQ(run.window.StatusText(1), intake::Texts().initialised);
}

TEST(ConfigServer, NewerVersionShowsTheUpdateMessage) {
  ServerProcess server(Serve({"--version", "1.2"}));
  const int port = server.Port();
  ASSERT_GT(port, 0);
  GateRun run = GateAgainst(port);
  EXPECT_EQ(run.outcome, GateOutcome::UpdateOffered);
  ASSERT_EQ(run.window.messages.size(), 1u);
  EXPECT_EQ(run.window.messages[0].text, intake::Texts().updateAvailable);
  EXPECT_FALSE(run.window.buttonEnabled);
}

TEST(ConfigServer, ZeroByteAfterTheTextIsCutOff) {
  ServerProcess server(Serve({"--misbehave", "nul-tail"}));
  const int port = server.Port();
  ASSERT_GT(port, 0);
  EXPECT_EQ(GateAgainst(port).outcome, GateOutcome::Ready);
}

TEST(ConfigServer, OnlyTheBodyLimitStopsTheHugeConfiguration) {
  // The huge body is a valid configuration padded to 10 MB, so a larger limit accepts it.
  ServerProcess server(Serve({"--misbehave", "huge"}));
  const int port = server.Port();
  ASSERT_GT(port, 0);
  FetchOptions roomy;
  roomy.bodyLimit = 16u * 1024u * 1024u;
  EXPECT_EQ(GateAgainst(port, roomy).outcome, GateOutcome::Ready);
  EXPECT_EQ(GateAgainst(port).outcome, GateOutcome::Blocked);
}

TEST(ConfigServer, BadResponsesLeaveTheGateBlocked) {
  struct Case {
    std::vector<std::string> args;
    std::chrono::milliseconds totalTimeout;
  };
  const std::chrono::milliseconds usual{30'000};
  const Case cases[] = {
      {{"--misbehave", "empty"}, usual},
      {{"--misbehave", "garbage"}, usual},
      {{"--misbehave", "garbage-body"}, usual},
      {{"--misbehave", "wrong-tag"}, usual},
      {{"--misbehave", "lower-tag"}, usual},
      {{"--misbehave", "nul"}, usual},
      {{"--misbehave", "huge"}, usual},
      // The time-outs are the transport's; a short one here keeps the test quick.
      {{"--misbehave", "slow", "--delay", "30"}, std::chrono::milliseconds(500)},
      {{"--misbehave", "silent"}, std::chrono::milliseconds(500)},
      {{"--plain", "12345"}, usual},
      {{"--plain", "12;34#1.1"}, usual},
  };
  for (const Case& c : cases) {
    const std::string name = c.args[1];
    ServerProcess server(Serve(c.args));
    const int port = server.Port();
    ASSERT_GT(port, 0) << name;
    FetchOptions options;
    options.totalTimeout = c.totalTimeout;
    GateRun run = GateAgainst(port, options);
    EXPECT_EQ(run.outcome, GateOutcome::Blocked) << name;
    EXPECT_FALSE(run.window.buttonEnabled) << name;
    EXPECT_TRUE(run.window.messages.empty()) << name;
    EXPECT_EQ(run.window.StatusText(1), intake::Texts().downloading) << name;
    EXPECT_EQ(run.state.configuredRoomId, "") << name;
  }
}

TEST(ConfigServer, UnreachableServerLeavesTheGateBlocked) {
  GateRun run = GateAgainst(testing::UnusedPort());
  EXPECT_EQ(run.outcome, GateOutcome::Blocked);
  EXPECT_TRUE(run.window.messages.empty());
  EXPECT_FALSE(run.window.buttonEnabled);
}

}  // namespace
}  // namespace kestrova::config
