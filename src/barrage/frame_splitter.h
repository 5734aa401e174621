#pragma once

#include <cstdint>
#include <span>

#include "ports/types.h"

// Cuts the byte stream of one connection into whole frames. The client hands over whatever was
// readable, so one block may hold several frames, the end of one and the start of the next, or
// a single byte; frames are only ever judged whole.
namespace kestrova::barrage {

// The largest length field accepted. Real frames are a few hundred bytes; anything near this is
// garbage, and waiting for it would stall the stream.
inline constexpr std::uint32_t kMaxFrameLength = 128 * 1024;
// The smallest length field that leaves room for the type, the two zero bytes and the end mark.
inline constexpr std::uint32_t kMinFrameLength = 9;

enum class FrameStatus {
  Ok,          // a whole frame starts here; `used` is its size
  Incomplete,  // a plausible frame starts here but more bytes are needed; `used` is 0
  Bad,         // no frame can start here; drop `used` bytes to reach the next plausible header
};

struct FrameScan {
  FrameStatus status;
  std::size_t used;
};

// Judges the bytes at the start of `bytes`. A header is plausible when both length fields are
// equal and within [kMinFrameLength, maxLength] and the message type is 689 or 690. For Bad, `used` stops at the first later
// position that could begin a frame (or that is too short to tell), so that nothing of a good
// frame following garbage is lost.
FrameScan ScanFrame(std::span<const std::uint8_t> bytes,
                    std::uint32_t maxLength = kMaxFrameLength);

// One per connection; Reset() at each new connection. Holds at most one unfinished frame
// (maxLength + 4 bytes). Not thread-safe; the GUI thread owns it.
class FrameSplitter {
 public:
  explicit FrameSplitter(std::uint32_t maxLength = kMaxFrameLength) : m_maxLength(maxLength) {}

  // Calls onFrame(std::span<const std::uint8_t>) once per whole frame, in stream order. The
  // span is valid only during the call.
  template <typename OnFrame>
  void Feed(std::span<const std::uint8_t> block, OnFrame&& onFrame);

  void Reset() {
    m_tail.clear();
    m_tail.shrink_to_fit();
  }

  std::size_t PendingBytes() const { return m_tail.size(); }
  // Bytes thrown away as garbage since construction (Reset keeps the count).
  std::uint64_t DroppedBytes() const { return m_dropped; }

 private:
  // How many more bytes the tail needs before it can be judged again.
  std::size_t TailNeeds() const;
  void DropFromTail(std::size_t count);

  std::uint32_t m_maxLength;
  ByteBuffer m_tail;
  std::uint64_t m_dropped = 0;
};

template <typename OnFrame>
void FrameSplitter::Feed(std::span<const std::uint8_t> block, OnFrame&& onFrame) {
  // First finish what an earlier block left, taking from this block only what that needs.
  while (!m_tail.empty()) {
    const FrameScan scan = ScanFrame(m_tail, m_maxLength);
    if (scan.status == FrameStatus::Ok) {
      onFrame(std::span<const std::uint8_t>(m_tail.data(), scan.used));
      m_tail.erase(m_tail.begin(), m_tail.begin() + static_cast<std::ptrdiff_t>(scan.used));
      continue;
    }
    if (scan.status == FrameStatus::Bad) {
      DropFromTail(scan.used);
      continue;
    }
    if (block.empty()) {
      return;
    }
    const std::size_t take = std::min(TailNeeds(), block.size());
    m_tail.insert(m_tail.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(take));
    block = block.subspan(take);
  }
  // Then read the rest of the block in place: the common case copies nothing.
  while (!block.empty()) {
    const FrameScan scan = ScanFrame(block, m_maxLength);
    if (scan.status == FrameStatus::Ok) {
      onFrame(block.first(scan.used));
      block = block.subspan(scan.used);
    } else if (scan.status == FrameStatus::Bad) {
      m_dropped += scan.used;
      block = block.subspan(scan.used);
    } else {
      m_tail.assign(block.begin(), block.end());
      return;
    }
  }
}

}  // namespace kestrova::barrage
