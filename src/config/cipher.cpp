#include "config/cipher.h"

#include <openssl/evp.h>

#include <string_view>

namespace kestrova::config {
namespace {

constexpr std::string_view kHexAlphabet = "0123456789ABCDEF";

const EVP_MD* DigestFor(std::uint32_t algorithm) {
  switch (algorithm) {
    case kCalgMd5:
      return EVP_md5();
    case kCalgSha1:
      return EVP_sha1();
    case kCalgSha256:
      return EVP_sha256();
    default:
      return nullptr;
  }
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

AnsiText HashHex(const ByteBuffer& data, std::uint32_t algorithm, int digestLength) {
  const EVP_MD* md = DigestFor(algorithm);
  if (md == nullptr || digestLength <= 0) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  // Under a FIPS-only provider MD5 is missing and EVP_Digest fails; that must read as "no
  // digest", which makes every configuration unusable rather than accepted.
  if (EVP_Digest(data.data(), data.size(), digest, &length, md, nullptr) != 1) return {};
  if (length > static_cast<unsigned int>(digestLength)) return {};
  AnsiText hex;
  hex.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHexAlphabet[digest[i] >> 4]);
    hex.push_back(kHexAlphabet[digest[i] & 0x0F]);
  }
  return hex;
}

AnsiText Md5Hex(const ByteBuffer& data) {
  AnsiText hex = HashHex(data, kCalgMd5, 16);
  for (char& c : hex) c = LowerAscii(c);
  return hex;
}

std::int64_t HexPairValue(const AnsiText& pair) {
  // Unsigned arithmetic so that a long text wraps instead of being undefined; for the one or
  // two characters the cipher passes the result is the plain signed value.
  std::uint64_t value = 0;
  for (char c : pair) {
    const std::size_t index = kHexAlphabet.find(UpperAscii(c));
    const std::int64_t digit = index == std::string_view::npos ? -2 : static_cast<std::int64_t>(index);
    value = value * 16u + static_cast<std::uint64_t>(digit);
  }
  return static_cast<std::int64_t>(value);
}

ByteBuffer HexToBytes(const AnsiText& text) {
  ByteBuffer bytes;
  bytes.reserve(text.size() / 2 + 1);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const std::int64_t value = HexPairValue(text.substr(i, 2));
    bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) & 0xFFu));
  }
  return bytes;
}

AnsiText ConfigTag(const AnsiText& key) {
  const AnsiText digest = Md5Hex(ByteBuffer(key.begin(), key.end()));
  if (digest.size() < 2 + kConfigTagLength) return {};
  AnsiText tag = digest.substr(2, kConfigTagLength);
  for (char& c : tag) c = UpperAscii(c);
  return tag;
}

AnsiText DecipherConfig(const AnsiText& configText, const AnsiText& key) {
  const AnsiText expected = ConfigTag(key);
  const std::size_t tagLength = static_cast<std::size_t>(kConfigTagLength);
  const std::size_t bodyLength = configText.size() > tagLength ? configText.size() - tagLength : 0;
  if (expected.empty() || configText.compare(bodyLength, AnsiText::npos, expected) != 0) return {};

  const ByteBuffer bytes = HexToBytes(configText.substr(0, bodyLength));
  AnsiText plain;
  plain.reserve(bytes.size());
  for (std::uint8_t b : bytes) {
    const auto byte = static_cast<std::uint8_t>((b ^ kConfigMask) & 0xFF);
    if (byte == 0) break;
    plain.push_back(static_cast<char>(byte));
  }
  return plain;
}

AnsiText EncipherConfig(const AnsiText& plain, const AnsiText& key) {
  AnsiText text;
  text.reserve(plain.size() * 2 + kConfigTagLength);
  for (char c : plain) {
    const auto byte = static_cast<std::uint8_t>((static_cast<unsigned char>(c) ^ kConfigMask) & 0xFF);
    text.push_back(kHexAlphabet[byte >> 4]);
    text.push_back(kHexAlphabet[byte & 0x0F]);
  }
  return text + ConfigTag(key);
}

}  // namespace kestrova::config
