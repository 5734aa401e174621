#pragma once

#include <cstdint>
#include <vector>

#include "ports/types.h"

// Byte-position text routines over code page 936 texts. Positions are 1-based; -1 means not
// found. None of these fails: a missing marker or an empty input gives an empty result.
namespace kestrova::intake {

enum class Case { Sensitive, Insensitive };

// What PercentDecode does with the decoded bytes.
enum class Utf8 { Keep, ConvertToGbk };

// Searches from `start` (values below 2 mean the beginning), stepping over whole double-byte
// characters so that a match never begins on a trail byte. Insensitive folds ASCII letters only.
int FindText(const AnsiText& text, const AnsiText& needle, int start = 0,
             Case mode = Case::Sensitive);

// Decodes %XY escapes (invalid digits still give a byte, a decoded zero gives nothing) and, on
// request, converts the result from UTF-8 to code page 936.
AnsiText PercentDecode(const AnsiText& text, Utf8 conversion = Utf8::Keep);

AnsiText Utf8ToGbk(const AnsiText& text);
// The reverse, for the window's edge, the tools and the tests.
AnsiText GbkToUtf8(const AnsiText& text);

// Code page numbers as the converters know them.
inline constexpr int kCodePageSystem = 0;  // the program's system code page: 936
inline constexpr int kCodePageGbk = 936;
inline constexpr int kCodePageUtf8 = 65001;

// UTF-16LE units including a terminating zero unit; empty for an empty text. Invalid input
// bytes become U+FFFD.
ByteBuffer ToWideText(const AnsiText& text, int codePage = kCodePageUtf8);
// Up to the first zero unit; characters the code page cannot hold become '?'.
AnsiText FromWideText(const ByteBuffer& wide, int codePage = kCodePageSystem);

// The text after the first `left` (from `start`) up to the next `right` after it. "#引号" in a
// marker stands for a double quote.
AnsiText TextBetween(const AnsiText& text, const AnsiText& left, const AnsiText& right,
                     int start = 0, Case mode = Case::Sensitive);

// Pieces between separators: empty leading and inner pieces count, no empty piece follows the
// last separator, an empty text gives no pieces.
std::vector<AnsiText> SplitText(const AnsiText& text, const AnsiText& separator);

// Removes leading and trailing ASCII spaces and full-width (A1 A1) spaces, nothing else.
AnsiText TrimSpaces(const AnsiText& text);

// Non-overlapping occurrences of needle in text.
std::int32_t CountOccurrences(const AnsiText& text, const AnsiText& needle,
                              Case mode = Case::Insensitive);

// Replaces every occurrence of `from` (whole-character scan, exact bytes).
AnsiText ReplaceAll(const AnsiText& text, const AnsiText& from, const AnsiText& to);

}  // namespace kestrova::intake
