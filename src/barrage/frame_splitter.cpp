#include "barrage/frame_splitter.h"

#include <algorithm>

#include "barrage/frame_codec.h"

namespace kestrova::barrage {

namespace {

static_assert((kClientMessageType >> 8) == (kServerMessageType >> 8));

// Both lengths and the message type.
constexpr std::size_t kJudgedHeaderBytes = 10;

std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// Whether a frame could begin at `bytes`, judging only as many header bytes as there are.
bool CouldBeginFrame(std::span<const std::uint8_t> bytes, std::uint32_t maxLength) {
  if (bytes.size() < 4) {
    return true;
  }
  const std::uint32_t length = ReadLittleEndian32(bytes.data());
  if (length < kMinFrameLength || length > maxLength) {
    return false;
  }
  const std::size_t repeated = std::min<std::size_t>(bytes.size(), 8);
  for (std::size_t i = 4; i < repeated; ++i) {
    if (bytes[i] != bytes[i - 4]) {
      return false;
    }
  }
  // The type matters as much as the lengths: a real header preceded by a zero byte reads,
  // one byte early, as two equal small lengths too.
  if (bytes.size() > 8 && bytes[8] != (kClientMessageType & 0xff) &&
      bytes[8] != (kServerMessageType & 0xff)) {
    return false;
  }
  if (bytes.size() > 9 && bytes[9] != (kServerMessageType >> 8)) {
    return false;
  }
  return true;
}

}  // namespace

FrameScan ScanFrame(std::span<const std::uint8_t> bytes, std::uint32_t maxLength) {
  if (bytes.empty()) {
    return {FrameStatus::Incomplete, 0};
  }
  if (CouldBeginFrame(bytes, maxLength)) {
    if (bytes.size() < kJudgedHeaderBytes) {
      return {FrameStatus::Incomplete, 0};
    }
    const std::size_t size = std::size_t{ReadLittleEndian32(bytes.data())} + 4;
    if (bytes.size() < size) {
      return {FrameStatus::Incomplete, 0};
    }
    return {FrameStatus::Ok, size};
  }
  std::size_t next = 1;
  while (next < bytes.size() && !CouldBeginFrame(bytes.subspan(next), maxLength)) {
    ++next;
  }
  return {FrameStatus::Bad, next};
}

std::size_t FrameSplitter::TailNeeds() const {
  if (m_tail.size() < kJudgedHeaderBytes) {
    return kJudgedHeaderBytes - m_tail.size();
  }
  const std::size_t size = std::size_t{ReadLittleEndian32(m_tail.data())} + 4;
  return size > m_tail.size() ? size - m_tail.size() : 0;
}

void FrameSplitter::DropFromTail(std::size_t count) {
  m_dropped += count;
  m_tail.erase(m_tail.begin(), m_tail.begin() + static_cast<std::ptrdiff_t>(count));
}

}  // namespace kestrova::barrage
