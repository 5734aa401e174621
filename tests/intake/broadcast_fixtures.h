#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "ports/ports.h"
#include "ports/types.h"

// Frames shaped like the ones the barrage server sends: a 12-byte header (length twice, message
// type 690), a UTF-8 body and a zero byte.
namespace kestrova::intake::fixtures {

inline ByteBuffer MakeFrame(std::string_view body) {
  const auto length = static_cast<std::uint32_t>(body.size() + 9);
  ByteBuffer frame;
  for (int copy = 0; copy < 2; ++copy) {
    for (int shift = 0; shift < 32; shift += 8) {
      frame.push_back(static_cast<std::uint8_t>(length >> shift));
    }
  }
  frame.push_back(0xB2);  // 690, little-endian
  frame.push_back(0x02);
  frame.push_back(0);
  frame.push_back(0);
  frame.insert(frame.end(), body.begin(), body.end());
  frame.push_back(0);
  return frame;
}

// A real gift-box rocket: the negative rid holds a ten-digit run before bid.
inline const std::string kGiftBoxRocket =
    "type@=spbc/sn@=飞翔的小鱼/dn@=主播小美/gn@=火箭/gc@=1/drid@=5189167/gs@=6/gb@=1/es@=1/"
    "gfid@=196/eid@=143/bgl@=3/ifs@=0/rid@=-1003548456/gid@=0/bid@=30002_1497455820_33/"
    "sid@=23711004/cl2@=0/";

// Older servers: no ten-digit run anywhere.
inline const std::string kOldServerRocket =
    "type@=spbc/sn@=老用户/dn@=老主播/gn@=火箭/gc@=2/drid@=56040/gs@=6/gb@=1/es@=1/gfid@=59/"
    "eid@=7/rid@=56040/gid@=141/";

inline const std::string kRocketWithoutBox =
    "type@=spbc/sn@=路人/dn@=主播/gn@=火箭/gc@=1/drid@=288016/gs@=6/gb@=0/es@=1/gfid@=196/"
    "eid@=143/bgl@=3/ifs@=0/rid@=288016/gid@=0/bid@=30002_1497455821_34/sid@=1/cl2@=0/";

inline const std::string kAnbc =
    "type@=anbc/bnn@=/level@=1/cid@=1/gvnk@=开通贵族/uid@=1234567/nick@=新贵族/drid@=74751/"
    "ts@=1497455822/gb@=1/rid@=74751/";
inline const std::string kCthn =
    "type@=cthn/unk@=喊话的人/drid@=606118/chatmsg@=快来@S抢/ts@=1497455823/gb@=1/";
inline const std::string kRnewbc =
    "type@=rnewbc/rid@=9999/gid@=0/uid@=7654321/unk@=续费/drid@=9999/ts@=1497455824/gb@=1/";

inline const std::string kChat =
    "type@=chatmsg/rid@=5189167/ct@=0/uid@=43897762/nn@=弹幕达人/txt@=主播晚上好 666/"
    "cid@=bd5c5d0b73bd4a59c12d8e0300000000/ic@=avanew@Sface@S201706@S12@S17@Sa0b1c2_big/"
    "level@=17/sahf@=0/nl@=0/bnn@=小美/bl@=9/brid@=5189167/hc@=0a1b2c3d4e5f/el@=/lk@=/"
    "pdg@=26/pdk@=94/ext@=/";
inline const std::string kGift =
    "type@=dgb/rid@=5189167/gfid@=824/gs@=0/uid@=12345678/nn@=送礼物的人/"
    "ic@=avatar@Sdefault@S08/eid@=0/eic@=0/level@=9/dw@=0/gfcnt@=1/hits@=12/bcnt@=1/bst@=0/"
    "ct@=0/el@=/cm@=0/bnn@=/bl@=0/brid@=0/hc@=/sahf@=0/fc@=0/bnid@=1/bnl@=1/";

class FixedClock final : public ports::Clock {
 public:
  explicit FixedClock(std::int64_t unixSeconds, int milliseconds = 0)
      : m_now(std::chrono::seconds(unixSeconds) + std::chrono::milliseconds(milliseconds)) {}
  std::chrono::system_clock::time_point Now() const override { return m_now; }

 private:
  std::chrono::system_clock::time_point m_now;
};

}  // namespace kestrova::intake::fixtures
