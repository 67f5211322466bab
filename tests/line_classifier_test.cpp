// Line classes and directives over short runs of lines, as one file.
#include "counting/line_classifier.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace srctally {
namespace {

// One letter per line: c code, m comment, e empty comment, _ empty; '#' after the letter
// marks a directive line. Lines are separated by blanks in the result.
std::string Classes(const std::vector<WStringView>& lines) {
  LineStats stats;
  std::int32_t blockState = 0;
  std::string result;
  for (const WStringView line : lines) {
    const LineStats before = stats;
    ClassifyLine(line, blockState, stats);
    if (!result.empty()) result += ' ';
    result += stats.codeLines > before.codeLines                   ? 'c'
              : stats.commentLines > before.commentLines           ? 'm'
              : stats.emptyCommentLines > before.emptyCommentLines ? 'e'
              : stats.emptyLines > before.emptyLines               ? '_'
                                                                   : '?';
    if (stats.directiveLines > before.directiveLines) result += '#';
  }
  EXPECT_EQ(stats.lines, static_cast<std::int32_t>(lines.size()));
  EXPECT_EQ(stats.codeLines + stats.commentLines + stats.emptyCommentLines + stats.emptyLines,
            stats.lines);
  return result;
}

struct Row {
  std::vector<WStringView> lines;
  const char* expected;
  const char* why;
};

TEST(LineClassifierTest, ClassesAndDirectives) {
  const Row rows[] = {
      {{u""}, "_", "empty line"},
      {{u"/*", u""}, "e e", "empty line inside a block comment"},
      {{u"====="}, "_", "decoration only"},
      {{u"*"}, "_", "a lone star"},
      {{u"<<<>>>"}, "_", "angle brackets are decoration"},
      {{u"/"}, "_", "a slash not starting a comment is decoration"},
      {{u"*/"}, "_", "a closing mark outside a comment is decoration"},
      {{u"}"}, "c", "braces are content"},
      {{u";"}, "c", "semicolons are content"},
      {{u"\u00A7 \u00B0 \\ | ! . _ - ~ ^ + : = @ $ %"}, "_", "the rest of the decoration set"},
      {{u"\u01A7"}, "c", "decoration is compared by code point, not by low byte"},
      {{u"\u00E9"}, "c", "letters above U+007F are content"},
      {{u"//"}, "e", "a bare line comment"},
      {{u"// ------"}, "e", "line comment of dashes"},
      {{u"//////"}, "e", "row of slashes"},
      {{u"// word"}, "m", "line comment with a word"},
      {{u"/*", u"* word", u"****", u"*/"}, "e m e e", "block comment lines"},
      {{u"/**/"}, "_", "closed empty block"},
      {{u"/* -- */"}, "_", "closed block of decoration"},
      {{u"a = 1; // note"}, "c", "code then line comment"},
      {{u"/* note */ a = 1;"}, "c", "block comment then code"},
      {{u"a = 1; /* note */"}, "c", "code then closed block"},
      {{u"a = 1; /* word", u"plain words", u"word */ b = 2;", u"x"},
       "c m c c",
       "a block opened after code and closed before code"},
      {{u"#include <x.h>"}, "c#", "directive"},
      {{u"/*", u"#include <x.h>", u"*/"}, "e m e", "no directive inside a block comment"},
      {{u"# PHP comment"}, "c#", "directive whatever the language"},
      {{u"#"}, "c#", "a lone hash is a directive and therefore code"},
      {{u"# ----"}, "c#", "hash and decoration"},
      {{u"# // note"}, "c#", "hash and a comment"},
      {{u"url = \"http://x.org\"; y"}, "c", "// inside a string opens no line comment"},
      {{u"s = \"/*\";", u"word"}, "c c", "/* inside a string opens no block"},
      {{u"s = \"a\\\"/*\";", u"word"}, "c c", "an escaped quote does not end the string"},
      {{u"s = \"a\" /* x", u"word"}, "c m", "/* after a closed string opens a block"},
      {{u"/* start", u"note \" */ /* more", u"word"},
       "m c c",
       "a quote in a comment: */ still closes, /* after it is inside the string"},
      {{u"/* start", u"note \" */ // more", u"word"}, "m c c", "the // is inside the string"},
      {{u"c = '\"'; /* x", u"word"}, "c c", "apostrophes mean nothing: the quote runs on"},
      {{u"// a /* b", u"word"}, "m c", "after // a /* opens nothing"},
      {{u"/* a /* b */ c"}, "c", "no nesting: the first */ closes"},
      {{u"/*", u"*\t*", u"*/"}, "e m e", "a tab is content"},
      {{u"/* x */ /* y", u"z */"}, "m m", "a second block on the line stays open"},
      {{u"\"\""}, "c", "quotes themselves are content"},
      {{u"/* \"\" */"}, "m", "quotes inside a comment count as comment"},
      {{u"\"unterminated", u"word"}, "c c", "strings do not span lines"},
  };
  for (const Row& row : rows) EXPECT_EQ(Classes(row.lines), row.expected) << row.why;
}

TEST(LineClassifierTest, BlockStateAndActualLength) {
  LineStats stats;
  std::int32_t blockState = 0;
  ClassifyLine(u"int a; /* open", blockState, stats);
  EXPECT_EQ(blockState, 1);
  ClassifyLine(u"#define X", blockState, stats);  // inside the block: no directive
  EXPECT_EQ(blockState, 1);
  ClassifyLine(u"*/ #x", blockState, stats);
  EXPECT_EQ(blockState, 0);
  EXPECT_EQ(stats.lines, 3);
  EXPECT_EQ(stats.directiveLines, 0);
  EXPECT_EQ(stats.codeLines, 2);
  EXPECT_EQ(stats.commentLines, 1);
  EXPECT_EQ(stats.actual.value, 14 + 9 + 5);
}

// Counts go on past 2^31 in both classifiers instead of wrapping to negative numbers.
TEST(LineClassifierTest, CountsPastThirtyTwoBits) {
  constexpr std::int64_t kStart = 2147483647;
  LineStats byLine;
  byLine.lines = byLine.emptyLines = byLine.codeLines = byLine.directiveLines = kStart;
  std::int32_t blockState = 0;
  ClassifyLine(u"", blockState, byLine);
  ClassifyLine(u"#if X", blockState, byLine);
  EXPECT_EQ(byLine.lines, kStart + 2);
  EXPECT_EQ(byLine.emptyLines, kStart + 1);
  EXPECT_EQ(byLine.codeLines, kStart + 1);
  EXPECT_EQ(byLine.directiveLines, kStart + 1);

  LineStats byRun;
  byRun.lines = byRun.emptyLines = byRun.commentLines = byRun.emptyCommentLines = kStart;
  const unsigned char text[TextRun::kPadding + 16] = "\n// a\n//\n";
  CTextClassifier classifier(TextEncoding::kAnsi);
  classifier.Add(TextRun{text, 9}, byRun);
  classifier.Finish(byRun);
  EXPECT_EQ(byRun.lines, kStart + 3);
  EXPECT_EQ(byRun.emptyLines, kStart + 1);
  EXPECT_EQ(byRun.commentLines, kStart + 1);
  EXPECT_EQ(byRun.emptyCommentLines, kStart + 1);
}

// The rules written out plainly, character by character with counts, as an oracle for the
// optimised scanner: class letter (as in Classes) and the block state after the line.
std::pair<char, std::int32_t> PlainRules(WStringView line, std::int32_t blockState) {
  const auto decoration = WStringView(u" /|!\\*._-~^+:=@#\u00A7$%\u00B0<>");
  bool inBlock = blockState != 0, lineComment = false, inString = false;
  int codeChars = 0, commentChars = 0;
  for (std::size_t j = 0; j < line.size();) {
    const char16_t ch = line[j];
    const char16_t next = j + 1 < line.size() ? line[j + 1] : u'\0';
    bool checkClose = true;
    if (inString) {
      if (ch == u'\\' && next == u'"') {
        j += 2;
        continue;
      }
      if (ch == u'"') inString = false;
    } else if (ch == u'"') {
      inString = true;
    } else if (lineComment || inBlock) {
    } else if (ch == u'/' && next == u'/') {
      lineComment = true;
      j += 2;
      continue;
    } else if (ch == u'/' && next == u'*') {
      inBlock = true;
      j += 2;
      continue;
    } else {
      checkClose = false;
    }
    if (checkClose && inBlock && ch == u'*' && next == u'/') {
      inBlock = false;
      j += 2;
      continue;
    }
    if (decoration.find(ch) == WStringView::npos)
      ++((lineComment || inBlock) ? commentChars : codeChars);
    ++j;
  }
  const bool directive = blockState == 0 && !line.empty() && line[0] == u'#';
  const char verdict = codeChars > 0 || directive                  ? 'c'
                       : commentChars > 0                          ? 'm'
                       : lineComment || inBlock || blockState != 0 ? 'e'
                                                                   : '_';
  return {verdict, inBlock ? 1 : 0};
}

TEST(LineClassifierTest, AgreesWithThePlainRulesOnRandomLines) {
  const char16_t alphabet[] = {u'a', u' ',  u'/',      u'*',      u'"',      u'\\', u'#',
                               u'-', u'\t', u'\u00E9', u'\u00A7', u'\u01A7', u';',  u'\''};
  std::mt19937 random(12345);
  LineStats stats;
  std::int32_t blockState = 0;
  std::int32_t expectedState = 0;
  for (int i = 0; i < 200000; ++i) {
    WString line(random() % 12, u' ');
    for (char16_t& ch : line) ch = alphabet[random() % std::size(alphabet)];
    const auto [verdict, nextState] = PlainRules(line, expectedState);
    const LineStats before = stats;
    ClassifyLine(line, blockState, stats);
    const char got = stats.codeLines > before.codeLines                   ? 'c'
                     : stats.commentLines > before.commentLines           ? 'm'
                     : stats.emptyCommentLines > before.emptyCommentLines ? 'e'
                                                                          : '_';
    ASSERT_EQ(got, verdict) << ToUtf8(line) << " after state " << expectedState;
    ASSERT_EQ(blockState, nextState) << ToUtf8(line);
    expectedState = nextState;
  }
}

}  // namespace
}  // namespace srctally
