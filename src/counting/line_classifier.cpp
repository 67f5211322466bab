// The line classifier: C-family comment, string and directive rules, one pass per line.
#include "counting/line_classifier.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace srctally {
namespace {

// Character properties below U+0100; every character above is a content character.
constexpr std::uint8_t kDecoration = 0x1;  // never content: counts neither as code nor comment
constexpr std::uint8_t kSpecial =
    0x2;  // may change the comment or string state: " / * and \ before "

constexpr std::array<std::uint8_t, 256> MakeCharTable() {
  std::array<std::uint8_t, 256> table{};
  // The 22 decoration characters; U+00A7 and U+00B0 are compared as code points.
  constexpr char16_t decoration[] = {u' ',      u'/', u'|', u'!',      u'\\', u'*', u'.', u'_',
                                     u'-',      u'~', u'^', u'+',      u':',  u'=', u'@', u'#',
                                     u'\u00A7', u'$', u'%', u'\u00B0', u'<',  u'>'};
  for (const char16_t ch : decoration) table[ch] |= kDecoration;
  for (const char16_t ch : {u'"', u'/', u'*', u'\\'}) table[ch] |= kSpecial;
  return table;
}
constexpr std::array<std::uint8_t, 256> kCharTable = MakeCharTable();

// Counts are 64-bit and never stop the program: should one ever reach its limit, it wraps
// instead of overflowing into undefined behaviour.
inline void Bump(std::int64_t& count) {
  count = static_cast<std::int64_t>(static_cast<std::uint64_t>(count) + 1u);
}

// Skips UTF-16 units that cannot change any state, from p up to the next special character
// or e; sets content when one of them is a content character. Ptr steps one unit at a
// time; load reads the unit at a position (in memory or from little-endian bytes).
template <class Ptr, class Load>
inline Ptr SkipPlainUnits(Ptr p, Ptr e, std::ptrdiff_t step, Load load, bool& content) {
  for (; p < e; p += step) {
    const char16_t ch = load(p);
    if (ch > 0xFF) {
      content = true;
      continue;
    }
    const std::uint8_t properties = kCharTable[ch];
    if (properties & kSpecial) break;
    content |= (properties & kDecoration) == 0;
  }
  return p;
}

// Whether the units of [p, e) hold any content character.
template <class Ptr, class Load>
inline bool AnyContentUnits(Ptr p, Ptr e, std::ptrdiff_t step, Load load) {
  for (; p < e; p += step) {
    const char16_t ch = load(p);
    if (ch > 0xFF || (kCharTable[ch] & kDecoration) == 0) return true;
  }
  return false;
}

inline char16_t LoadUnit(const char16_t* p) { return *p; }

inline const char16_t* SkipPlain(const char16_t* p, const char16_t* e, bool& content) {
  return SkipPlainUnits(p, e, 1, LoadUnit, content);
}

inline bool AnyContent(const char16_t* p, const char16_t* e) {
  return AnyContentUnits(p, e, 1, LoadUnit);
}

// The verdict of a finished line, first match wins. A directive line counts as code even
// without a code character (a lone '#', '#' and dashes, '#' and a comment): the report prints
// code as codeLines - directiveLines, so every directive line must be among the code lines
// for the printed rows to stay non-negative and add up to the total.
inline void CountLine(bool code, bool comment, bool directive, bool emptyComment,
                      LineStats& stats) {
  if (directive) Bump(stats.directiveLines);
  if (code || directive) {
    Bump(stats.codeLines);
  } else if (comment) {
    Bump(stats.commentLines);
  } else if (emptyComment) {
    Bump(stats.emptyCommentLines);
  } else {
    Bump(stats.emptyLines);
  }
}

// ---- Stored bytes, classified without decoding ----
//
// Every character that matters to the rules (the specials, the decoration set apart from
// U+00A7 and U+00B0, white space) is below U+0080, and so is one byte in ANSI and UTF-8 and
// one unit in UTF-16, where no byte of a longer UTF-8 sequence can be mistaken for it. The
// rest only tells content from decoration: an ANSI byte by its own value; in UTF-8 every
// byte from 0x80 up belongs to a content character (a decoded one, or a U+FFFD), except
// C2 A7 and C2 B0, which are always U+00A7 and U+00B0 (C2 can only start a sequence).

using Byte = unsigned char;
using State = CTextClassifier::State;

constexpr std::uint8_t kUtf8Pair = 0x4;  // C2: with A7 or B0 after it, one decoration character

constexpr std::array<std::uint8_t, 256> MakeUtf8Table() {
  std::array<std::uint8_t, 256> table = kCharTable;
  for (std::size_t byte = 0x80; byte < 0x100; ++byte) table[byte] = 0;  // content
  table[0xC2] = kUtf8Pair;
  return table;
}
constexpr std::array<std::uint8_t, 256> kUtf8Table = MakeUtf8Table();

inline bool IsDecorationPair(const Byte* p, const Byte* e) {
  return p + 1 < e && (p[1] == 0xA7 || p[1] == 0xB0);
}

// Searches of [p, e) for the first byte of a few values, sixteen bytes at a time where the
// processor has the instructions for it: the vector may reach past e into the run's padding
// (TextRun::kPadding), and what it finds there is ignored.
#if defined(__SSE2__)
inline const Byte* FirstHit(const Byte* p, unsigned mask, const Byte* e) {
  const Byte* const hit = p + std::countr_zero(mask);
  return hit < e ? hit : e;
}

inline __m128i Load16(const Byte* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
#endif

// The first of the special characters " / * and \\, or e.
inline const Byte* FindSpecialByte(const Byte* p, const Byte* e) {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i slash = _mm_set1_epi8('/');
  const __m128i star = _mm_set1_epi8('*');
  const __m128i backslash = _mm_set1_epi8('\\');
  for (; p < e; p += 16) {
    const __m128i bytes = Load16(p);
    const __m128i hits =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, slash)),
                     _mm_or_si128(_mm_cmpeq_epi8(bytes, star), _mm_cmpeq_epi8(bytes, backslash)));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    if (mask != 0) return FirstHit(p, mask, e);
  }
  return e;
#else
  while (p < e && (kCharTable[*p] & kSpecial) == 0) ++p;
  return p;
#endif
}

// The first line feed byte, or e.
inline const Byte* FindLineFeedByte(const Byte* p, const Byte* e) {
#if defined(__SSE2__)
  const __m128i lineFeed = _mm_set1_epi8('\n');
  for (; p < e; p += 16) {
    const unsigned mask =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(Load16(p), lineFeed)));
    if (mask != 0) return FirstHit(p, mask, e);
  }
  return e;
#else
  const void* found = std::memchr(p, '\n', static_cast<std::size_t>(e - p));
  return found != nullptr ? static_cast<const Byte*>(found) : e;
#endif
}

// One encoding's view of stored bytes: the unit size, the character of a unit that may be
// an ASCII one, the units the decoder would deliver for a run, and the two content scans of
// ClassifyLine (SkipPlain, AnyContent) on bytes.
struct AnsiText {
  static constexpr std::size_t kUnit = 1;
  static char16_t At(const Byte* p) { return *p; }
  static const Byte* FindLineFeed(const Byte* p, const Byte* e) { return FindLineFeedByte(p, e); }
  static std::int64_t Units(const Byte* p, const Byte* e) { return e - p; }
  static const Byte* SkipPlain(const Byte* p, const Byte* e, bool& content) {
    for (; p < e; ++p) {
      const std::uint8_t properties = kCharTable[*p];
      if (properties & kSpecial) return p;
      if ((properties & kDecoration) == 0) {
        content = true;
        break;
      }
    }
    // Content is known: only the next special character matters now.
    return FindSpecialByte(p, e);
  }
  static bool AnyContent(const Byte* p, const Byte* e) {
    for (; p < e; ++p) {
      if ((kCharTable[*p] & kDecoration) == 0) return true;
    }
    return false;
  }
};

struct Utf8Text {
  static constexpr std::size_t kUnit = 1;
  static char16_t At(const Byte* p) { return *p; }
  static const Byte* FindLineFeed(const Byte* p, const Byte* e) { return FindLineFeedByte(p, e); }
  static std::int64_t Units(const Byte* p, const Byte* e) {
    return static_cast<std::int64_t>(Utf8UnitCount(p, e));
  }
  static const Byte* SkipPlain(const Byte* p, const Byte* e, bool& content) {
    for (; p < e; ++p) {
      const std::uint8_t properties = kUtf8Table[*p];
      if (properties & kSpecial) return p;
      if (properties & kUtf8Pair) {
        if (!IsDecorationPair(p, e)) {
          content = true;
          break;
        }
        ++p;
      } else if ((properties & kDecoration) == 0) {
        content = true;
        break;
      }
    }
    return FindSpecialByte(p, e);
  }
  static bool AnyContent(const Byte* p, const Byte* e) {
    for (; p < e; ++p) {
      const std::uint8_t properties = kUtf8Table[*p];
      if (properties & kUtf8Pair) {
        if (!IsDecorationPair(p, e)) return true;
        ++p;
      } else if ((properties & kDecoration) == 0) {
        return true;
      }
    }
    return false;
  }
};

struct Utf16Text {
  static constexpr std::size_t kUnit = 2;
  static char16_t At(const Byte* p) { return static_cast<char16_t>(p[0] | (p[1] << 8)); }
  // p and e lie on unit boundaries: a 0x0A byte is a line feed only as the low byte of a
  // unit whose high byte is 0.
  static const Byte* FindLineFeed(const Byte* p, const Byte* e) {
    for (const Byte* at = p; (at = FindLineFeedByte(at, e)) < e; ++at) {
      if ((at - p) % 2 == 0 && at + 1 < e && at[1] == 0) return at;
    }
    return e;
  }
  static std::int64_t Units(const Byte* p, const Byte* e) { return (e - p) / 2; }
  static const Byte* SkipPlain(const Byte* p, const Byte* e, bool& content) {
    return SkipPlainUnits(p, e, 2, At, content);
  }
  static bool AnyContent(const Byte* p, const Byte* e) { return AnyContentUnits(p, e, 2, At); }
};

inline void MarkContent(State& s) { (s.inBlock || s.lineComment ? s.comment : s.code) = true; }

// ClassifyLine's step at the special character ch with next after it (0 at the line's
// end): answers the characters it takes, 2 when the pair is a mark or an escaped quote.
inline std::size_t Step(State& s, char16_t ch, char16_t next) {
  if (s.inString) {
    if (ch == u'\\' && next == u'"') return 2;  // escaped quote: neither ends nor counts
    if (ch == u'"') s.inString = false;
  } else if (ch == u'"') {
    s.inString = true;
  } else if (!s.inBlock && ch == u'/' && (next == u'/' || next == u'*')) {
    (next == u'/' ? s.lineComment : s.inBlock) = true;
    return 2;
  }
  if (s.inBlock && ch == u'*' && next == u'/') {
    s.inBlock = false;
    return 2;
  }
  if (ch == u'"') MarkContent(s);
  return 1;
}

// ClassifyLine's scan over [p, e), a part of the line that neither starts nor ends with a
// blank. When e is also the end of the run but not of the line, a last '/', '*' or '\\'
// waits in carry for the character that follows it.
template <class Text>
void Scan(State& s, const Byte* p, const Byte* e, bool mayCarry) {
  constexpr std::size_t unit = Text::kUnit;
  while (p < e) {
    if (s.lineComment) {
      if (!s.code && !s.comment) s.comment = Text::AnyContent(p, e);
      return;
    }
    bool content = false;
    p = Text::SkipPlain(p, e, content);
    if (content) MarkContent(s);
    if (p == e) return;
    const char16_t ch = Text::At(p);
    if (p + unit == e) {
      if (mayCarry && ch != u'"') {
        s.carry = ch;
      } else {
        Step(s, ch, 0);
      }
      return;
    }
    p += Step(s, ch, Text::At(p + unit)) * unit;
  }
}

inline void FinishLine(State& s, LineStats& stats) {
  Bump(stats.lines);
  stats.actual.value += s.units;
  CountLine(s.code, s.comment, s.directive, s.lineComment || s.inBlock || s.openOnEntry, stats);
  const bool open = s.inBlock;
  s = State{};
  s.inBlock = open;
  s.openOnEntry = open;
}

// Takes [p, e), a part of one line: all of it, or its start when a run ends before the
// line does, or what follows the start; endsLine when the line's LF comes after e. A CR of a
// CR LF is taken as part of the line: a blank at its end, trimmed like any other.
template <class Text>
inline void AddPiece(State& s, const Byte* p, const Byte* e, bool endsLine, LineStats& stats) {
  constexpr std::size_t unit = Text::kUnit;
  if (s.carry != 0 && p < e) {
    if (Step(s, s.carry, Text::At(p)) == 2) {
      p += unit;
      ++s.units;  // no blanks are held before a carried character
    }
    s.carry = 0;
  }
  if (!s.started) {  // leading blanks are trimmed
    while (p < e && IsWideSpace(Text::At(p))) p += unit;
    if (p < e) {
      s.started = true;
      s.directive = !s.openOnEntry && Text::At(p) == u'#';
    }
  }
  if (p < e) {
    // Trailing blanks count only if something other than a blank follows them, in this
    // run or a later one: hold them until that is known.
    const Byte* last = e;
    while (last > p && IsWideSpace(Text::At(last - unit))) last -= unit;
    if (last > p) {
      if (s.blankContent) MarkContent(s);
      s.units += s.blankUnits + Text::Units(p, last);
      s.blankUnits = 0;
      s.blankContent = false;
      Scan<Text>(s, p, last, last == e && !endsLine);
    }
    s.blankUnits += static_cast<std::int64_t>((e - last) / unit);
    for (; last < e; last += unit) s.blankContent |= Text::At(last) != u' ';
  }
  if (endsLine) FinishLine(s, stats);
}

// Splits a run into lines; the part after its last LF waits for the next run.
template <class Text>
void AddRun(State& s, const Byte* p, const Byte* e, LineStats& stats) {
  if (p < e) s.open = true;
  for (;;) {
    const Byte* const lineFeed = Text::FindLineFeed(p, e);
    if (lineFeed == e) {
      AddPiece<Text>(s, p, e, false, stats);
      return;
    }
    AddPiece<Text>(s, p, lineFeed, true, stats);
    p = lineFeed + Text::kUnit;
    s.open = p < e;
  }
}

}  // namespace

void CTextClassifier::Add(const TextRun& run, LineStats& stats) {
  const Byte* const begin = run.data;
  const Byte* const end = begin + run.size;
  switch (encoding_) {
    case TextEncoding::kAnsi:
      AddRun<AnsiText>(state_, begin, end, stats);
      break;
    case TextEncoding::kUtf8:
      AddRun<Utf8Text>(state_, begin, end, stats);
      break;
    case TextEncoding::kUtf16Le:
      AddRun<Utf16Text>(state_, begin, end, stats);
      break;
  }
}

void CTextClassifier::Finish(LineStats& stats) {
  // The last line has no LF: it counts if it has any character.
  if (state_.open) FinishLine(state_, stats);
  state_ = State{};
}

void ClassifyLine(WStringView line, std::int32_t& blockState, LineStats& stats) {
  const std::size_t n = line.size();
  const bool openOnEntry = blockState != 0;
  Bump(stats.lines);
  stats.actual.value += static_cast<std::int64_t>(n);

  // A directive is a line whose first character is '#' outside a block comment; the line is
  // otherwise scanned like any other.
  const bool directive = !openOnEntry && n > 0 && line[0] == u'#';

  // Only whether a line has code or comment characters matters, not how many, so runs of
  // characters that change no state are skipped in one tight loop.
  bool code = false;
  bool comment = false;
  bool lineComment = false;
  bool inBlock = openOnEntry;
  bool inString = false;
  const char16_t* p = line.data();
  const char16_t* const e = p + n;
  while (p < e) {
    bool content = false;
    p = SkipPlain(p, e, content);
    if (content) (inBlock ? comment : code) = true;
    if (p == e) break;
    const char16_t ch = *p;
    const char16_t next = p + 1 < e ? p[1] : u'\0';
    if (inString) {
      if (ch == u'\\' && next == u'"') {  // escaped quote: neither ends the string nor counts
        p += 2;
        continue;
      }
      if (ch == u'"') inString = false;
    } else if (ch == u'"') {
      inString = true;
    } else if (!inBlock && ch == u'/' && next == u'/') {
      // Nothing after // changes the comment state, and inBlock stays clear: the rest of
      // the line only tells whether the comment holds content. (A quote there would open a
      // string, and that first quote counts, so any content character means content.)
      lineComment = true;
      if (!code && !comment) comment = AnyContent(p + 2, e);
      break;
    } else if (!inBlock && ch == u'/' && next == u'*') {
      inBlock = true;
      p += 2;
      continue;
    }
    // Quotes are recognised inside comments too, and an open string does not hide */.
    if (inBlock && ch == u'*' && next == u'/') {
      inBlock = false;
      p += 2;
      continue;
    }
    if (ch == u'"') (inBlock ? comment : code) = true;  // the one content character among them
    ++p;
  }

  CountLine(code, comment, directive, lineComment || inBlock || openOnEntry, stats);
  blockState = inBlock ? 1 : 0;
}

}  // namespace srctally
