#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrova {

// Text in code page 936 (GBK). Every window text, message body, list cell and configuration
// text the core handles is one of these; the Qt edge converts to and from QString.
using AnsiText = std::string;

// Raw bytes: received blocks, frames, download bodies, carried images.
using ByteBuffer = std::vector<std::uint8_t>;

}  // namespace kestrova
