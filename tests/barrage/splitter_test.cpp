#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "barrage/frame_codec.h"
#include "barrage/frame_splitter.h"

namespace kestrova::barrage {
namespace {

ByteBuffer ServerFrame(const std::string& body) {
  return BuildFrame(std::span<const std::uint8_t>(
                        reinterpret_cast<const std::uint8_t*>(body.data()), body.size()),
                    kServerMessageType);
}

ByteBuffer Join(std::initializer_list<ByteBuffer> parts) {
  ByteBuffer out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

std::string Body(std::span<const std::uint8_t> frame) {
  return std::string(frame.begin() + 12, frame.end() - 1);
}

// Feeds the stream cut at the given sizes (the rest in one piece) and collects the bodies.
std::vector<std::string> Split(FrameSplitter& splitter, const ByteBuffer& stream,
                               const std::vector<std::size_t>& cuts) {
  std::vector<std::string> bodies;
  auto collect = [&](std::span<const std::uint8_t> frame) { bodies.push_back(Body(frame)); };
  std::size_t at = 0;
  for (std::size_t size : cuts) {
    size = std::min(size, stream.size() - at);
    splitter.Feed(std::span(stream).subspan(at, size), collect);
    at += size;
  }
  splitter.Feed(std::span(stream).subspan(at), collect);
  return bodies;
}

const ByteBuffer kA = ServerFrame("type@=chatmsg/txt@=hello/");
const ByteBuffer kB = ServerFrame("type@=spbc/sn@=A/dn@=B/gn@=C/gc@=2/drid@=123456/gb@=1/");
const ByteBuffer kC = ServerFrame("type@=uenter/nn@=x/");

TEST(FrameSplitter, WholeFramesAcrossAnyChunking) {
  const ByteBuffer stream = Join({kA, kB, kC});
  const std::vector<std::string> expected{Body(kA), Body(kB), Body(kC)};
  struct Case {
    const char* name;
    std::vector<std::size_t> cuts;
  };
  std::vector<std::size_t> bytewise(stream.size(), 1);
  const Case cases[] = {
      {"all in one read", {}},
      {"one frame in two reads", {kA.size() + 5}},
      {"split inside the header", {3, kA.size() - 3 + 7}},
      {"split before the end mark", {kA.size() - 1}},
      {"exact frame boundaries", {kA.size(), kB.size()}},
      {"one byte at a time", bytewise},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FrameSplitter splitter;
    EXPECT_EQ(Split(splitter, stream, c.cuts), expected);
    EXPECT_EQ(splitter.PendingBytes(), 0u);
    EXPECT_EQ(splitter.DroppedBytes(), 0u);
  }
}

TEST(FrameSplitter, RandomChunkingKeepsEveryFrame) {
  std::mt19937 random(7);
  ByteBuffer stream;
  std::vector<std::string> expected;
  for (int i = 0; i < 200; ++i) {
    const std::string body = "type@=chatmsg/n@=" + std::to_string(i) + "/" +
                             std::string(random() % 300, 'a' + static_cast<char>(i % 26)) + "/";
    const ByteBuffer frame = ServerFrame(body);
    stream.insert(stream.end(), frame.begin(), frame.end());
    expected.push_back(body);
  }
  std::vector<std::size_t> cuts;
  for (std::size_t at = 0; at < stream.size();) {
    cuts.push_back(1 + random() % 700);
    at += cuts.back();
  }
  FrameSplitter splitter;
  EXPECT_EQ(Split(splitter, stream, cuts), expected);
}

TEST(FrameSplitter, IncompleteFrameWaitsAndResetForgetsIt) {
  FrameSplitter splitter;
  int frames = 0;
  splitter.Feed(std::span(kB).first(20), [&](auto) { ++frames; });
  EXPECT_EQ(frames, 0);
  EXPECT_EQ(splitter.PendingBytes(), 20u);
  // A new connection: the old half frame must not be glued to the new stream.
  splitter.Reset();
  EXPECT_EQ(Split(splitter, kA, {}), std::vector<std::string>{Body(kA)});
}

ByteBuffer Header(std::uint32_t first, std::uint32_t second) {
  ByteBuffer h;
  for (std::uint32_t v : {first, second}) {
    for (int s = 0; s < 32; s += 8) h.push_back(static_cast<std::uint8_t>(v >> s));
  }
  h.insert(h.end(), {0xb2, 0x02, 0x00, 0x00});
  return h;
}

TEST(FrameSplitter, ImpossibleLengthsAreDroppedAndTheNextFrameFound) {
  struct Case {
    const char* name;
    ByteBuffer garbage;
  };
  const Case cases[] = {
      {"length zero", Header(0, 0)},
      {"length below nine", Header(8, 8)},
      {"length four gigabytes", Header(0xffffffff, 0xffffffff)},
      {"length above the bound", Header(kMaxFrameLength + 1, kMaxFrameLength + 1)},
      {"second length differs", Header(40, 41)},
      {"text noise", ByteBuffer{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!'}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ByteBuffer stream = Join({kA, c.garbage, kB, kC});
    for (std::size_t chunk : {stream.size(), std::size_t{1}, std::size_t{5}}) {
      FrameSplitter splitter;
      std::vector<std::size_t> cuts(stream.size() / chunk + 1, chunk);
      EXPECT_EQ(Split(splitter, stream, cuts),
                (std::vector<std::string>{Body(kA), Body(kB), Body(kC)}));
      // Only the garbage goes; nothing of the good frames around it.
      EXPECT_EQ(splitter.DroppedBytes(), c.garbage.size());
      EXPECT_EQ(splitter.PendingBytes(), 0u);
    }
  }
}

TEST(FrameSplitter, EndlessGarbageKeepsMemoryBounded) {
  FrameSplitter splitter;
  std::mt19937 random(3);
  ByteBuffer block(4096);
  int frames = 0;
  for (int i = 0; i < 2000; ++i) {
    for (auto& b : block) b = static_cast<std::uint8_t>(random() | 0x80);  // never plausible
    splitter.Feed(block, [&](auto) { ++frames; });
    ASSERT_LE(splitter.PendingBytes(), 10u);
  }
  EXPECT_EQ(frames, 0);
  // And the stream recovers as soon as a real frame comes.
  EXPECT_EQ(Split(splitter, kA, {}), std::vector<std::string>{Body(kA)});
}

TEST(FrameSplitter, LargestAllowedFrameIsWaitedForThenDelivered) {
  const std::string big(kMaxFrameLength - 9, 'z');
  const ByteBuffer frame = ServerFrame(big);
  ASSERT_EQ(frame.size(), std::size_t{kMaxFrameLength} + 4);
  FrameSplitter splitter;
  std::vector<std::size_t> cuts(frame.size() / 1000 + 1, 1000);
  const auto bodies = Split(splitter, Join({frame, kA}), cuts);
  ASSERT_EQ(bodies.size(), 2u);
  EXPECT_EQ(bodies[0], big);
  EXPECT_EQ(bodies[1], Body(kA));
}

TEST(ScanFrame, StatusAndBytesUsed) {
  EXPECT_EQ(ScanFrame(kA).status, FrameStatus::Ok);
  EXPECT_EQ(ScanFrame(kA).used, kA.size());
  EXPECT_EQ(ScanFrame(std::span(kA).first(kA.size() - 1)).status, FrameStatus::Incomplete);
  EXPECT_EQ(ScanFrame(std::span(kA).first(2)).status, FrameStatus::Incomplete);
  const ByteBuffer bad = Join({ByteBuffer{1, 2, 3}, kA});
  EXPECT_EQ(ScanFrame(bad).status, FrameStatus::Bad);
  EXPECT_EQ(ScanFrame(bad).used, 3u);
}

}  // namespace
}  // namespace kestrova::barrage
