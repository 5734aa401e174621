#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>

#include "ports/types.h"

// What a busy barrage server sends after a join: mostly chat, gifts and room entries, now and
// then a noble broadcast, and platform-wide rocket broadcasts with and without a gift box.
// Pure and deterministic for a seed; no sockets, no Qt, so the tests and the benches can use it.
namespace kestrova::tools {

struct StreamRates {
  double noisePerSecond = 200.0;  // chatmsg, dgb, uenter
  double rocketsPerSecond = 1.0;  // spbc, with and without gift box
  double giftBoxShare = 0.5;      // of the rockets
  double broadcastsPerSecond = 0.2;  // anbc, rnewbc
};

// One gift-box rocket as the client is expected to list it: UTF-8, with both the percent
// escapes and the STT escapes (@S, @A) undone.
struct RocketFacts {
  std::string sn;
  std::string dn;
  std::string gn;
  std::string gc;
  std::string drid;
  std::string time;  // ten digits
};

struct GeneratedMessage {
  std::string body;  // the STT text as it goes on the wire (UTF-8, possibly %XY escapes)
  std::optional<RocketFacts> giftBoxRocket;
};

// STT value escaping: "@" becomes "@A", "/" becomes "@S".
std::string EscapeStt(std::string_view value);

// A server frame (message type 690) around an STT body.
ByteBuffer ServerFrame(std::string_view body);

class StreamGenerator {
 public:
  explicit StreamGenerator(std::uint64_t seed, std::string room = "100");

  // The next message of a mixed stream, its kind drawn by the rates.
  GeneratedMessage Next(std::int64_t nowSeconds, const StreamRates& rates);

  GeneratedMessage Noise(std::int64_t nowSeconds);
  GeneratedMessage NobleBroadcast();
  GeneratedMessage Rocket(std::int64_t nowSeconds, bool giftBox);

  std::string LoginReply();
  void SetRoom(std::string room) { m_room = std::move(room); }

 private:
  std::uint64_t Below(std::uint64_t bound);
  const char* Pick(std::span<const char* const> names);
  std::string Number(std::uint64_t low, std::uint64_t high);
  // A nickname's value on the wire and as the client will show it.
  struct Value {
    std::string wire;
    std::string shown;
  };
  Value Nickname(std::span<const char* const> names);

  std::mt19937_64 m_random;
  std::string m_room;
};

}  // namespace kestrova::tools
