// PercentDecode over arbitrary bytes, with and without the UTF-8 conversion.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "intake/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string decoded = kestrova::intake::PercentDecode(text);
  // Every escape takes three bytes and gives at most one.
  if (decoded.size() > text.size()) std::abort();
  const std::string converted =
      kestrova::intake::PercentDecode(text, kestrova::intake::Utf8::ConvertToGbk);
  // The conversion never leaves a zero byte behind.
  if (converted.find('\0') != std::string::npos) std::abort();
  return 0;
}
