#include "delivery.h"

#include <utility>

namespace kestrova::tools {

bool ParseDeliveryMode(std::string_view text, DeliveryMode& mode) {
  if (text == "whole") {
    mode = DeliveryMode::Whole;
  } else if (text == "split") {
    mode = DeliveryMode::Split;
  } else if (text == "batch") {
    mode = DeliveryMode::Batch;
  } else {
    return false;
  }
  return true;
}

DeliveryPlanner::DeliveryPlanner(DeliveryMode mode, std::uint64_t seed)
    : m_mode(mode), m_random(seed) {}

std::vector<ByteBuffer> DeliveryPlanner::Plan(const std::vector<ByteBuffer>& frames) {
  std::vector<ByteBuffer> writes;
  switch (m_mode) {
    case DeliveryMode::Whole:
      writes = frames;
      break;
    case DeliveryMode::Batch:
      for (std::size_t i = 0; i < frames.size();) {
        const std::size_t count = 2 + m_random() % 15;
        ByteBuffer write;
        for (std::size_t j = 0; j < count && i < frames.size(); ++j, ++i) {
          write.insert(write.end(), frames[i].begin(), frames[i].end());
        }
        writes.push_back(std::move(write));
      }
      break;
    case DeliveryMode::Split: {
      ByteBuffer stream = std::exchange(m_held, {});
      for (const auto& frame : frames) {
        stream.insert(stream.end(), frame.begin(), frame.end());
      }
      std::size_t at = 0;
      while (stream.size() - at > 0) {
        // Pieces from a single byte to a few frames long, cutting headers as often as bodies.
        const std::size_t size = std::min<std::size_t>(1 + m_random() % 400, stream.size() - at);
        if (at + size == stream.size() && !frames.empty()) {
          m_held.assign(stream.begin() + static_cast<std::ptrdiff_t>(at), stream.end());
          break;
        }
        writes.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at),
                            stream.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;
      }
      break;
    }
  }
  return writes;
}

ByteBuffer DeliveryPlanner::Flush() { return std::exchange(m_held, {}); }

}  // namespace kestrova::tools
