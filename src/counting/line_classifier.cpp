// The line classifier: C-family comment, string and directive rules, one pass per line.
#include "counting/line_classifier.h"

#include <array>
#include <cstddef>
#include <initializer_list>

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

// Counts never stop the program: they wrap instead of overflowing into undefined behaviour.
inline void Bump(std::int32_t& count) {
  count = static_cast<std::int32_t>(static_cast<std::uint32_t>(count) + 1u);
}

// Skips characters that cannot change any state, from p up to the next special character
// or e; sets content when one of them is a content character.
inline const char16_t* SkipPlain(const char16_t* p, const char16_t* e, bool& content) {
  for (; p < e; ++p) {
    const char16_t ch = *p;
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

// Whether [p, e) holds any content character.
inline bool AnyContent(const char16_t* p, const char16_t* e) {
  for (; p < e; ++p) {
    if (*p > 0xFF || (kCharTable[*p] & kDecoration) == 0) return true;
  }
  return false;
}

}  // namespace

void ClassifyLine(WStringView line, std::int32_t& blockState, LineStats& stats) {
  const std::size_t n = line.size();
  const bool openOnEntry = blockState != 0;
  Bump(stats.lines);
  stats.actual.value += static_cast<std::int64_t>(n);

  // A directive is a line whose first character is '#' outside a block comment; the line is
  // otherwise scanned like any other.
  const bool directive = !openOnEntry && n > 0 && line[0] == u'#';
  if (directive) Bump(stats.directiveLines);

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

  // Verdict, first match wins. A directive line counts as code even without a code
  // character (a lone '#', '#' and dashes, '#' and a comment): the report prints code as
  // codeLines - directiveLines, so every directive line must be among the code lines for
  // the printed rows to stay non-negative and add up to the total.
  if (code || directive) {
    Bump(stats.codeLines);
  } else if (comment) {
    Bump(stats.commentLines);
  } else if (lineComment || inBlock || openOnEntry) {
    Bump(stats.emptyCommentLines);
  } else {
    Bump(stats.emptyLines);
  }
  blockState = inBlock ? 1 : 0;
}

}  // namespace srctally
