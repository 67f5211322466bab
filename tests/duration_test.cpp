// Duration text: the program's fixed pattern and the pattern language.
#include "runtime/duration.h"

#include <gtest/gtest.h>

#include "base/text.h"

namespace srctally {
namespace {

TEST(DurationTest, FixedPattern) {
  struct Row {
    std::int64_t nanoseconds;
    const char* expected;
  };
  const Row rows[] = {
      {0, "0 second(s)"},
      {999'999, "0 second(s)"},
      {12'345'678, "0.012 second(s)"},
      {1'500'000'000, "1.500 second(s)"},
      {1'999'999'999, "1.999 second(s)"},
      {61'000'000'000, "1 minute(s) 1 second(s)"},
      {61'250'000'000, "1 minute(s) 1.250 second(s)"},
      {3'600'000'000'000, "1 hour(s) 0 minute(s) 0 second(s)"},
      {7'325'000'000'000, "2 hour(s) 2 minute(s) 5 second(s)"},
      {86'400'000'000'000, "1 day(s) 0 hour(s) 0 minute(s) 0 second(s)"},
      {90'061'001'000'000, "1 day(s) 1 hour(s) 1 minute(s) 1.001 second(s)"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ToUtf8(FormatDuration(row.nanoseconds)), row.expected) << row.nanoseconds;
  }
}

TEST(DurationTest, PatternLanguage) {
  struct Row {
    const char16_t* pattern;
    std::int64_t nanoseconds;
    const char* expected;
  };
  const Row rows[] = {
      {u"hh:mm", 3'723'000'000'000, "01:02"},
      {u"ss", 5'000'000'000, "05"},
      {u"h", 90'000'000'000'000, "25"},  // the first field is not bounded
      {u"hH", 3'600'000'000'000, "01"},  // h and H are one field
      {u"s.f", 1'234'567'891, "1.2"},
      {u"s.ffffff", 1'234'567'891, "1.234567"},
      {u"s.fffffffff", 1'234'567'891, "1.234567891"},
      {u"s.ffffffffff", 1'234'567'891, "1.0234567891"},
      {u"f", 1'234'567'891, "12"},
      {u"sf", 1'234'567'891, "12"},  // adjacent fields end each other
      {u"ss", -5'000'000'000, "-5"},
      {u"''", 0, "'"},
      {u"'a''b'", 0, "ab"},
      {u"'[x]'", 0, "[x]"},
      {u"DMSF", 0, "DMSF"},
      {u"[a[b]c]", 0, ""},
      {u"x[s]", 0, "x"},
      {u"x[s]", 2'000'000'000, "x2"},
      {u"[s[m]t]", 1'000'000'000, "10t"},  // from the first non-zero section on, all kept
      {u"[m[s]t]", 1'000'000'000, "1"},    // shallower than the first non-zero: dropped
      {u"a]b", 0, "a"},                    // a stray ] ends the text
      {u"s]x", 3'000'000'000, "3"},        // after the field before it
      {u"x[s", 3'000'000'000, "3"},        // unresolved sections are discarded
      {u"'abc", 0, "abc"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ToUtf8(FormatDurationPattern(row.pattern, row.nanoseconds)), row.expected)
        << ToUtf8(row.pattern);
  }
}

TEST(DurationTest, PatternEndsAtEmbeddedNul) {
  const char16_t pattern[] = u"s\0 extra";
  EXPECT_EQ(FormatDurationPattern(WStringView(pattern, 8), 7'000'000'000), u"7");
}

}  // namespace
}  // namespace srctally
