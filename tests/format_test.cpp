// The type-safe formatter and the UTF conversions at the program's edges.
#include "base/format.h"

#include <gtest/gtest.h>

#include <limits>

#include "base/text.h"
#include "platform/wide_space.h"

namespace srctally {
namespace {

TEST(FormatTest, PrintfConversions) {
  EXPECT_EQ(Format(u"%d file(s) processed in %s.", 3, u"0 second(s)"),
            u"3 file(s) processed in 0 second(s).");
  EXPECT_EQ(Format(u"%*d|", 4, 12), u"  12|");
  EXPECT_EQ(Format(u"%0*I64d", 3, std::int64_t{7}), u"007");
  EXPECT_EQ(Format(u"%I64d", std::int64_t{-90061001000000}), u"-90061001000000");
  EXPECT_EQ(Format(u"%04x%04x", 0x409, 0x4b0), u"040904b0");
  EXPECT_EQ(Format(u" (0x%08X)", 0x80004005u), u" (0x80004005)");
  EXPECT_EQ(Format(u"%hu.%hu", 0x10002u, 65535u), u"2.65535");
  EXPECT_EQ(Format(u"%c\n", char16_t{u'y'}), u"y\n");
  EXPECT_EQ(Format(u"100%% %-3s|", u"a"), u"100% a  |");
  EXPECT_EQ(Format(u"_%4d-%02d-%02d", 2026, 12, 7), u"_2026-12-07");
  EXPECT_EQ(Format(u"%d", -5), u"-5");
  // The minus flag cancels zero padding: the field is filled with blanks on the right.
  EXPECT_EQ(Format(u"%-05d|", 42), u"42   |");
  EXPECT_EQ(Format(u"%0-5d|", -7), u"-7   |");
  EXPECT_EQ(Format(u"%lld file(s)", std::int64_t{3000000000}), u"3000000000 file(s)");
}

// Literal text between conversions, at either end and in long runs, comes out unchanged.
TEST(FormatTest, TextAroundConversionsIsKept) {
  const WString longText(3000, u'-');
  EXPECT_EQ(Format(longText + u"%d" + longText, 5), longText + u"5" + longText);
  EXPECT_EQ(Format(u"%s%s", u"a", u"b"), u"ab");
  EXPECT_EQ(Format(u"x%%y%%"), u"x%y%");
  EXPECT_EQ(Format(u"%d\n\n%d", 1, 2), u"1\n\n2");
  EXPECT_EQ(Format(u""), u"");
  WString out = u"kept ";
  AppendFormatV(out, u"and %s", FormatArgs());
  EXPECT_EQ(out, u"kept and ");
}

TEST(FormatTest, MissingArgumentsAreNeverRead) {
  EXPECT_EQ(Format(u"a %s b %d c"), u"a  b  c");
  EXPECT_EQ(Format(u"%s and %s", u"x"), u"x and ");
  EXPECT_EQ(Format(u"50%! off"), u"50%! off");  // no conversion: kept as text
  EXPECT_EQ(Format(u"trailing %"), u"trailing %");
  EXPECT_EQ(Format(u"%d", u"text"), u"text");
  // A width or precision beyond an int is no conversion either.
  EXPECT_EQ(Format(u"[%99999999999d]", 1), u"[%99999999999d]");
  EXPECT_EQ(Format(u"[%.2147483648s]", u"x"), u"[%.2147483648s]");
  EXPECT_EQ(Format(u"[%*d]", std::numeric_limits<int>::min(), 1), u"[%*d]");
  EXPECT_EQ(Format(u"[%.2147483647s]", u"x"), u"[x]");  // the largest int still is one
}

TEST(TextTest, Utf8RoundTripKeepsInvalidBytes) {
  const std::string valid = "caf\xC3\xA9 \xF0\x9F\x98\x80";
  EXPECT_EQ(FromUtf8Lossless(valid), u"caf\u00E9 \U0001F600");
  EXPECT_EQ(ToUtf8(FromUtf8Lossless(valid)), valid);
  const std::string invalid = "a\xFF\xC3(\xED\xA0\x80z";  // stray bytes, cut and surrogate forms
  const WString wide = FromUtf8Lossless(invalid);
  EXPECT_EQ(wide[1], char16_t{0xDCFF});
  EXPECT_EQ(ToUtf8(wide), invalid);
}

TEST(TextTest, TrimAndCaseFolding) {
  EXPECT_EQ(TrimWideSpace(u" \t\r\v\f x y \n"), u"x y");
  EXPECT_EQ(TrimWideSpace(u" \t "), u"");
  EXPECT_TRUE(EqualsIgnoreAsciiCase(u"CPP", u"cpp"));
  EXPECT_FALSE(EqualsIgnoreAsciiCase(u"\u00C4", u"\u00E4"));  // only A to Z fold
}

}  // namespace
}  // namespace srctally
