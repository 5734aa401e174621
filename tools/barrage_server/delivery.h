#pragma once

#include <cstdint>
#include <random>
#include <string_view>
#include <vector>

#include "ports/types.h"

// How the frames due at one moment are cut into writes. Independent of the transport: a TCP
// session writes each piece to its socket, a WebSocket session would send each as one message.
namespace kestrova::tools {

enum class DeliveryMode {
  Whole,  // one frame per write
  Split,  // the byte stream cut at random places, a frame's tail held for the next moment
  Batch,  // several whole frames per write
};

// Parses "whole", "split", "batch".
bool ParseDeliveryMode(std::string_view text, DeliveryMode& mode);

class DeliveryPlanner {
 public:
  DeliveryPlanner(DeliveryMode mode, std::uint64_t seed);

  // The writes to make now. In Split mode the last piece is held back until the next call, so
  // that the client really does see frames cut across reads.
  std::vector<ByteBuffer> Plan(const std::vector<ByteBuffer>& frames);
  // Whatever Split held back.
  ByteBuffer Flush();

 private:
  DeliveryMode m_mode;
  std::mt19937_64 m_random;
  ByteBuffer m_held;
};

}  // namespace kestrova::tools
