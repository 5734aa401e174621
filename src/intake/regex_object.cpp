#include "intake/regex_object.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "intake/text.h"
#include "intake/texts.h"

namespace kestrova::intake {
namespace {

// Enough for any real message many times over, small enough that a hostile subject cannot hold
// the window thread for long.
constexpr std::uint32_t kMatchLimit = 5'000'000;
constexpr std::size_t kCacheSize = 16;

struct CodeDeleter {
  void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
using CompiledCode = std::shared_ptr<pcre2_code>;

struct MatchContextDeleter {
  void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};

struct MatchDataDeleter {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};

std::uint32_t CompileOptions(const MatchOptions& options) {
  // UTF mode over characters; invalid sequences (there should be none after conversion) never
  // match instead of failing the call. \xhh and \uhhhh as the VBScript engine reads them.
  std::uint32_t flags = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_ALT_BSUX |
                        PCRE2_NEVER_BACKSLASH_C;
  if (options.letterCase == LetterCase::Ignore) flags |= PCRE2_CASELESS;
  // Without line anchors "$" matches only at the very end, as in VBScript.
  flags |= options.lineAnchors == LineAnchors::AtLineBreaks ? PCRE2_MULTILINE
                                                            : PCRE2_DOLLAR_ENDONLY;
  return flags;
}

// Compiling costs far more than matching a short message, and callers run the same few patterns
// again and again, so each thread keeps its most recent compilations.
CompiledCode Compile(const std::string& utf8Pattern, std::uint32_t flags) {
  struct Entry {
    std::string pattern;
    std::uint32_t flags;
    CompiledCode code;
  };
  thread_local std::vector<Entry> cache;
  for (std::size_t i = 0; i < cache.size(); ++i) {
    if (cache[i].flags == flags && cache[i].pattern == utf8Pattern) {
      CompiledCode code = cache[i].code;
      if (i != 0) std::rotate(cache.begin(), cache.begin() + static_cast<std::ptrdiff_t>(i),
                              cache.begin() + static_cast<std::ptrdiff_t>(i) + 1);
      return code;
    }
  }
  pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
  if (context == nullptr) return nullptr;
  // "." stops at a line feed only, and "^"/"$" see line feeds only.
  pcre2_set_newline(context, PCRE2_NEWLINE_LF);
  int error = 0;
  PCRE2_SIZE errorOffset = 0;
  pcre2_code* raw =
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(utf8Pattern.data()), utf8Pattern.size(), flags,
                    &error, &errorOffset, context);
  pcre2_compile_context_free(context);
  if (raw == nullptr) return nullptr;
  // Without JIT the interpreter still gives the same results, only slower.
  (void)pcre2_jit_compile(raw, PCRE2_JIT_COMPLETE);
  CompiledCode code(raw, CodeDeleter{});
  if (cache.size() >= kCacheSize) cache.pop_back();
  cache.insert(cache.begin(), Entry{utf8Pattern, flags, code});
  return code;
}

pcre2_match_context* SharedMatchContext() {
  thread_local std::unique_ptr<pcre2_match_context, MatchContextDeleter> context = [] {
    std::unique_ptr<pcre2_match_context, MatchContextDeleter> made(
        pcre2_match_context_create(nullptr));
    if (made) pcre2_set_match_limit(made.get(), kMatchLimit);
    return made;
  }();
  return context.get();
}

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// UTF-16 units of UTF-8 text: the engine's character offsets are counted as VBScript counts them.
std::int32_t Utf16Units(std::string_view utf8) {
  std::int32_t units = 0;
  for (char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (!IsContinuation(byte)) units += byte >= 0xF0 ? 2 : 1;
  }
  return units;
}

}  // namespace

struct RegexObject::Engine {
  AnsiText pattern;  // as written to the engine, with any quote token expanded
  CompiledCode code;
  std::uint32_t groups = 0;
};

struct RegexObject::Matches {
  struct Span {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool set = false;
  };
  struct Hit {
    Span whole;
    std::int32_t firstIndex = 0;  // in characters
    std::vector<Span> groups;
  };
  std::string subject;  // UTF-8
  std::vector<Hit> hits;

  // The exact 0-based offset in the code page 936 subject: the length of the text before the
  // span, converted back. Searching the match text again from the character offset, as the old
  // engine's callers did, lands on an earlier equal text (match 2 of "a" in "aa" would be put at
  // 0). -2 for a group that took part in no match.
  std::int32_t ByteOffset(const Span& span) const {
    if (!span.set) return -2;
    return static_cast<std::int32_t>(Utf8ToGbk(subject.substr(0, span.begin)).size());
  }

  AnsiText Text(const Span& span) const {
    if (!span.set) return {};
    return Utf8ToGbk(subject.substr(span.begin, span.end - span.begin));
  }
};

RegexObject::RegexObject() = default;
RegexObject::~RegexObject() = default;
RegexObject::RegexObject(const RegexObject& other) = default;
RegexObject& RegexObject::operator=(const RegexObject& other) = default;
RegexObject::RegexObject(RegexObject&&) noexcept = default;
RegexObject& RegexObject::operator=(RegexObject&&) noexcept = default;

void RegexObject::Destroy() {
  m_engine.reset();
  m_matches.reset();
  m_subject.clear();
}

RegexObject RegexObject::Copy() const { return *this; }

bool RegexObject::Match(const AnsiText& pattern, const AnsiText& subject,
                        const MatchOptions& options) {
  m_engine.reset();
  m_matches.reset();
  auto engine = std::make_shared<Engine>();
  const bool expand = options.quoteToken == QuoteToken::Expand &&
                      pattern.find('#') != AnsiText::npos;
  engine->pattern = expand ? ReplaceAll(pattern, Texts().quoteToken, "\"") : pattern;
  m_subject = subject;
  const std::uint32_t flags = CompileOptions(options);
  engine->code = Compile(GbkToUtf8(engine->pattern), flags);
  m_engine = engine;
  if (!engine->code) return false;
  pcre2_pattern_info(engine->code.get(), PCRE2_INFO_CAPTURECOUNT, &engine->groups);

  auto matches = std::make_shared<Matches>();
  matches->subject = GbkToUtf8(subject);
  const std::string& text = matches->subject;
  std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(
      pcre2_match_data_create_from_pattern(engine->code.get(), nullptr));
  if (!data) return false;
  const auto* begin = reinterpret_cast<PCRE2_SPTR>(text.data());
  std::size_t start = 0;
  std::size_t counted = 0;  // bytes already counted into `units`
  std::int32_t units = 0;
  while (start <= text.size()) {
    const int rc = pcre2_match(engine->code.get(), begin, text.size(), start, 0, data.get(),
                               SharedMatchContext());
    if (rc == PCRE2_ERROR_NOMATCH) break;
    if (rc < 0) return false;  // over the match limit: no collection, as a refused Execute
    const PCRE2_SIZE* vector = pcre2_get_ovector_pointer(data.get());
    Matches::Hit hit;
    hit.whole = {vector[0], vector[1], true};
    units += Utf16Units(std::string_view(text).substr(counted, vector[0] - counted));
    counted = vector[0];
    hit.firstIndex = units;
    hit.groups.resize(engine->groups);
    for (std::uint32_t g = 1; g <= engine->groups; ++g) {
      if (static_cast<std::uint32_t>(rc) > g && vector[2 * g] != PCRE2_UNSET) {
        hit.groups[g - 1] = {vector[2 * g], vector[2 * g + 1], true};
      }
    }
    matches->hits.push_back(std::move(hit));
    if (options.scope == MatchScope::FirstOnly) break;
    // The next search starts where this match ended; after an empty match, one character on.
    std::size_t next = vector[1];
    if (vector[1] == vector[0]) {
      if (next >= text.size()) break;
      ++next;
      while (next < text.size() && IsContinuation(static_cast<unsigned char>(text[next]))) ++next;
    }
    start = next;
  }
  m_matches = std::move(matches);
  return true;
}

void RegexObject::NoOperation() const {}

AnsiText RegexObject::GetPattern() const { return m_engine ? m_engine->pattern : AnsiText{}; }

AnsiText RegexObject::ReplaceText(const AnsiText& replacement) const {
  if (!m_engine || !m_matches) return {};
  const std::string& subject = m_matches->subject;
  const std::string with = GbkToUtf8(replacement);
  std::string out;
  std::size_t copied = 0;
  for (const auto& hit : m_matches->hits) {
    out.append(subject, copied, hit.whole.begin - copied);
    for (std::size_t i = 0; i < with.size(); ++i) {
      if (with[i] != '$' || i + 1 >= with.size()) {
        out.push_back(with[i]);
        continue;
      }
      const char next = with[i + 1];
      const auto appendSpan = [&](std::size_t from, std::size_t to) {
        out.append(subject, from, to - from);
      };
      if (next == '$') {
        out.push_back('$');
      } else if (next == '&') {
        appendSpan(hit.whole.begin, hit.whole.end);
      } else if (next == '`') {
        appendSpan(0, hit.whole.begin);
      } else if (next == '\'') {
        appendSpan(hit.whole.end, subject.size());
      } else if (next >= '1' && next <= '9' &&
                 static_cast<std::size_t>(next - '0') <= hit.groups.size()) {
        const auto& group = hit.groups[static_cast<std::size_t>(next - '1')];
        if (group.set) appendSpan(group.begin, group.end);
      } else {
        out.push_back('$');
        continue;  // the next character is an ordinary one
      }
      ++i;
    }
    copied = hit.whole.end;
  }
  out.append(subject, copied, std::string::npos);
  return Utf8ToGbk(out);
}

std::int32_t RegexObject::MatchCount() const {
  return m_matches ? static_cast<std::int32_t>(m_matches->hits.size()) : 0;
}

AnsiText RegexObject::MatchText(std::int32_t n) const {
  if (!m_matches || n < 1 || static_cast<std::size_t>(n) > m_matches->hits.size()) return {};
  return m_matches->Text(m_matches->hits[static_cast<std::size_t>(n - 1)].whole);
}

AnsiText RegexObject::SubMatchText(std::int32_t n, std::int32_t g) const {
  if (!m_matches || n < 1 || static_cast<std::size_t>(n) > m_matches->hits.size()) return {};
  const auto& hit = m_matches->hits[static_cast<std::size_t>(n - 1)];
  if (g < 1 || static_cast<std::size_t>(g) > hit.groups.size()) return {};
  return m_matches->Text(hit.groups[static_cast<std::size_t>(g - 1)]);
}

AnsiText RegexObject::MatchText(std::int32_t n, std::int32_t& position) const {
  position = -2;
  if (!m_matches || n < 1 || static_cast<std::size_t>(n) > m_matches->hits.size()) return {};
  const auto& span = m_matches->hits[static_cast<std::size_t>(n - 1)].whole;
  position = m_matches->ByteOffset(span);
  return m_matches->Text(span);
}

AnsiText RegexObject::SubMatchText(std::int32_t n, std::int32_t g, std::int32_t& position) const {
  position = -2;
  if (!m_matches || n < 1 || static_cast<std::size_t>(n) > m_matches->hits.size()) return {};
  const auto& hit = m_matches->hits[static_cast<std::size_t>(n - 1)];
  if (g < 1 || static_cast<std::size_t>(g) > hit.groups.size()) return {};
  const auto& span = hit.groups[static_cast<std::size_t>(g - 1)];
  position = m_matches->ByteOffset(span);
  return m_matches->Text(span);
}

std::int32_t RegexObject::SubMatchCount() const {
  if (!m_matches || m_matches->hits.empty()) return 0;
  return static_cast<std::int32_t>(m_matches->hits.front().groups.size());
}

}  // namespace kestrova::intake
