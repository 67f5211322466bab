// Glob matching: wildcards, sets, escapes, folder-aware "**", case.
#include "walk/glob_pattern.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iterator>
#include <random>
#include <string>

#include "testing/name_case.h"
#include "testing/reference_glob.h"

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
    {u"[b-g]", u"a", true, false, false},
    {u"[b-g]", u"h", true, false, false},
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
    {u"*/b", u"x/a/b", true, false, false},  // a single star holds one name only
    {u"*/*", u"x/a/b", true, false, false},
    {u"a**/b", u"ax/y/b", true, false, false},  // "**" inside a name is a '*'
    {u"a**/b", u"ax/b", true, false, true},
    {u"a/**\\/b", u"a/b", true, false, false},  // "**\/" takes at least one folder
    {u"a/**\\/b", u"a/x/y/b", true, false, true},
    {u"**/", u"a/", true, false, true},
    {u"x/**/**/y", u"x/y", true, false, true},
    {u"x/**/*/y", u"x/y", true, false, false},
    {u"x/**/*/y", u"x/a/b/y", true, false, true},
    {u"*a", u"b/a", false, false, true},
    {u"[![:nope:]]", u"a", true, false, false},  // an unknown class spoils the whole set
    {u"[a-b[:nope:]]", u"a", true, false, false},
    {u"*[", u"x[", true, false, false},
    {u"x\\", u"x", true, false, false},
    // A surrogate pair is one character.
    {u"?", u"\U0001F600", true, false, true},
    {u"??", u"\U0001F600", true, false, false},
    {u"*?", u"\U0001F600", true, false, true},
    {u"[\U0001F600]", u"\U0001F600", true, false, true},
    {u"[!\U0001F600]", u"\U0001F600", true, false, false},
    {u"[\U0001F5FF-\U0001F601]x", u"\U0001F600x", true, false, true},
    {u"*\xDE00", u"\U0001F600", true, false, false},  // not the second half of a pair
    {u"*\U0001F600", u"a\U0001F600", true, false, true},
    // Case.
    {u"*.H", u"x.h", true, true, true},
    {u"*.H", u"x.h", true, false, false},
    {u"Main.c", u"MAIN.C", true, true, true},
    {u"[A-Z]", u"q", true, true, true},
    {u"[A-Z][A-Z]", u"az", true, true, true},  // both ends of a range fold
    {u"[a-z]", u"Q", true, true, true},
    {u"[a-z]", u"Q", true, false, false},
    {u"[[:upper:]]", u"q", true, true, true},
    {u"\u00c4*", u"\u00e4x", true, true, true},
    {u"\u0416", u"\u0436", true, true, true},
    {u"\u0416", u"\u0436", true, false, false},
    {u"[\u0410-\u042f]", u"\u0436", true, true, true},
    {u"[[:lower:]]", u"Q", true, true, true},
    {u"*\u00c4", u"x\u00e4", true, true, true},
    {u"\u00c4?\u00d6", u"\u00e4\u00e9\u00f6", true, true, true},
    {u"\u00c4?\u00d7", u"\u00e4\u00e9\u00f7", true, true, false},  // no case
};

TEST(GlobPatternTest, MatchesLikeTheTable) {
  for (const GlobCaseRow& row : kRows) {
    const GlobCase matchCase = row.ignoreCase ? testing::TestNameCase() : GlobCase();
    SCOPED_TRACE(ToUtf8(row.pattern) + " ~ " + ToUtf8(row.text) + (row.pathName ? " path" : "") +
                 (row.ignoreCase ? " nocase" : ""));
    EXPECT_EQ(MatchGlob(row.pattern, row.text, row.pathName, matchCase), row.matches);
    EXPECT_EQ(CGlobPattern(row.pattern, matchCase).Matches(row.text, row.pathName), row.matches);
  }
}

struct ByteRow {
  std::string_view pattern;
  std::string_view text;
  bool ignoreCase;
  bool matches;
};

// Over bytes, as git matches its ignore rules: '?', '*' and sets take single bytes of UTF-8
// names, while literal characters compare (and fold) as characters.
TEST(GlobPatternTest, BytesMatchLikeGit) {
  const ByteRow rows[] = {
      {"?", "\xC3\xA9", false, false},  // "é" is two bytes
      {"??", "\xC3\xA9", false, true},
      {"[\xC3\xA9]", "\xC3\xA9", false, false},
      {"[\xC3\xA9][\xC3\xA9]", "\xC3\xA9", false, true},
      {"*\xA9", "\xC3\xA9", false, true},
      {"\xC3\xA9*", "\xC3\xA9x", false, true},
      {"x?y", "x\xFFy", false, true},
      {"\xC3\x89*", "\xC3\xA9x", true, true},  // "É*" folds to "é"
      {"\xC3\x89*", "\xC3\xA9x", false, false},
      {"?\xC3\x89", "a\xC3\xA9", true, true},
      {"[\xC3\x89][\x89]", "\xC3\xA9", true, false},  // the set's bytes have no case
      {"[A-Z]x", "qX", true, true},
      {"\xFF", "\xFF", true, true},
      {"\xFF", "\xFE", true, false},
  };
  for (const ByteRow& row : rows) {
    const GlobCase matchCase = row.ignoreCase ? testing::TestNameCase() : GlobCase();
    SCOPED_TRACE(std::string(row.pattern) + " ~ " + std::string(row.text));
    EXPECT_EQ(MatchGlob(row.pattern, row.text, true, matchCase), row.matches);
    EXPECT_EQ(CByteGlobPattern(row.pattern, matchCase).Matches(row.text, true), row.matches);
  }
}

// Random patterns of stars, folder stars, '?', escapes and literals against random paths,
// compared with the plain statement of what they mean, as paths and as names, in UTF-16
// and over bytes.
TEST(GlobPatternTest, AgreesWithThePlainStatement) {
  const char* const pieces[] = {"a", "b", "/", "*", "**", "**/", "/**", "?", "\\*", "\\/", "a/"};
  const char letters[] = {'a', 'b', '/', 'a', 'b'};
  std::mt19937 random(20261210);
  int matched = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string pattern;
    const int count = std::uniform_int_distribution<int>(0, 7)(random);
    for (int i = 0; i < count; ++i) {
      pattern +=
          pieces[std::uniform_int_distribution<std::size_t>(0, std::size(pieces) - 1)(random)];
    }
    std::string text;
    const int length = std::uniform_int_distribution<int>(0, 9)(random);
    for (int i = 0; i < length; ++i) {
      text +=
          letters[std::uniform_int_distribution<std::size_t>(0, std::size(letters) - 1)(random)];
    }
    const WString widePattern = FromUtf8Lossless(pattern);
    const WString wideText = FromUtf8Lossless(text);
    for (const bool pathName : {true, false}) {
      const bool expected = testing::ReferenceMatch<char>(pattern, text, pathName);
      matched += expected ? 1 : 0;
      ASSERT_EQ(MatchGlob(pattern, text, pathName, {}), expected)
          << pattern << " ~ " << text << (pathName ? " path" : "");
      ASSERT_EQ(CGlobPattern(widePattern, {}).Matches(wideText, pathName), expected)
          << pattern << " ~ " << text << (pathName ? " path" : "");
    }
  }
  EXPECT_GT(matched, 2000);  // both answers must come up often to mean anything
}

// Patterns whose every star finds its literal again and again, so that no early stop can
// help: a matcher that tries every split of the text between its stars would not finish.
TEST(GlobPatternTest, ManyStarsStayFast) {
  const auto started = std::chrono::steady_clock::now();
  WString stars;  // "*a" 31 times, then "*b"
  for (int i = 0; i < 31; ++i) stars += u"*a";
  stars += u"*b";
  WString as(999, u'a');
  EXPECT_FALSE(MatchGlob(stars, as + u"c", true, {}));
  EXPECT_FALSE(MatchGlob(stars, as + u"ba", false, {}));
  EXPECT_TRUE(MatchGlob(stars, as + u"b", true, {}));
  WString abs;
  for (int i = 0; i < 500; ++i) abs += u"ab";
  EXPECT_FALSE(
      MatchGlob(u"*a*b*a*b*a*b*a*b*a*b*a*b*a*b*a*b*a*b*a*b*a*b*a*b*a*b*a*b*a*b*c", abs, true, {}));
  EXPECT_FALSE(
      MatchGlob(u"*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?x", abs, true, {}));
  const std::string bytes(1000, 'a');
  EXPECT_FALSE(MatchGlob(ToUtf8(stars), bytes, true, {}));

  // Seven "**/" and a single star over a path of 40 folders, each holding the literal.
  WString folders;
  for (int i = 0; i < 40; ++i) folders += u"xa/";
  EXPECT_FALSE(MatchGlob(u"**/x*/**/x*/**/x*/**/x*/**/x*/**/x*/**/x*/y", folders + u"z", true, {}));
  EXPECT_TRUE(MatchGlob(u"**/x*/**/x*/**/x*/**/x*/**/x*/**/x*/**/x*/y", folders + u"y", true, {}));
  EXPECT_FALSE(MatchGlob(u"**/**/**/**/**/**/**/a/**/b", folders + u"a/c", true, {}));
  EXPECT_FALSE(MatchGlob(u"*/*/*/*/*/*/*/*/*/*/*/*/*/*/*/*/*/*/*/*/*/*/*/*/*/*/*/*/*/*/*/*/",
                         folders, true, {}));
  // A generous bound: these take well under a millisecond each.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
}

}  // namespace
}  // namespace srctally
