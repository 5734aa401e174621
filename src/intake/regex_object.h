#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ports/types.h"

// A regular-expression object with the behaviour of the VBScript engine the program was written
// against: Match sets the options and the pattern and runs it once over a subject; the reading
// operations then look at what that Match left. Texts in and out are code page 936; the engine
// itself works on characters, so a case-insensitive match never lands on the trail byte of a
// double-byte character.
//
// Not thread-safe: an object is used by the thread that made it. Copies share the compiled
// pattern and the matches (both immutable) and copy the subject.
namespace kestrova::intake {

enum class LetterCase { Ignore, Respect };
// Whether ^ and $ also match at line feeds.
enum class LineAnchors { AtLineBreaks, AtTextEnds };
enum class MatchScope { All, FirstOnly };
// Whether "#引号" in the pattern stands for a double quote.
enum class QuoteToken { Literal, Expand };

struct MatchOptions {
  LetterCase letterCase = LetterCase::Ignore;
  LineAnchors lineAnchors = LineAnchors::AtLineBreaks;
  MatchScope scope = MatchScope::All;
  QuoteToken quoteToken = QuoteToken::Literal;
};

class RegexObject {
 public:
  RegexObject();
  ~RegexObject();
  RegexObject(const RegexObject& other);
  RegexObject& operator=(const RegexObject& other);
  RegexObject(RegexObject&&) noexcept;
  RegexObject& operator=(RegexObject&&) noexcept;

  // The operations, in the order of the object's table.

  // Releases the engine and the matches and clears the subject; the object is then as new.
  void Destroy();
  RegexObject Copy() const;
  // True when the pattern compiled and ran, whether or not anything matched. False (a rejected
  // pattern, or a subject that needs more work than the engine allows) leaves no matches; the
  // pattern and the subject are kept, as the engine keeps a pattern it has not yet compiled.
  bool Match(const AnsiText& pattern, const AnsiText& subject, const MatchOptions& options = {});
  void NoOperation() const;
  // Empty before the first Match.
  AnsiText GetPattern() const;
  // The stored subject with the matches of the last Match replaced; the replacement may use
  // $1..$9 (a group's text), $& (the whole match) and $$ (a dollar sign). Empty without a
  // successful Match.
  AnsiText ReplaceText(const AnsiText& replacement) const;
  std::int32_t MatchCount() const;
  // Match n (1-based); an index out of range gives an empty text. The overloads with a position
  // also write the match's 0-based byte offset in the subject (-2 when there is no such match).
  AnsiText MatchText(std::int32_t n) const;
  AnsiText MatchText(std::int32_t n, std::int32_t& position) const;
  // Group g (1-based) of match n; a group that took part in no match is empty.
  AnsiText SubMatchText(std::int32_t n, std::int32_t g) const;
  AnsiText SubMatchText(std::int32_t n, std::int32_t g, std::int32_t& position) const;
  // The number of groups of the first match; 0 when nothing matched.
  std::int32_t SubMatchCount() const;

  struct Engine;
  struct Matches;

 private:
  std::shared_ptr<const Engine> m_engine;
  std::shared_ptr<const Matches> m_matches;
  AnsiText m_subject;
};

}  // namespace kestrova::intake
