// DecipherConfig over arbitrary configuration texts and keys, and the round trip through
// EncipherConfig: whatever is enciphered for a key must decipher back to the same text up to
// its first zero byte.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "config/cipher.h"

using kestrova::AnsiText;
using namespace kestrova::config;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t keyLength = std::min<std::size_t>(data[0] % 16, size - 1);
  const AnsiText key(reinterpret_cast<const char*>(data + 1), keyLength);
  const AnsiText text(reinterpret_cast<const char*>(data + 1 + keyLength), size - 1 - keyLength);

  (void)DecipherConfig(text, kDefaultConfigKey);
  const AnsiText plain = DecipherConfig(text, key);
  if (plain.find('\0') != AnsiText::npos) std::abort();

  const AnsiText expected = text.substr(0, text.find('\0'));
  if (DecipherConfig(EncipherConfig(text, key), key) != expected) std::abort();
  // The tag is bound to the key: a text for another key is refused unless both tags agree.
  const AnsiText other = key + "x";
  if (ConfigTag(other) != ConfigTag(key) && !DecipherConfig(EncipherConfig(text, key), other).empty()) {
    std::abort();
  }
  (void)HexToBytes(text);
  return 0;
}
