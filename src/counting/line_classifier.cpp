// The line classifier: C-family comment, string and directive rules, one pass per line.
#include "counting/line_classifier.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "platform/wide_space.h"

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

// Bump by 0 or 1.
// Counts of short lines, kept apart from the caller's record while a slice is classified
// so that they can stay in registers; unsigned, so that they wrap as Bump does.
struct Tally {
  std::uint64_t lines = 0, code = 0, comment = 0, emptyComment = 0, empty = 0, directive = 0;
  std::uint64_t actual = 0;

  void AddTo(LineStats& stats) const {
    const auto add = [](std::int64_t& count, std::uint64_t more) {
      count = static_cast<std::int64_t>(static_cast<std::uint64_t>(count) + more);
    };
    add(stats.lines, lines);
    add(stats.codeLines, code);
    add(stats.commentLines, comment);
    add(stats.emptyCommentLines, emptyComment);
    add(stats.emptyLines, empty);
    add(stats.directiveLines, directive);
    add(stats.actual.value, actual);
  }
};

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
// Every character that changes a comment or string state is below U+0080, and so is one
// byte in ANSI and UTF-8 and one unit in UTF-16, where no byte of a longer UTF-8 sequence
// can be mistaken for it. The rest only tells content from decoration and white space:
// - an ANSI byte by its own value (ISO 8859-1: 0xA0 is the no-break space);
// - in UTF-8 every byte from 0x80 up belongs to a content character (a decoded one, or a
//   U+FFFD), except C2 A7 and C2 B0, which are always U+00A7 and U+00B0 (C2 can only start
//   a sequence), and the white space beyond ASCII, which is decoded where it matters: at the
//   ends of a line, where it is trimmed (inside a line it is content like any other);
// - a UTF-16 unit by its value.
//
// A run is taken in slices of ScanMasks::kChars characters. One vector pass over a slice
// marks its line feeds and specials; lines are then split and scanned by jumping from bit
// to bit, looking at single characters only at a line's ends and where a mark may start.
// Slices of UTF-8 end on a sequence boundary, as runs do.

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

// The white-space table of IsWideSpace, looked up without a call.
inline bool IsSpace(const std::uint64_t* spaces, char16_t ch) {
  return ((spaces[ch / 64] >> (ch % 64)) & 1) != 0;
}

// The first set bit of bits at or after from, or to when none is before to.
inline std::size_t NextBit(const std::uint64_t* bits, std::size_t from, std::size_t to) {
  if (from >= to) return to;
  std::size_t word = from / 64;
  std::uint64_t pending = bits[word] & (~std::uint64_t{0} << (from % 64));
  while (pending == 0) {
    if (++word * 64 >= to) return to;
    pending = bits[word];
  }
  return std::min(to, word * 64 + static_cast<std::size_t>(std::countr_zero(pending)));
}

// Whether any bit of [from, to) is set.
inline bool AnyBit(const std::uint64_t* bits, std::size_t from, std::size_t to) {
  return NextBit(bits, from, to) < to;
}

// One encoding's view of stored bytes. Positions count storage units: bytes, or 16-bit
// units in UTF-16. At: the character of a unit that may be an ASCII one. SpaceAt and
// SpaceBefore: the units of a white-space character that starts at p or ends at e within
// [b, e), 0 when there is none. AnyContent: ClassifyLine's content test on the bytes.
struct AnsiText {
  static constexpr std::size_t kUnit = 1;
  static constexpr ScanUnit kScan = ScanUnit::kByte;
  static constexpr bool kMultiByte = false;
  static char16_t At(const Byte* p) { return *p; }
  static std::size_t SpaceAt(const std::uint64_t* spaces, const Byte* p, const Byte*) {
    return IsSpace(spaces, *p) ? 1 : 0;
  }
  static std::size_t SpaceBefore(const std::uint64_t* spaces, const Byte*, const Byte* e) {
    return IsSpace(spaces, e[-1]) ? 1 : 0;
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
  static constexpr ScanUnit kScan = ScanUnit::kByte;
  static constexpr bool kMultiByte = true;
  static char16_t At(const Byte* p) { return *p; }
  // A valid sequence of a character below U+10000 that is white space; only these are
  // decoded, and only at a line's ends.
  static std::size_t Utf8SpaceAt(const std::uint64_t* spaces, const Byte* p, const Byte* e) {
    char32_t code = 0;
    const std::size_t length = DecodeUtf8At(
        std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(e - p)), 0,
        code);
    return length != 0 && code <= 0xFFFF && IsSpace(spaces, static_cast<char16_t>(code)) ? length
                                                                                         : 0;
  }
  static std::size_t SpaceAt(const std::uint64_t* spaces, const Byte* p, const Byte* e) {
    if (*p < 0x80) return IsSpace(spaces, *p) ? 1 : 0;
    return Utf8SpaceAt(spaces, p, e);
  }
  static std::size_t SpaceBefore(const std::uint64_t* spaces, const Byte* b, const Byte* e) {
    if (e[-1] < 0x80) return IsSpace(spaces, e[-1]) ? 1 : 0;
    // A lead byte is never taken into an earlier sequence, so a valid sequence that starts
    // at one and ends at e is a character the decoder delivers.
    for (std::size_t length = 2; length <= 3 && e - b >= static_cast<std::ptrdiff_t>(length);
         ++length) {
      const Byte* const lead = e - length;
      if ((*lead & 0xC0) == 0xC0) return Utf8SpaceAt(spaces, lead, e) == length ? length : 0;
    }
    return 0;
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
  // Where a slice may end at or before e, from b on: not inside a sequence that may still
  // be valid. A lead takes at most three continuation bytes.
  static const Byte* SliceEnd(const Byte* b, const Byte* e) {
    for (const Byte* cut = e; cut > b && e - cut <= 3; --cut) {
      if ((*cut & 0xC0) != 0x80) return cut;
    }
    return e;
  }
};

struct Utf16Text {
  static constexpr std::size_t kUnit = 2;
  static constexpr ScanUnit kScan = ScanUnit::kUtf16;
  static constexpr bool kMultiByte = false;
  static char16_t At(const Byte* p) { return static_cast<char16_t>(p[0] | (p[1] << 8)); }
  static std::size_t SpaceAt(const std::uint64_t* spaces, const Byte* p, const Byte*) {
    return IsSpace(spaces, At(p)) ? 1 : 0;
  }
  static std::size_t SpaceBefore(const std::uint64_t* spaces, const Byte*, const Byte* e) {
    return IsSpace(spaces, At(e - 2)) ? 1 : 0;
  }
  static bool AnyContent(const Byte* p, const Byte* e) { return AnyContentUnits(p, e, 2, At); }
};

template <class Flags>
inline void MarkContent(Flags& s) {
  (s.inBlock || s.lineComment ? s.comment : s.code) = true;
}

// ClassifyLine's step at the special character ch with next after it (0 at the line's
// end): answers the characters it takes, 2 when the pair is a mark or an escaped quote.
// Flags: State, or the same flags of one line held apart.
template <class Flags>
inline std::size_t Step(Flags& s, char16_t ch, char16_t next) {
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

inline void FinishLine(State& s, LineStats& stats) {
  Bump(stats.lines);
  stats.actual.value += s.units;
  CountLine(s.code, s.comment, s.directive, s.lineComment || s.inBlock || s.openOnEntry, stats);
  const bool open = s.inBlock;
  s = State{};
  s.inBlock = open;
  s.openOnEntry = open;
}

// One slice of a run with its masks; positions are storage units from the slice's start.
template <class Text>
class Slice {
 public:
  Slice(State& s, const std::uint64_t* spaces, const Byte* base, const ScanMasks& masks)
      : s_(s), spaces_(spaces), base_(base), masks_(masks) {}

  // Splits the count units into lines; the part after the last LF waits for the next slice.
  // With shortLines, a short line that lies within the slice is taken at once (ShortLine).
  void Add(std::size_t count, bool shortLines, LineStats& stats) {
    bool fresh = !s_.open;  // no part of the first line came in an earlier slice
    if (count != 0) s_.open = true;
    Tally tally;
    for (std::size_t at = 0;;) {
      std::size_t lineFeed = shortLines && fresh ? ShortLine(at, count, tally) : count;
      if (lineFeed == count) {
        lineFeed = NextBit(masks_.lineFeeds, at, count);
        if (lineFeed == count) {
          AddPiece(at, count, false, stats);
          tally.AddTo(stats);
          return;
        }
        AddPiece(at, lineFeed, true, stats);
      }
      at = lineFeed + 1;
      s_.open = at < count;
      fresh = true;
    }
  }

 private:
  const Byte* Ptr(std::size_t at) const { return base_ + at * Text::kUnit; }
  char16_t At(std::size_t at) const { return Text::At(Ptr(at)); }

  // UTF-16 units that [from, to) decodes into.
  std::int64_t Units(std::size_t from, std::size_t to) const {
    if constexpr (Text::kMultiByte) {
      if (AnyBit(masks_.high, from, to)) {
        return static_cast<std::int64_t>(Utf8UnitCount(Ptr(from), Ptr(to)));
      }
    }
    return static_cast<std::int64_t>(to - from);
  }

  // 64 bits of mask from the character at on (bits past the slice mean nothing).
  static std::uint64_t Window(const std::uint64_t* mask, std::size_t at) {
    const std::size_t word = at / 64;
    const unsigned shift = static_cast<unsigned>(at % 64);
    return (mask[word] >> shift) | ((mask[word + 1] << 1) << (63 - shift));
  }

  // AddPiece for a line of plain ASCII that starts at at with a fresh state and whose LF
  // comes within 64 characters: answers the LF's position, or count when the line is not
  // such a line and nothing was done. The masks of the line fit in one word each, so its
  // ends, specials and LF are found with a few bit operations.
  std::size_t ShortLine(std::size_t at, std::size_t count, Tally& tally) {
    const std::uint64_t lineFeeds = Window(masks_.lineFeeds, at);
    if (lineFeeds == 0) return count;
    const unsigned length = static_cast<unsigned>(std::countr_zero(lineFeeds));
    const std::uint64_t line = (std::uint64_t{1} << length) - 1;
    if (at + length >= count || (Window(masks_.high, at) & line) != 0) return count;
    const std::uint64_t chars = ~Window(masks_.blanks, at) & line;  // not blank
    // The line's flags live in registers, not in the state: only inBlock outlives it.
    struct {
      bool inBlock, inString = false, lineComment = false, code = false, comment = false;
    } f{s_.inBlock};
    const bool openOnEntry = f.inBlock;
    bool directive = false;
    ++tally.lines;
    if (chars != 0) {
      const unsigned first = static_cast<unsigned>(std::countr_zero(chars));
      const unsigned last = 64 - static_cast<unsigned>(std::countl_zero(chars));
      directive = !openOnEntry && At(at + first) == u'#';
      tally.actual += last - first;
      std::uint64_t specials = Window(masks_.specials, at) & line;
      for (unsigned from = first;;) {
        const unsigned special =
            specials != 0 ? static_cast<unsigned>(std::countr_zero(specials)) : last;
        if (from < special) {
          bool& seen = f.inBlock ? f.comment : f.code;
          if (!seen) seen = Text::AnyContent(Ptr(at + from), Ptr(at + special));
        }
        if (special == last) break;
        from =
            special + static_cast<unsigned>(Step(
                          f, At(at + special), special + 1 < last ? At(at + special + 1) : u'\0'));
        if (f.lineComment) {
          if (!f.code && !f.comment) f.comment = Text::AnyContent(Ptr(at + from), Ptr(at + last));
          break;
        }
        specials &= ~std::uint64_t{0} << from;  // from <= last < 64
      }
    }
    // CountLine without a branch: which row a line goes to is different from line to line.
    const bool code = f.code || directive;
    const bool comment = !code && f.comment;
    const bool emptyComment = !code && !f.comment && (f.lineComment || f.inBlock || openOnEntry);
    tally.directive += directive;
    tally.code += code;
    tally.comment += comment;
    tally.emptyComment += emptyComment;
    tally.empty += !code && !comment && !emptyComment;
    s_.inBlock = f.inBlock;
    s_.openOnEntry = f.inBlock;
    return at + length;
  }

  // Takes [at, e), a part of one line: all of it, or its start when a slice ends before the
  // line does, or what follows the start; endsLine when the line's LF comes after e. A CR of
  // a CR LF is taken as part of the line: a blank at its end, trimmed like any other.
  void AddPiece(std::size_t at, std::size_t e, bool endsLine, LineStats& stats) {
    State& s = s_;
    if (s.carry != 0 && at < e) {
      if (Step(s, s.carry, At(at)) == 2) {
        ++at;
        ++s.units;  // no blanks are held before a carried character
      }
      s.carry = 0;
    }
    if (!s.started) {  // leading blanks are trimmed
      for (std::size_t blank; at < e && (blank = Text::SpaceAt(spaces_, Ptr(at), Ptr(e))) != 0;) {
        at += blank;
      }
      if (at < e) {
        s.started = true;
        s.directive = !s.openOnEntry && At(at) == u'#';
      }
    }
    if (at < e) {
      // Trailing blanks count only if something other than a blank follows them, in this
      // slice or a later one: hold them until that is known. Only the space is decoration;
      // any other blank inside a line is a content character.
      std::size_t last = e;
      std::int64_t blanks = 0;
      bool blankContent = false;
      for (std::size_t blank;
           last > at && (blank = Text::SpaceBefore(spaces_, Ptr(at), Ptr(last))) != 0;) {
        last -= blank;
        ++blanks;
        blankContent |= blank > 1 || At(last) != u' ';
      }
      if (last > at) {
        if (s.blankContent) MarkContent(s);
        s.units += s.blankUnits + Units(at, last);
        s.blankUnits = 0;
        s.blankContent = false;
        Scan(at, last, last == e && !endsLine);
      }
      s.blankUnits += blanks;
      s.blankContent |= blankContent;
    }
    if (endsLine) FinishLine(s, stats);
  }

  // ClassifyLine's scan over [at, e), a part of the line that neither starts nor ends with a
  // blank. When e is also the end of the slice but not of the line, a last '/', '*' or '\\'
  // waits in carry for the character that follows it.
  void Scan(std::size_t at, std::size_t e, bool mayCarry) {
    State& s = s_;
    while (at < e) {
      if (s.lineComment) {
        if (!s.code && !s.comment) s.comment = Text::AnyContent(Ptr(at), Ptr(e));
        return;
      }
      const std::size_t special = NextBit(masks_.specials, at, e);
      if (at < special) {
        bool& seen = s.inBlock ? s.comment : s.code;
        if (!seen) seen = Text::AnyContent(Ptr(at), Ptr(special));
      }
      if (special == e) return;
      const char16_t ch = At(special);
      if (special + 1 == e) {
        if (mayCarry && ch != u'"') {
          s.carry = ch;
        } else {
          Step(s, ch, 0);
        }
        return;
      }
      at = special + Step(s, ch, At(special + 1));
    }
  }

  State& s_;
  const std::uint64_t* spaces_;
  const Byte* base_;
  const ScanMasks& masks_;
};

// Takes a run slice by slice.
template <class Text>
void AddRun(State& s, ScanFunction scan, ScanMasks& masks, const Byte* data, std::size_t size,
            LineStats& stats) {
  const std::uint64_t* const spaces = platform::WideSpaceBits();
  const Byte* const end = data + size;
  constexpr std::size_t sliceBytes = ScanMasks::kChars * Text::kUnit;
  const bool shortLines = Text::kScan == ScanUnit::kByte && ScanBlanksExact();
  for (const Byte* p = data; p < end;) {
    const Byte* stop = end - p > static_cast<std::ptrdiff_t>(sliceBytes) ? p + sliceBytes : end;
    if constexpr (Text::kMultiByte) {
      if (stop < end) stop = Text::SliceEnd(p, stop);
    }
    const std::size_t count = static_cast<std::size_t>(stop - p) / Text::kUnit;
    scan(p, count, masks);
    Slice<Text>(s, spaces, p, masks).Add(count, shortLines, stats);
    p = stop;
  }
}

}  // namespace

CTextClassifier::CTextClassifier(TextEncoding encoding, ScanPath path)
    : encoding_(encoding),
      scan_(GetScanFunction(
          path, encoding == TextEncoding::kUtf16Le ? ScanUnit::kUtf16 : ScanUnit::kByte)) {
  if (scan_ == nullptr) {
    scan_ = GetScanFunction(
        ScanPath::kPlain, encoding == TextEncoding::kUtf16Le ? ScanUnit::kUtf16 : ScanUnit::kByte);
  }
}

void CTextClassifier::Add(const TextRun& run, LineStats& stats) {
  switch (encoding_) {
    case TextEncoding::kAnsi:
      AddRun<AnsiText>(state_, scan_, masks_, run.data, run.size, stats);
      break;
    case TextEncoding::kUtf8:
      AddRun<Utf8Text>(state_, scan_, masks_, run.data, run.size, stats);
      break;
    case TextEncoding::kUtf16Le:
      AddRun<Utf16Text>(state_, scan_, masks_, run.data, run.size, stats);
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
