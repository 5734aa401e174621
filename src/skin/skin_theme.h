#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "ports/types.h"

// Our skin format. A skin starts with the four bytes ".SHE" and carries the colours of the
// window's parts and its font; the host's skin engine turns it into a palette and a style sheet.
//
// Layout (little-endian):
//   0   ".SHE"
//   4   u16 version (1)
//   6   u32 total length of the skin in bytes, checksum included
//   10  u8  number of colours (12)
//   11  12 colours of three bytes (red, green, blue), in the order of SkinTheme's fields:
//       window, list, header, selection, button, status bar; background before text for each
//   47  u16 font size in points (4 to 96)
//   49  u8  length n of the font family (1 to 64), then n bytes of printable ASCII
//   50+n u32 FNV-1a hash of every byte before it
// Nothing may follow the hash: a skin of any other length does not parse.
namespace kestrova::skin {

struct SkinColour {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  bool operator==(const SkinColour&) const = default;
};

struct SkinColours {
  SkinColour background;
  SkinColour text;
  bool operator==(const SkinColours&) const = default;
};

struct SkinTheme {
  std::uint16_t version = 1;
  SkinColours window;
  SkinColours list;
  SkinColours header;
  SkinColours selection;
  SkinColours button;
  SkinColours statusBar;
  // Printable ASCII without quotes, backslashes, semicolons or braces, so that the engine can
  // put it into a style sheet as it stands.
  std::string fontFamily;
  std::uint16_t fontPointSize = 9;
  bool operator==(const SkinTheme&) const = default;
};

inline constexpr std::uint16_t kSkinVersion = 1;

// Pure: no state, any thread. Refuses (nullopt) anything but a complete, well-formed skin of
// exactly the stated length with a matching hash.
std::optional<SkinTheme> ParseSkin(std::span<const std::uint8_t> bytes);

// The inverse, for the build step that writes the carried skin and for tests. A theme whose
// font family would not parse back gives an empty buffer.
ByteBuffer EncodeSkin(const SkinTheme& theme);

}  // namespace kestrova::skin
