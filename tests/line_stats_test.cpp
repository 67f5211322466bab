// LineStats arithmetic, the report block as whole text, byte-size texts, per-file output.
#include "counting/line_stats.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/byte_size_text.h"
#include "counting/line_classifier.h"
#include "report/file_report.h"
#include "testing/recording_writer.h"

namespace srctally {
namespace {

LineStats Record(std::int64_t code, std::int64_t directives, std::int64_t empty,
                 std::int64_t comment, std::int64_t emptyComment) {
  LineStats stats;
  stats.codeLines = code;
  stats.directiveLines = directives;
  stats.emptyLines = empty;
  stats.commentLines = comment;
  stats.emptyCommentLines = emptyComment;
  stats.lines = code + empty + comment + emptyComment;
  return stats;
}

TEST(LineStatsTest, ReportBlockText) {
  LineStats stats = Record(6, 2, 1, 2, 1);
  stats.size.value = 1536;
  stats.actual.value = 532;
  EXPECT_EQ(FormatReport(stats),
            u" (size: 1.50 KB, actual: 532 bytes)\n"
            u"-----------------------------------------------------\n"
            u"  Number of lines of code:         4\n"
            u"  Number of directive lines:       2\n"
            u"  Number of empty lines:           1\n"
            u"  Number of comment lines:         2\n"
            u"  Number of empty comment lines:   1\n"
            u"  -------------------------------------------\n"
            u"  Total number of lines:          10\n"
            u"-----------------------------------------------\n");
  EXPECT_EQ(WString(stats.size.text), u"1.50 KB");  // the record keeps the texts it printed
}

TEST(LineStatsTest, AppendedReportFollowsWhatIsThere) {
  LineStats stats = Record(123, 4, 5, 6, 7);
  stats.size.value = 5000;
  WString text = u"name.c";
  AppendReport(text, stats);
  EXPECT_EQ(text, u"name.c" + FormatReport(stats));
  text.clear();
  AppendReport(text, stats);
  EXPECT_EQ(text, FormatReport(stats));
}

TEST(LineStatsTest, ReportOfNothing) {
  LineStats stats;
  EXPECT_EQ(FormatReport(stats),
            u" (size: 0 bytes, actual: 0 bytes)\n"
            u"-----------------------------------------------------\n"
            u"  Number of lines of code:        0\n"
            u"  Number of directive lines:      0\n"
            u"  Number of empty lines:          0\n"
            u"  Number of comment lines:        0\n"
            u"  Number of empty comment lines:  0\n"
            u"  -------------------------------------------\n"
            u"  Total number of lines:          0\n"
            u"-----------------------------------------------\n");
}

TEST(LineStatsTest, NumbersAlignToTheTotal) {
  const struct {
    std::int32_t lines;
    int width;
    const char16_t* totalRow;
  } rows[] = {
      {0, 2, u"  Total number of lines:          0\n"},
      {9, 2, u"  Total number of lines:          9\n"},
      {10, 3, u"  Total number of lines:          10\n"},
      {100, 4, u"  Total number of lines:          100\n"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(NumberWidth(row.lines), row.width) << row.lines;
    LineStats stats = Record(0, 0, row.lines, 0, 0);
    const WString block = FormatReport(stats);
    EXPECT_NE(block.find(row.totalRow), WString::npos) << row.lines;
    EXPECT_NE(block.find(u"lines of code:       " + FormatCount(0, row.width) + u"\n"),
              WString::npos);
  }
  EXPECT_EQ(NumberWidth(-5), 3);
  EXPECT_EQ(NumberWidth(2147483647), 11);
  EXPECT_EQ(FormatCount(7, 4), u"   7");
  EXPECT_EQ(FormatCount(12345, 2), u"12345");
}

// Counts beyond 2^31 are exact, and the rows widen with the total.
TEST(LineStatsTest, CountsBeyondThirtyTwoBits) {
  const struct {
    std::int64_t value;
    int width;
  } widths[] = {
      {2147483647, 11},  {2147483648, 11}, {9999999999, 11}, {10000000000, 12},
      {-2147483649, 12}, {INT64_MAX, 20},  {INT64_MIN, 21},
  };
  for (const auto& row : widths) EXPECT_EQ(NumberWidth(row.value), row.width) << row.value;
  EXPECT_EQ(FormatCount(2147483650, 11), u" 2147483650");
  EXPECT_EQ(FormatCount(INT64_MIN, 21), u" -9223372036854775808");

  // One file of 2,147,483,650 empty lines and 3,000,000,000 directive lines: width 11.
  LineStats big = Record(3000000000, 3000000000, 2147483650, 0, 0);
  const WString block = FormatReport(big);
  EXPECT_NE(block.find(u"  Number of lines of code:                 0\n"
                       u"  Number of directive lines:      3000000000\n"
                       u"  Number of empty lines:          2147483650\n"),
            WString::npos)
      << ToUtf8(block);
  EXPECT_NE(block.find(u"  Total number of lines:          5147483650\n"), WString::npos);

  // Totals of files each below 2^31 add up past it.
  LineStats totals;
  const LineStats half = Record(1500000000, 0, 500000000, 0, 0);
  for (int file = 0; file < 3; ++file) totals.AddFile(half);
  EXPECT_EQ(totals.lines, 6000000000);
  EXPECT_EQ(totals.codeLines, 4500000000);
  EXPECT_NE(FormatReport(totals).find(u"  Number of lines of code:        4500000000\n"),
            WString::npos);
}

// The record of a file of these lines (each trimmed already), as the counting gives it; each
// line is stored with a CR LF.
LineStats CountedLines(const std::vector<WStringView>& lines) {
  LineStats stats;
  std::int32_t blockState = 0;
  for (const WStringView line : lines) {
    ClassifyLine(line, blockState, stats);
    stats.size.value += static_cast<std::int64_t>(line.size()) + 2;
  }
  return stats;
}

// Totals of two files are the record of the two texts counted as one file: every row and
// both amounts of the report agree, and the totals know they hold two files.
TEST(LineStatsTest, TotalsOfFilesAreTheRecordOfTheirTextsTogether) {
  // Every count differs from the others, so a count added into the wrong one shows.
  const std::vector<WStringView> first = {u"#include <a.h>", u"int a;  // note", u"",  u"",
                                          u"/* one */",      u"// two",          u"//"};
  const std::vector<WStringView> second = {
      u"#define B 2", u"#if B", u"", u"", u"", u"", u"/*", u"three", u"four */", u"/// five"};
  std::vector<WStringView> both = first;
  both.insert(both.end(), second.begin(), second.end());

  LineStats totals;
  totals.AddFile(CountedLines(first));
  totals.AddFile(CountedLines(second));
  LineStats whole = CountedLines(both);
  EXPECT_EQ(totals.files, 2);
  EXPECT_EQ(ToUtf8(FormatReport(totals)), ToUtf8(FormatReport(whole)));

  // Reset starts the totals again from nothing, display texts included.
  totals.Reset();
  EXPECT_EQ(totals.files, 0);
  EXPECT_EQ(totals.size.text[0], u'\0');
  EXPECT_EQ(totals.actual.text[0], u'\0');
  LineStats nothing;
  EXPECT_EQ(ToUtf8(FormatReport(totals)), ToUtf8(FormatReport(nothing)));
}

TEST(ByteSizeTextTest, ShellStyleTexts) {
  const struct {
    std::int64_t value;
    const char16_t* text;
  } rows[] = {
      {0, u"0 bytes"},
      {532, u"532 bytes"},
      {1023, u"1023 bytes"},
      {1024, u"1.00 KB"},
      {1535, u"1.49 KB"},  // truncated, not rounded
      {1536, u"1.50 KB"},
      {10239, u"9.99 KB"},
      {10240, u"10.0 KB"},
      {12595, u"12.2 KB"},
      {102399, u"99.9 KB"},
      {102400, u"100 KB"},
      {1023999, u"999 KB"},
      {1024000, u"0.97 MB"},  // 1000 KB and more move to the next unit
      {1048576, u"1.00 MB"},
      {1226833, u"1.16 MB"},
      {std::int64_t{1} << 30, u"1.00 GB"},
      {std::int64_t{1} << 40, u"1.00 TB"},
      {std::int64_t{1} << 50, u"1.00 PB"},
      {std::int64_t{1} << 60, u"1.00 EB"},
      {INT64_MAX, u"7.99 EB"},
      {-1, u"-1 bytes"},
      {INT64_MIN, u"-922337203685477580"},  // cut to 19 characters
  };
  for (const auto& row : rows) {
    char16_t text[20];
    FormatShortByteSize(row.value, text);
    EXPECT_EQ(WString(text), row.text) << row.value;
  }
}

TEST(FileReportTest, VerboseBlockOrDot) {
  testing::RecordingWriter writer;
  LineStats totals;
  LineStats file = Record(1, 0, 0, 0, 0);
  ReportCountedFile(writer, true, u"100%.c", file, totals);
  EXPECT_EQ(writer.output.substr(0, 26), u"\n100%.c (size: 0 bytes, ac");
  ASSERT_EQ(writer.calls.size(), 3u);
  EXPECT_EQ(writer.calls[1].flags, msg::kKindText | msg::kLiteral);
  EXPECT_EQ(writer.calls[2].flags, msg::kKindText | msg::kLiteral);
  EXPECT_EQ(totals.files, 1);

  testing::RecordingWriter quiet;
  for (int i = 0; i < 3; ++i) ReportCountedFile(quiet, false, u"a.c", file, totals);
  EXPECT_EQ(quiet.output, u"...");
  EXPECT_EQ(totals.files, 4);
  EXPECT_EQ(totals.lines, 4);

  testing::RecordingWriter summary;
  PrintSummary(summary, totals);
  EXPECT_EQ(summary.output.substr(0, 17), u"\nSummary (size: 0");
}

}  // namespace
}  // namespace srctally
