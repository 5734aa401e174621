#include "barrage/frame_codec.h"

namespace kestrova::barrage {

namespace {

void AppendLittleEndian32(ByteBuffer& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

}  // namespace

ByteBuffer BuildFrame(std::span<const std::uint8_t> body, std::uint16_t messageType) {
  const auto length = static_cast<std::uint32_t>(body.size() + kFrameOverhead - 4);
  ByteBuffer frame;
  frame.reserve(body.size() + kFrameOverhead);
  AppendLittleEndian32(frame, length);
  AppendLittleEndian32(frame, length);
  frame.push_back(static_cast<std::uint8_t>(messageType));
  frame.push_back(static_cast<std::uint8_t>(messageType >> 8));
  frame.push_back(0);  // encryption
  frame.push_back(0);  // reserved
  frame.insert(frame.end(), body.begin(), body.end());
  frame.push_back(0);
  return frame;
}

ByteBuffer BuildFrame(const ByteBuffer& body) {
  return BuildFrame(std::span<const std::uint8_t>(body), kClientMessageType);
}

ByteBuffer EncodeMessage(const AnsiText& text) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  return BuildFrame(std::span<const std::uint8_t>(bytes, text.size()), kClientMessageType);
}

AnsiText LoginMessage(const AnsiText& room) { return "type@=loginreq/roomid@=" + room + "/"; }

AnsiText JoinGroupMessage(const AnsiText& room) {
  return "type@=joingroup/rid@=" + room + "/gid@=-9999/";
}

AnsiText KeepAliveMessage(const AnsiText& tick) { return "type@=keeplive/tick@=" + tick + "/"; }

AnsiText MarkAliveMessage() { return "type@=mrkl/"; }

AnsiText LogoutMessage() { return "type@=logout/"; }

}  // namespace kestrova::barrage
