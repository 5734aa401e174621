#pragma once

#include <cstdint>
#include <span>

#include "ports/types.h"

// The barrage protocol's wire format on the sending side. A frame is two copies of a 32-bit
// little-endian length (bytes after the first length field, body + 9), a 16-bit message type,
// two zero bytes, the body and one zero byte. Everything here is pure.
namespace kestrova::barrage {

// 689 marks frames a client sends, 690 frames the server sends.
inline constexpr std::uint16_t kClientMessageType = 689;
inline constexpr std::uint16_t kServerMessageType = 690;
inline constexpr std::size_t kFrameHeaderSize = 12;
// Header plus end mark: a frame is the body plus this many bytes.
inline constexpr std::size_t kFrameOverhead = 13;

// The client frame (type 689) that carries body.
ByteBuffer BuildFrame(const ByteBuffer& body);
// The same layout with any message type; the local server sends 690.
ByteBuffer BuildFrame(std::span<const std::uint8_t> body, std::uint16_t messageType);

// The text's bytes as they stand, framed; no escaping, no conversion.
ByteBuffer EncodeMessage(const AnsiText& text);

AnsiText LoginMessage(const AnsiText& room);
AnsiText JoinGroupMessage(const AnsiText& room);
AnsiText KeepAliveMessage(const AnsiText& tick);
// The heartbeat today's platform expects instead of keeplive.
AnsiText MarkAliveMessage();
AnsiText LogoutMessage();

}  // namespace kestrova::barrage
