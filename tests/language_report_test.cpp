// The language of a file, the sums per language, and the grid and table that show them.
#include "report/language_report.h"

#include <gtest/gtest.h>

#include <string>

#include "report/count_grid.h"
#include "report/language_totals.h"

namespace srctally {
namespace {

FileCounts Counts(std::int64_t size, std::int64_t code, std::int64_t empty, std::int64_t total) {
  FileCounts counts;
  counts.values = {size, size - 1, code, 0, empty, total - code - empty, 0, total};
  return counts;
}

TEST(LanguageTest, FollowsTheExtensionOfTheLastName) {
  const struct {
    std::u16string path;
    std::string language;
  } rows[] = {
      {u"a.h", "C/C++ Header"},
      {u"a.HPP", "C++ Header"},
      {u"a.hxx", "C++ Header"},
      {u"a.c", "C"},
      {u"a.Cpp", "C++"},
      {u"a.cxx", "C++"},
      {u"a.cs", "C#"},
      {u"A.java", "Java"},
      {u"a.js", "JavaScript"},
      {u"a.ino", "Arduino"},
      {u"a.pde", "Arduino"},
      {u"a.php", "PHP"},
      {u"a.php3", "PHP"},
      {u"a.PHP7", "PHP"},
      {u"a.php8", "Other"},
      {u".c", "C"},
      {u"src/net/a.b.java", "Java"},
      {u"Makefile", "Other"},
      {u"notes.txt", "Other"},
      {u"a.c ", "Other"},
      // The dot of a folder's name is no extension of the file below it.
      {u"lib.c/README", "Other"},
      {u"a.c\u0130", "Other"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(LanguageName(LanguageOfFile(row.path, u'/')), row.language)
        << std::string(row.path.begin(), row.path.end());
  }
}

TEST(LanguageTotalsTest, RowsByTotalThenNameAndOnlyLanguagesWithFiles) {
  CLanguageTotals totals;
  totals.Add(Language::kJava, Counts(10, 3, 1, 5));
  totals.Add(Language::kC, Counts(20, 4, 2, 7));
  totals.Add(Language::kCpp, Counts(30, 2, 1, 4));
  totals.Add(Language::kCpp, Counts(40, 1, 1, 3));  // C++ reaches 7 as well: C before it
  totals.Add(Language::kPhp, Counts(0, 0, 0, 0));   // an empty file still counts as a file
  const std::vector<LanguageRow> rows = totals.Rows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].language, Language::kC);
  EXPECT_EQ(rows[1].language, Language::kCpp);
  EXPECT_EQ(rows[1].group.files, 2);
  EXPECT_EQ(rows[1].group.counts, [] {
    FileCounts sum = Counts(30, 2, 1, 4);
    sum.Add(Counts(40, 1, 1, 3));
    return sum;
  }());
  EXPECT_EQ(rows[2].language, Language::kJava);
  EXPECT_EQ(rows[3].language, Language::kPhp);
  const CountedGroup all = totals.All();
  EXPECT_EQ(all.files, 5);
  EXPECT_EQ(all.counts[CountField::kTotal], 19);
  EXPECT_EQ(all.counts[CountField::kSize], 100);
}

TEST(LanguageTotalsTest, CountsOfTakeTheReportsCodeRow) {
  LineStats stats;
  stats.lines = 10;
  stats.codeLines = 6;  // two of them directives
  stats.directiveLines = 2;
  stats.emptyLines = 1;
  stats.commentLines = 2;
  stats.emptyCommentLines = 1;
  stats.size.value = 99;
  stats.actual.value = 80;
  const FileCounts counts = CountsOf(stats);
  EXPECT_EQ(counts.values, (std::array<std::int64_t, 8>{99, 80, 4, 2, 1, 2, 1, 10}));
}

// Every line of text is at most width characters.
void ExpectLinesWithin(const WString& text, std::size_t width) {
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(u'\n', start)) != WString::npos; start = end + 1) {
    EXPECT_LE(end - start, width) << std::string(text.begin() + static_cast<std::ptrdiff_t>(start),
                                                 text.begin() + static_cast<std::ptrdiff_t>(end));
  }
}

TEST(CountGridTest, ThirteenDigitsWithASignFitSeventyNineColumns) {
  FileCounts huge;
  huge.values.fill(-1000000000000);
  const WString row = FormatGridRow(u"C/C++ Header", -1000000000000, huge, NumberSign::kSigned);
  ExpectLinesWithin(row, 79);
  EXPECT_EQ(row.substr(0, 34), u"C/C++ Header        -1000000000000");
  huge.values.fill(1000000000000);
  const WString plain = FormatGridRow(u"Java", 1000000000000, huge, NumberSign::kPlain);
  ExpectLinesWithin(plain, 79);
  EXPECT_EQ(plain.substr(19, 15), u"  1000000000000");
  ExpectLinesWithin(FormatGridHeader(u"Language"), 79);
}

TEST(CountGridTest, SignsAndLongLabels) {
  FileCounts counts;
  counts.values = {5, -5, 0, 1, -1, 0, 0, 2};
  EXPECT_EQ(FormatGridRow(u"a.c", 0, counts, NumberSign::kSigned),
            u"a.c                              0             +5             -5             +2\n"
            u"                  0             +1             -1              0              0\n");
  // A label that would touch the first number stands on its own line; control characters
  // in it cannot break the grid.
  EXPECT_EQ(FormatGridRow(u"src/a_long\nname.cpp", 1, counts, NumberSign::kSigned),
            u"src/a_long?name.cpp\n"
            u"                                +1             +5             -5             +2\n"
            u"                  0             +1             -1              0              0\n");
  EXPECT_EQ(FormatGridRow(u"nineteen_chars.cpp_", 1, counts, NumberSign::kPlain).substr(0, 20),
            u"nineteen_chars.cpp_\n");
  EXPECT_EQ(FormatGridRow(u"eighteen_chars.cpp", 1, counts, NumberSign::kPlain).substr(0, 20),
            u"eighteen_chars.cpp  ");
}

TEST(LanguageReportTest, TableCsvAndJsonOfTheSameRows) {
  CLanguageTotals totals;
  totals.Add(Language::kC, Counts(120, 7, 2, 12));
  totals.Add(Language::kCHeader, Counts(30, 1, 0, 3));
  totals.Add(Language::kC, Counts(8, 1, 0, 1));
  EXPECT_EQ(FormatLanguageTable(totals.Rows(), totals.All()),
            u"\nLanguages\n"
            u"-------------------------------------------------------------------------------\n"
            u"Language                     Files           Size         Actual          Total\n"
            u"               Code      Directive          Empty        Comment  Empty comment\n"
            u"-------------------------------------------------------------------------------\n"
            u"C                                2            128            126             13\n"
            u"                  8              0              2              3              0\n"
            u"C/C++ Header                     1             30             29              3\n"
            u"                  1              0              0              2              0\n"
            u"-------------------------------------------------------------------------------\n"
            u"Total                            3            158            155             16\n"
            u"                  9              0              2              5              0\n"
            u"-------------------------------------------------------------------------------\n");
  EXPECT_EQ(LanguageCsv(totals.Rows()),
            "language,files,size,actual,code,directive,empty,comment,emptyComment,total\r\n"
            "C,2,128,126,8,0,2,3,0,13\r\n"
            "C/C++ Header,1,30,29,1,0,0,2,0,3\r\n");
  EXPECT_EQ(LanguageCsv({}),
            "language,files,size,actual,code,directive,empty,comment,emptyComment,total\r\n");
  std::string json;
  AppendLanguageObject(json, Language::kCSharp, totals.Group(Language::kC));
  EXPECT_EQ(json,
            "{\"language\": \"C#\", \"files\": 2, \"size\": 128, \"actual\": 126, \"code\": 8, "
            "\"directive\": 0, \"empty\": 2, \"comment\": 3, \"emptyComment\": 0, \"total\": 13}");
}

}  // namespace
}  // namespace srctally
