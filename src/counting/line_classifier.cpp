// The line classifier: C-family comment, string and directive rules, one pass per line.
#include "counting/line_classifier.h"

#include <array>
#include <cstddef>

namespace srctally {
namespace {

// Character properties below U+0100; every character above is a content character.
constexpr std::uint8_t kDecoration = 0x1;  // never content: counts neither as code nor comment
constexpr std::uint8_t kSpecial = 0x2;     // may change the comment or string state: " / *

constexpr std::array<std::uint8_t, 256> MakeCharTable() {
  std::array<std::uint8_t, 256> table{};
  // The 22 decoration characters; U+00A7 and U+00B0 are compared as code points.
  constexpr char16_t decoration[] = {u' ', u'/', u'|', u'!', u'\\', u'*', u'.', u'_',
                                     u'-', u'~', u'^', u'+', u':',  u'=', u'@', u'#',
                                     u'\u00A7', u'$', u'%', u'\u00B0', u'<', u'>'};
  for (const char16_t ch : decoration) table[ch] |= kDecoration;
  table[u'"'] |= kSpecial;
  table[u'/'] |= kSpecial;
  table[u'*'] |= kSpecial;
  return table;
}
constexpr std::array<std::uint8_t, 256> kCharTable = MakeCharTable();

constexpr bool IsContent(char16_t ch) { return ch > 0xFF || (kCharTable[ch] & kDecoration) == 0; }

// Counts never stop the program: they wrap instead of overflowing into undefined behaviour.
inline void Bump(std::int32_t& count) {
  count = static_cast<std::int32_t>(static_cast<std::uint32_t>(count) + 1u);
}

struct ScanResult {
  std::uint64_t codeChars = 0;
  std::uint64_t commentChars = 0;
  bool lineComment = false;
  bool inBlock = false;
};

// The full comment and string state machine, resumed at position j with no string or line
// comment open and the counts gathered so far.
void ScanFrom(WStringView line, std::size_t j, ScanResult& scan) {
  const std::size_t n = line.size();
  bool inString = false;
  bool lineComment = false;
  bool inBlock = scan.inBlock;
  while (j < n) {
    const char16_t ch = line[j];
    const char16_t next = j + 1 < n ? line[j + 1] : u'\0';
    if (inString) {
      if (ch == u'\\' && next == u'"') {  // escaped quote: neither ends the string nor counts
        j += 2;
        continue;
      }
      if (ch == u'"') inString = false;
    } else if (ch == u'"') {
      inString = true;
    } else if (!lineComment && !inBlock && ch == u'/' && (next == u'/' || next == u'*')) {
      (next == u'/' ? lineComment : inBlock) = true;
      j += 2;
      continue;
    }
    // Quotes are recognised inside comments too, and an open string does not hide */. Once
    // a line comment has begun, inBlock stays false, so nothing closes.
    if (inBlock && ch == u'*' && next == u'/') {
      inBlock = false;
      j += 2;
      continue;
    }
    if (IsContent(ch)) {
      if (lineComment || inBlock) {
        ++scan.commentChars;
      } else {
        ++scan.codeChars;
      }
    }
    ++j;
  }
  scan.lineComment = lineComment;
  scan.inBlock = inBlock;
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

  // Fast path: count content characters until the first character that can change the
  // comment or string state; most lines of code have none, or have them late.
  std::uint64_t content = 0;
  std::size_t j = 0;
  for (; j < n; ++j) {
    const char16_t ch = line[j];
    if (ch <= 0xFF) {
      const std::uint8_t properties = kCharTable[ch];
      if (properties & kSpecial) break;
      if (properties & kDecoration) continue;
    }
    ++content;
  }
  ScanResult scan;
  scan.inBlock = openOnEntry;
  if (openOnEntry) {
    scan.commentChars = content;
  } else {
    scan.codeChars = content;
  }
  if (j < n) ScanFrom(line, j, scan);

  // Verdict, first match wins. A directive line counts as code even without a code
  // character (a lone '#', '#' and dashes, '#' and a comment): the report prints code as
  // codeLines - directiveLines, so every directive line must be among the code lines for
  // the printed rows to stay non-negative and add up to the total.
  if (scan.codeChars > 0 || directive) {
    Bump(stats.codeLines);
  } else if (scan.commentChars > 0) {
    Bump(stats.commentLines);
  } else if (scan.lineComment || scan.inBlock || openOnEntry) {
    Bump(stats.emptyCommentLines);
  } else {
    Bump(stats.emptyLines);
  }
  blockState = scan.inBlock ? 1 : 0;
}

}  // namespace srctally
