#pragma once

#include <cstdint>

#include "ports/types.h"

// The configuration cipher: a hex body whose bytes are masked with a fixed integer, followed by
// a nine-character tag derived from the MD5 digest of the configuration key. Pure functions,
// safe on any thread.
namespace kestrova::config {

// The CryptoAPI identifier of MD5, kept because HashHex speaks in those identifiers.
inline constexpr std::uint32_t kCalgMd5 = 0x8003;
inline constexpr std::uint32_t kCalgSha1 = 0x8004;
inline constexpr std::uint32_t kCalgSha256 = 0x800C;

inline constexpr int kConfigMask = 6817;
inline constexpr int kConfigTagLength = 9;
// The text the hidden 编辑框1 holds when the window is created.
inline constexpr const char* kDefaultConfigKey = "3164920";

// The plain configuration text, or an empty text when the tag does not match the key (or the
// digest cannot be computed). The plain text ends at the first byte that is zero after masking.
AnsiText DecipherConfig(const AnsiText& configText, const AnsiText& key);

// The inverse, for the configuration server and the tests: masked plain bytes as upper-case hex,
// then the tag of `key`. A zero byte in `plain` is enciphered like any other byte.
AnsiText EncipherConfig(const AnsiText& plain, const AnsiText& key);

// The nine-character upper-case tag that a configuration text for `key` ends with; empty when
// the digest cannot be computed.
AnsiText ConfigTag(const AnsiText& key);

// 32 lower-case hex digits, or an empty text when the platform offers no MD5.
AnsiText Md5Hex(const ByteBuffer& data);

// The digest of `data` as upper-case hex. `digestLength` is the size of the caller's buffer in
// bytes: a digest larger than that, an unknown algorithm or any other failure gives an empty
// text; a larger buffer is fine and only the digest's own bytes are written.
AnsiText HashHex(const ByteBuffer& data, std::uint32_t algorithm, int digestLength);

// Two hex digits per byte, either letter case; a last lone digit makes a byte on its own and a
// character that is not a hex digit counts as -2 in its pair.
ByteBuffer HexToBytes(const AnsiText& text);

// Left-to-right base-16 value in which a non-digit counts as -2. Wraps in two's complement for
// texts too long for 64 bits rather than overflowing.
std::int64_t HexPairValue(const AnsiText& pair);

}  // namespace kestrova::config
