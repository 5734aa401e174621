// Recognition throughput over whole frames shaped like the barrage server's stream: mostly chat
// and gift messages, a few platform-wide broadcasts, a handful of them gift-box rockets.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "intake/broadcast.h"
#include "ports/ports.h"
#include "ports/types.h"

namespace {

using kestrova::ByteBuffer;

class FixedClock final : public kestrova::ports::Clock {
 public:
  std::chrono::system_clock::time_point Now() const override {
    return std::chrono::system_clock::time_point(std::chrono::seconds(1700000000));
  }
};

ByteBuffer MakeFrame(const std::string& body) {
  const auto length = static_cast<std::uint32_t>(body.size() + 9);
  ByteBuffer frame;
  for (int copy = 0; copy < 2; ++copy) {
    for (int shift = 0; shift < 32; shift += 8) frame.push_back(static_cast<std::uint8_t>(length >> shift));
  }
  frame.insert(frame.end(), {0xB2, 0x02, 0, 0});
  frame.insert(frame.end(), body.begin(), body.end());
  frame.push_back(0);
  return frame;
}

const std::vector<std::string> kNicknames = {"弹幕达人", "飞翔的小鱼", "lucky_star_99", "夜空中最亮的星",
                                             "路人甲", "momo", "今天也要开心"};
const std::vector<std::string> kMessages = {"主播晚上好", "666666", "这波操作可以 哈哈哈哈",
                                            "来了来了", "前方高能！！！", "gg", "主播唱首歌吧，求求了"};

std::string Chat(std::mt19937& random) {
  const auto& nick = kNicknames[random() % kNicknames.size()];
  const auto& text = kMessages[random() % kMessages.size()];
  return "type@=chatmsg/rid@=5189167/ct@=" + std::to_string(random() % 3) +
         "/uid@=" + std::to_string(10000000 + random() % 90000000) + "/nn@=" + nick + "/txt@=" + text +
         "/cid@=bd5c5d0b73bd4a59c12d8e0300000000/ic@=avanew@Sface@S201706@S12@S17@Sa0b1c2_big/"
         "level@=" + std::to_string(random() % 60) +
         "/sahf@=0/nl@=0/bnn@=小美/bl@=9/brid@=5189167/hc@=0a1b2c3d4e5f60718293a4b5c6d7e8f9/el@=/"
         "lk@=/pdg@=26/pdk@=94/ext@=/";
}

std::string Gift(std::mt19937& random) {
  const auto& nick = kNicknames[random() % kNicknames.size()];
  return "type@=dgb/rid@=5189167/gfid@=" + std::to_string(800 + random() % 100) +
         "/gs@=0/uid@=" + std::to_string(10000000 + random() % 90000000) + "/nn@=" + nick +
         "/ic@=avatar@Sdefault@S08/eid@=0/eic@=0/level@=9/dw@=0/gfcnt@=1/hits@=" +
         std::to_string(random() % 100) +
         "/bcnt@=1/bst@=0/ct@=0/el@=/cm@=0/bnn@=/bl@=0/brid@=0/hc@=/sahf@=0/fc@=0/bnid@=1/bnl@=1/";
}

std::string Rocket(std::mt19937& random, bool giftBox) {
  const auto& giver = kNicknames[random() % kNicknames.size()];
  return "type@=spbc/sn@=" + giver + "/dn@=主播小美/gn@=火箭/gc@=1/drid@=" +
         std::to_string(100000 + random() % 9000000) + "/gs@=6/gb@=" + (giftBox ? "1" : "0") +
         "/es@=1/gfid@=196/eid@=143/bgl@=3/ifs@=0/rid@=-1003548456/gid@=0/bid@=30002_1497455820_33/"
         "sid@=23711004/cl2@=0/";
}

std::string OtherBroadcast(std::mt19937& random) {
  switch (random() % 3) {
    case 0:
      return "type@=anbc/bnn@=/level@=1/cid@=1/gvnk@=开通贵族/uid@=1234567/nick@=新贵族/drid@=74751/"
             "ts@=1497455822/gb@=1/rid@=74751/";
    case 1:
      return "type@=cthn/unk@=喊话的人/drid@=606118/chatmsg@=快来@S抢/ts@=1497455823/";
    default:
      return "type@=rnewbc/rid@=9999/gid@=0/uid@=7654321/unk@=续费/drid@=9999/ts@=1497455824/";
  }
}

struct Stream {
  std::vector<ByteBuffer> frames;
  std::size_t bytes = 0;
};

// 2000 frames: 95 % chat and gifts, 5 % broadcasts of which one in ten is a gift-box rocket.
Stream MakeStream(bool withGiftBoxRockets) {
  std::mt19937 random(20170714);
  Stream stream;
  for (int i = 0; i < 2000; ++i) {
    std::string body;
    const unsigned roll = random() % 100;
    if (roll < 70) {
      body = Chat(random);
    } else if (roll < 95) {
      body = Gift(random);
    } else {
      const unsigned kind = random() % 10;
      if (kind == 0 && withGiftBoxRockets) {
        body = Rocket(random, true);
      } else if (kind <= 2) {
        body = Rocket(random, false);
      } else {
        body = OtherBroadcast(random);
      }
    }
    stream.frames.push_back(MakeFrame(body));
    stream.bytes += stream.frames.back().size();
  }
  return stream;
}

void RunStream(benchmark::State& state, const Stream& stream) {
  const FixedClock clock;
  std::size_t records = 0;
  for (auto _ : state) {
    for (const auto& frame : stream.frames) {
      auto record = kestrova::intake::RecognizeBroadcast(frame, clock);
      records += record.has_value() ? 1 : 0;
      benchmark::DoNotOptimize(record);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.bytes));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * stream.frames.size()));
  state.counters["records/iter"] =
      static_cast<double>(records) / static_cast<double>(state.iterations());
}

// Everything that is not a gift-box rocket, including rockets without a box and other broadcasts.
void BM_RejectNonRockets(benchmark::State& state) { RunStream(state, MakeStream(false)); }
BENCHMARK(BM_RejectNonRockets);

// Only chat and gift frames: what the raw-byte test alone decides.
void BM_RejectChatAndGifts(benchmark::State& state) {
  std::mt19937 random(7);
  Stream stream;
  for (int i = 0; i < 2000; ++i) {
    stream.frames.push_back(MakeFrame(i % 4 == 0 ? Gift(random) : Chat(random)));
    stream.bytes += stream.frames.back().size();
  }
  RunStream(state, stream);
}
BENCHMARK(BM_RejectChatAndGifts);

void BM_MixedStream(benchmark::State& state) { RunStream(state, MakeStream(true)); }
BENCHMARK(BM_MixedStream);

void BM_GiftBoxRocket(benchmark::State& state) {
  std::mt19937 random(1);
  const ByteBuffer frame = MakeFrame(Rocket(random, true));
  const FixedClock clock;
  for (auto _ : state) {
    auto record = kestrova::intake::RecognizeBroadcast(frame, clock);
    benchmark::DoNotOptimize(record);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_GiftBoxRocket);

}  // namespace

BENCHMARK_MAIN();
