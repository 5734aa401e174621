// The local barrage server and the stream scanner, for real: processes on loopback (ephemeral
// ports), every wait bounded by a generous deadline.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "barrage/frame_codec.h"
#include "barrage/frame_splitter.h"
#include "child_process.h"
#include "delivery.h"
#include "fakes/fakes.h"
#include "intake/rocket_rows.h"
#include "intake/text.h"
#include "stream_generator.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;
using testing::BuildPath;
using testing::ChildProcess;

const std::string kServer = BuildPath("tools/barrage_server/kestrova-barrage-server");
const std::string kScan = BuildPath("tools/scan/kestrova-scan");

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t at = 0;
  for (;;) {
    const auto tab = line.find('\t', at);
    fields.push_back(line.substr(at, tab - at));
    if (tab == std::string::npos) return fields;
    at = tab + 1;
  }
}

// The eight cells the window should list for a server "rocket" line, in UTF-8.
std::string ExpectedCells(const std::string& rocketLine) {
  const auto f = Fields(rocketLine);  // rocket, client, sn, dn, gn, gc, drid, time
  const auto time = std::stoll(f[7]);
  const auto style = intake::ClockStyle::TwentyFourHour;
  return "[有礼包]\t" + f[2] + "\t" + f[3] + "\t" + f[4] + "\t" + f[5] + "\t" +
         intake::GbkToUtf8(intake::FormatUnixSeconds(time, style)) + "\t" +
         intake::GbkToUtf8(intake::FormatUnixSeconds(time + 120, style)) + "\t" + f[6];
}

int ConnectLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void SendMessage(int fd, const AnsiText& text) {
  const ByteBuffer frame = barrage::EncodeMessage(text);
  ASSERT_EQ(::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(frame.size()));
}

class ServerLoopback : public ::testing::TestWithParam<const char*> {};

TEST_P(ServerLoopback, EveryGiftBoxRocketBecomesARowAndClientMessagesAreLoggedInOrder) {
  ChildProcess server;
  ASSERT_TRUE(server.Start({kServer, "--listen", "127.0.0.1:0", "--delivery", GetParam(),
                            "--rockets", "12", "--rocket-rate", "60", "--noise-rate", "2000",
                            "--seed", "9", "--linger", "60", "--duration", "90"}));
  const auto listening = server.ReadLine(20s);
  ASSERT_TRUE(listening && listening->rfind("listening 127.0.0.1:", 0) == 0) << *listening;
  const int port = std::stoi(listening->substr(listening->rfind(':') + 1));
  ASSERT_GT(port, 0);
  const int fd = ConnectLoopback(port);
  ASSERT_GE(fd, 0);
  SendMessage(fd, barrage::LoginMessage("100"));
  SendMessage(fd, barrage::JoinGroupMessage("100"));

  fakes::FakeWindow window;
  fakes::FakeSoundPlayer sound;
  fakes::FakeUrlOpener opener;
  fakes::FakeClock clock;
  ProgramState state;
  intake::RocketRows rows(window, sound, opener, state, clock,
                          intake::ClockStyle::TwentyFourHour);
  barrage::FrameSplitter splitter;
  std::vector<std::string> sent;
  std::vector<std::string> received;
  bool done = false;
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (std::chrono::steady_clock::now() < deadline &&
         !(done && window.rows.size() >= sent.size())) {
    pollfd p[2] = {{fd, POLLIN, 0}, {server.OutputFd(), POLLIN, 0}};
    ::poll(p, 2, 200);
    if (p[0].revents & POLLIN) {
      std::uint8_t buffer[65536];
      const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
      ASSERT_GT(got, 0);
      splitter.Feed(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(got)),
                    [&](std::span<const std::uint8_t> frame) { rows.OnBarrageFrame(frame); });
    }
    if (p[1].revents & POLLIN) server.Pump(0ms);
    while (auto line = server.TakeLine()) {
      if (line->rfind("rocket\t", 0) == 0) sent.push_back(ExpectedCells(*line));
      if (line->rfind("recv ", 0) == 0) received.push_back(*line);
      if (line->rfind("done rockets", 0) == 0) done = true;
    }
  }
  ASSERT_TRUE(done);
  ASSERT_EQ(sent.size(), 12u);
  ASSERT_EQ(window.rows.size(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    std::string shown;
    for (const auto& cell : window.rows[sent.size() - 1 - i]) {
      shown += (shown.empty() ? "" : "\t") + intake::GbkToUtf8(cell);
    }
    EXPECT_EQ(shown, sent[i]);
  }
  EXPECT_EQ(splitter.DroppedBytes(), 0u);

  SendMessage(fd, barrage::KeepAliveMessage("1500000000"));
  SendMessage(fd, barrage::LogoutMessage());
  while (received.size() < 4) {
    const auto line = server.ReadLine(20s);
    ASSERT_TRUE(line);
    if (line->rfind("recv ", 0) == 0) received.push_back(*line);
  }
  EXPECT_EQ(received[0], "recv 1 loginreq type@=loginreq/roomid@=100/");
  EXPECT_EQ(received[1], "recv 1 joingroup type@=joingroup/rid@=100/gid@=-9999/");
  EXPECT_EQ(received[2], "recv 1 keeplive type@=keeplive/tick@=1500000000/");
  EXPECT_EQ(received[3], "recv 1 logout type@=logout/");
  ::close(fd);
}

INSTANTIATE_TEST_SUITE_P(Delivery, ServerLoopback, ::testing::Values("whole", "split", "batch"));

TEST(Scan, ListsEveryGiftBoxRocketWhateverTheChunking) {
  const std::string stream = BuildPath("tests/barrage/scan_stream.bin");
  ChildProcess generate;
  ASSERT_TRUE(generate.Start({kServer, "--generate", stream, "--rockets", "40", "--seed", "4",
                              "--rocket-rate", "5", "--noise-rate", "300"}));
  std::string generated;
  ASSERT_EQ(generate.WaitForExit(generated, 60s), 0);
  std::string expected;
  std::size_t lines = 0;
  for (std::size_t at = 0; at < generated.size();) {
    const auto end = generated.find('\n', at);
    expected += ExpectedCells(generated.substr(at, end - at)) + "\n";
    ++lines;
    at = end + 1;
  }
  ASSERT_EQ(lines, 40u);
  for (const std::vector<std::string>& chunking :
       {std::vector<std::string>{}, {"--chunk", "1"}, {"--chunk", "13"}, {"--random-chunks", "3"}}) {
    std::vector<std::string> args{kScan, "--clock", "24"};
    args.insert(args.end(), chunking.begin(), chunking.end());
    args.push_back(stream);
    ChildProcess scan;
    ASSERT_TRUE(scan.Start(args));
    std::string output;
    EXPECT_EQ(scan.WaitForExit(output, 60s), 0);
    EXPECT_EQ(output, expected) << (chunking.empty() ? "default" : chunking[0]);
  }
}

TEST(DeliveryPlanner, EveryModeKeepsTheBytesInOrder) {
  tools::StreamGenerator generator(5);
  std::vector<ByteBuffer> frames;
  ByteBuffer whole;
  for (int i = 0; i < 300; ++i) {
    frames.push_back(tools::ServerFrame(generator.Next(1500000000, {}).body));
    whole.insert(whole.end(), frames.back().begin(), frames.back().end());
  }
  for (auto mode : {tools::DeliveryMode::Whole, tools::DeliveryMode::Split,
                    tools::DeliveryMode::Batch}) {
    tools::DeliveryPlanner planner(mode, 11);
    ByteBuffer out;
    std::size_t writes = 0;
    for (std::size_t i = 0; i < frames.size(); i += 30) {
      const std::vector<ByteBuffer> due(frames.begin() + static_cast<std::ptrdiff_t>(i),
                                        frames.begin() + static_cast<std::ptrdiff_t>(i + 30));
      for (const auto& w : planner.Plan(due)) {
        out.insert(out.end(), w.begin(), w.end());
        ++writes;
      }
    }
    const ByteBuffer held = planner.Flush();
    out.insert(out.end(), held.begin(), held.end());
    EXPECT_EQ(out, whole);
    if (mode == tools::DeliveryMode::Whole) {
      EXPECT_EQ(writes, frames.size());
    }
    if (mode == tools::DeliveryMode::Batch) {
      EXPECT_LT(writes, frames.size() / 2);
    }
  }
}

TEST(StreamGenerator, EscapesWhatTheWireCannotCarry) {
  EXPECT_EQ(tools::EscapeStt("AC/DC@me"), "AC@SDC@Ame");
}

}  // namespace
}  // namespace kestrova
