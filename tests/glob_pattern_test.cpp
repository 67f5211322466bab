// Glob matching: wildcards, sets, escapes, folder-aware "**", case.
#include "input/glob_pattern.h"

#include <gtest/gtest.h>

namespace srctally {
namespace {

struct GlobCaseRow {
  const char16_t* pattern;
  const char16_t* text;
  bool pathName;
  bool ignoreCase;
  bool matches;
};

// Every row is checked through MatchGlob and through a compiled pattern, whose literal and
// "*literal" shortcuts must agree with the general matcher.
const GlobCaseRow kRows[] = {
    // Literals, '?' and '*'.
    {u"foo", u"foo", true, false, true},
    {u"foo", u"fo", true, false, false},
    {u"foo", u"foox", true, false, false},
    {u"", u"", true, false, true},
    {u"???", u"foo", true, false, true},
    {u"??", u"foo", true, false, false},
    {u"*", u"foo", true, false, true},
    {u"*", u"", true, false, true},
    {u"f*", u"foo", true, false, true},
    {u"*f", u"foo", true, false, false},
    {u"*foo*", u"foo", true, false, true},
    {u"*ob*a*r*", u"foobar", true, false, true},
    {u"*ab", u"aaaaaaabababab", true, false, true},
    {u"*.c", u"main.c", true, false, true},
    {u"*.c", u"main.cc", true, false, false},
    {u"*.c", u".c", true, false, true},
    {u"*.c", u"c", true, false, false},
    // Escapes.
    {u"foo\\*", u"foo*", true, false, true},
    {u"foo\\*", u"foox", true, false, false},
    {u"\\[ab]", u"[ab]", true, false, true},
    {u"f\\\\oo", u"f\\oo", true, false, true},
    {u"foo\\", u"foo\\", true, false, false},  // a lone trailing backslash matches nothing
    {u"\\?", u"?", true, false, true},
    {u"\\?", u"x", true, false, false},
    // Sets.
    {u"*[al]?", u"ball", true, false, true},
    {u"[ten]", u"ten", true, false, false},
    {u"**[!te]", u"ten", true, false, true},
    {u"**[!ten]", u"ten", true, false, false},
    {u"t[a-g]n", u"ten", true, false, true},
    {u"t[!a-g]n", u"ten", true, false, false},
    {u"t[!a-g]n", u"ton", true, false, true},
    {u"t[^a-g]n", u"ton", true, false, true},
    {u"a[]]b", u"a]b", true, false, true},
    {u"a[]-]b", u"a-b", true, false, true},
    {u"a[]-]b", u"a]b", true, false, true},
    {u"a[]-]b", u"aab", true, false, false},
    {u"a[]a-]b", u"aab", true, false, true},
    {u"[!]-]", u"]", true, false, false},
    {u"[!]-]", u"a", true, false, true},
    {u"[a-]", u"-", true, false, true},
    {u"[\\]]", u"]", true, false, true},
    {u"[\\-_]", u"-", true, false, true},
    {u"[ab", u"a", true, false, false},  // no closing ']'
    {u"[", u"[", true, false, false},
    {u"[[:digit:]]*", u"1x", true, false, true},
    {u"[[:alpha:]][[:digit:]][[:upper:]]", u"a1B", true, false, true},
    {u"[[:digit:][:upper:][:space:]]", u"a", true, false, false},
    {u"[[:digit:][:upper:][:space:]]", u"A", true, false, true},
    {u"[[:xdigit:]]", u"f", true, false, true},
    {u"[a-c[:digit:]x-z]", u"5", true, false, true},
    {u"[a-c[:digit:]x-z]", u"q", true, false, false},
    {u"[[:nope:]]", u"a", true, false, false},  // unknown class
    {u"[[:]", u"[", true, false, true},         // no ":]": '[' and ':' are members
    // Folders.
    {u"foo/*", u"foo/bar", true, false, true},
    {u"foo/*", u"foo/bar/baz", true, false, false},
    {u"*", u"foo/bar", true, false, false},
    {u"*", u"foo/bar", false, false, true},
    {u"foo?bar", u"foo/bar", true, false, false},
    {u"foo?bar", u"foo/bar", false, false, true},
    {u"foo[/]bar", u"foo/bar", true, false, false},
    {u"foo[!a]bar", u"foo/bar", true, false, false},
    {u"*/b", u"a/b", true, false, true},
    {u"*/*/c", u"a/b/c", true, false, true},
    {u"arch/*/boot", u"arch/x86/boot", true, false, true},
    {u"arch/*/boot", u"arch/x86/y/boot", true, false, false},
    {u"arch/*/boot", u"arch/boot", true, false, false},
    {u"**", u"a/b/c", true, false, true},
    {u"**/foo", u"foo", true, false, true},
    {u"**/foo", u"a/b/foo", true, false, true},
    {u"**/foo", u"afoo", true, false, false},
    {u"**/foo", u"a/xfoo", true, false, false},
    {u"foo/**", u"foo/a/b", true, false, true},
    {u"foo/**", u"foo", true, false, false},
    {u"a/**/b", u"a/b", true, false, true},
    {u"a/**/b", u"a/x/y/b", true, false, true},
    {u"a/**/b", u"a/xb", true, false, false},
    {u"a/**/b", u"ab/x/b", true, false, false},
    {u"a**b", u"a/b", true, false, false},  // not a whole component: one '*'
    {u"a**b", u"axyb", true, false, true},
    {u"**/*.c", u"x/y/z.c", true, false, true},
    {u"**/*.c", u"z.c", true, false, true},
    {u"src/**/t[o]", u"src/a/b/to", true, false, true},
    {u"*/x/*.h", u"a/x/b/c.h", true, false, false},
    // Case.
    {u"*.H", u"x.h", true, true, true},
    {u"*.H", u"x.h", true, false, false},
    {u"Main.c", u"MAIN.C", true, true, true},
    {u"[A-Z]", u"q", true, true, true},
    {u"[a-z]", u"Q", true, true, true},
    {u"[a-z]", u"Q", true, false, false},
    {u"[[:upper:]]", u"q", true, true, true},
    {u"\u00c4*", u"\u00e4x", true, true, true},
    {u"\u0416", u"\u0436", true, true, true},
    {u"\u0416", u"\u0436", true, false, false},
};

TEST(GlobPatternTest, MatchesLikeTheTable) {
  for (const GlobCaseRow& row : kRows) {
    const GlobCase matchCase{row.ignoreCase};
    SCOPED_TRACE(ToUtf8(row.pattern) + " ~ " + ToUtf8(row.text) + (row.pathName ? " path" : "") +
                 (row.ignoreCase ? " nocase" : ""));
    EXPECT_EQ(MatchGlob(row.pattern, row.text, row.pathName, matchCase), row.matches);
    EXPECT_EQ(CGlobPattern(row.pattern, matchCase).Matches(row.text, row.pathName), row.matches);
  }
}

TEST(GlobPatternTest, ManyStarsStayFast) {
  // Backtracking is bounded: a failing match over many stars must not explode.
  const WString pattern = u"*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b";
  const WString text(200, u'a');
  EXPECT_FALSE(MatchGlob(pattern, text, true, {}));
  EXPECT_FALSE(MatchGlob(u"**/**/**/**/**/**/**/x", WString(100, u'/'), true, {}));
}

TEST(GlobPatternTest, CaseFoldingPairs) {
  const struct {
    char16_t upper, lower;
  } pairs[] = {{u'A', u'a'},           {u'Z', u'z'},           {u'\u00c0', u'\u00e0'},
               {u'\u00de', u'\u00fe'}, {u'\u0100', u'\u0101'}, {u'\u0139', u'\u013a'},
               {u'\u014a', u'\u014b'}, {u'\u0178', u'\u00ff'}, {u'\u017d', u'\u017e'},
               {u'\u0391', u'\u03b1'}, {u'\u0401', u'\u0451'}, {u'\u042f', u'\u044f'}};
  for (const auto& pair : pairs) {
    EXPECT_EQ(FoldNameCase(pair.upper), pair.lower) << static_cast<int>(pair.upper);
    EXPECT_EQ(FoldNameCase(pair.lower), pair.lower) << static_cast<int>(pair.lower);
    EXPECT_EQ(UpperNameCase(pair.lower), pair.upper) << static_cast<int>(pair.lower);
  }
  for (const char16_t same : {u'\u00d7', u'\u00f7', u'\u0131', u'\u0138', u'/', u'1'}) {
    EXPECT_EQ(FoldNameCase(same), same);
    EXPECT_EQ(UpperNameCase(same), same);
  }
}

}  // namespace
}  // namespace srctally
