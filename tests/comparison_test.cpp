// Matching the files of two runs by path, and the comparison's block, rows and object.
#include "report/comparison.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/byte_output.h"
#include "report/compare_report.h"
#include "testing/json_reader.h"
#include "testing/name_case.h"

namespace srctally {
namespace {

FileRecord File(const std::u16string& path, std::int64_t total, std::int64_t size = 10) {
  FileRecord record;
  record.path = path;
  record.language = LanguageOfFile(path, u'/');
  record.counts.values = {size, size, total, 0, 0, 0, 0, total};
  return record;
}

std::vector<std::pair<ChangeKind, std::u16string>> Changes(const Comparison& comparison) {
  std::vector<std::pair<ChangeKind, std::u16string>> out;
  for (const FileChange& change : comparison.changes) out.emplace_back(change.kind, change.path);
  return out;
}

using K = ChangeKind;

TEST(CompareFilesTest, AddedRemovedChangedAndUnchangedInPathOrder) {
  std::vector<FileRecord> now = {File(u"z.c", 5), File(u"b/new.c", 3), File(u"same.c", 4),
                                 File(u"size.c", 4, 11), File(u"renamed_to.java", 9)};
  std::vector<FileRecord> before = {File(u"same.c", 4), File(u"gone.h", 2), File(u"z.c", 1),
                                    File(u"size.c", 4), File(u"renamed_from.java", 9)};
  const Comparison result = CompareFiles(now, before, GlobCase());
  EXPECT_EQ(Changes(result),
            (std::vector<std::pair<ChangeKind, std::u16string>>{{K::kAdded, u"b/new.c"},
                                                                {K::kRemoved, u"gone.h"},
                                                                {K::kRemoved, u"renamed_from.java"},
                                                                {K::kAdded, u"renamed_to.java"},
                                                                {K::kChanged, u"size.c"},
                                                                {K::kChanged, u"z.c"}}));
  EXPECT_EQ(result.added, 2);
  EXPECT_EQ(result.removed, 2);
  EXPECT_EQ(result.changed, 2);
  EXPECT_EQ(result.unchanged, 1);
  // Only the size differs: still a change, with every other field 0.
  EXPECT_EQ(result.changes[4].difference.values,
            (std::array<std::int64_t, 8>{1, 1, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(result.changes[5].difference[CountField::kTotal], 4);
  EXPECT_EQ(result.changes[1].difference[CountField::kTotal], -2);  // removed: negated

  // The total is the sum of the files' rows and the difference of the sides.
  FileCounts sum;
  for (const FileChange& change : result.changes) sum.Add(change.difference);
  EXPECT_EQ(result.total.counts, sum);
  EXPECT_EQ(result.total.files, 0);
  EXPECT_EQ(result.total.counts[CountField::kTotal], (5 + 3 + 4 + 4 + 9) - (4 + 2 + 1 + 4 + 9));

  // Every language of either side: C with one file more, the header gone, Java the same.
  ASSERT_EQ(result.languages.size(), 3u);
  EXPECT_EQ(result.languages[0].language, Language::kC);
  EXPECT_EQ(result.languages[0].difference.files, 1);
  EXPECT_EQ(result.languages[0].difference.counts[CountField::kTotal],
            (5 + 3 + 4 + 4) - (4 + 1 + 4));
  EXPECT_EQ(result.languages[1].language, Language::kJava);
  EXPECT_EQ(result.languages[1].difference.files, 0);
  EXPECT_EQ(result.languages[2].language, Language::kCHeader);  // only in the baseline: last
  EXPECT_EQ(result.languages[2].difference.files, -1);
}

TEST(CompareFilesTest, EmptySides) {
  std::vector<FileRecord> none;
  std::vector<FileRecord> some = {File(u"a.c", 2), File(u"b.c", 3)};
  std::vector<FileRecord> none2;
  const Comparison nothing = CompareFiles(none, none2, GlobCase());
  EXPECT_TRUE(nothing.changes.empty());
  EXPECT_TRUE(nothing.languages.empty());
  EXPECT_EQ(nothing.total.files, 0);

  const Comparison allNew = CompareFiles(some, none, GlobCase());
  EXPECT_EQ(allNew.added, 2);
  EXPECT_EQ(allNew.total.files, 2);
  EXPECT_EQ(allNew.total.counts[CountField::kTotal], 5);

  std::vector<FileRecord> some2 = {File(u"b.c", 3), File(u"a.c", 2)};
  const Comparison allGone = CompareFiles(none, some2, GlobCase());
  EXPECT_EQ(allGone.removed, 2);
  EXPECT_EQ(allGone.total.files, -2);
  EXPECT_EQ(allGone.total.counts[CountField::kTotal], -5);
  ASSERT_EQ(allGone.languages.size(), 1u);
  EXPECT_EQ(allGone.languages[0].difference.files, -2);
}

TEST(CompareFilesTest, CaseAsThePlatformComparesNames) {
  const auto run = [](bool ignoreCase) {
    std::vector<FileRecord> now = {File(u"Src/Main.C", 2), File(u"\u00c9t\u00e9.c", 1)};
    std::vector<FileRecord> before = {File(u"src/main.c", 2), File(u"\u00e9T\u00c9.c", 1)};
    return CompareFiles(now, before, ignoreCase ? testing::TestNameCase() : GlobCase());
  };
  const Comparison folded = run(true);
  EXPECT_TRUE(folded.changes.empty());
  EXPECT_EQ(folded.unchanged, 2);
  const Comparison exact = run(false);
  EXPECT_EQ(exact.added, 2);
  EXPECT_EQ(exact.removed, 2);
}

TEST(CompareFilesTest, TwinsPairInOrder) {
  // A document may list a path twice (put together by hand, or names equal but for case):
  // each copy pairs with one on the other side, the rest are added or removed.
  std::vector<FileRecord> now = {File(u"a.c", 1), File(u"A.c", 1)};
  std::vector<FileRecord> before = {File(u"a.c", 1)};
  const Comparison result = CompareFiles(now, before, testing::TestNameCase());
  EXPECT_EQ(result.unchanged, 1);
  EXPECT_EQ(result.added, 1);
  ASSERT_EQ(result.changes.size(), 1u);
  EXPECT_EQ(result.changes[0].path, u"a.c");  // A.c sorts first and pairs with a.c
}

Comparison Sample() {
  std::vector<FileRecord> now = {File(u"new,\"q\".c", 3), File(u"a_rather_long_name.java", 4),
                                 File(u"same.c", 1)};
  std::vector<FileRecord> before = {File(u"gone.c", 2), File(u"a_rather_long_name.java", 1, 4),
                                    File(u"same.c", 1)};
  return CompareFiles(now, before, GlobCase());
}

TEST(CompareReportTest, TextBlock) {
  EXPECT_EQ(FormatComparison(Sample(), u"main.json"),
            u"\nChanges against 'main.json': 1 added, 1 removed, 1 changed, 1 unchanged file(s).\n"
            u"-------------------------------------------------------------------------------\n"
            u"                             Files           Size         Actual          Total\n"
            u"               Code      Directive          Empty        Comment  Empty comment\n"
            u"-------------------------------------------------------------------------------\n"
            u"Added files:\n"
            u"new,\"q\".c                       +1            +10            +10             +3\n"
            u"                 +3              0              0              0              0\n"
            u"Removed files:\n"
            u"gone.c                          -1            -10            -10             -2\n"
            u"                 -2              0              0              0              0\n"
            u"Changed files:\n"
            u"a_rather_long_name.java\n"
            u"                                 0             +6             +6             +3\n"
            u"                 +3              0              0              0              0\n"
            u"-------------------------------------------------------------------------------\n"
            u"Languages:\n"
            u"C                                0              0              0             +1\n"
            u"                 +1              0              0              0              0\n"
            u"Java                             0             +6             +6             +3\n"
            u"                 +3              0              0              0              0\n"
            u"-------------------------------------------------------------------------------\n"
            u"Total                            0             +6             +6             +4\n"
            u"                 +4              0              0              0              0\n"
            u"-------------------------------------------------------------------------------\n");
}

TEST(CompareReportTest, CsvQuotesNamesAndSignsDifferences) {
  EXPECT_EQ(ComparisonCsv(Sample()),
            "status,path,size,actual,code,directive,empty,comment,emptyComment,total\r\n"
            "changed,a_rather_long_name.java,6,6,3,0,0,0,0,3\r\n"
            "removed,gone.c,-10,-10,-2,0,0,0,0,-2\r\n"
            "added,\"new,\"\"q\"\".c\",10,10,3,0,0,0,0,3\r\n");
}

TEST(CompareReportTest, JsonObject) {
  std::vector<FileRecord> now = {File(u"caf\xdce9.c", 5), File(u"new.c", 1)};
  std::vector<FileRecord> before = {File(u"caf\xdce9.c", 4), File(u"old\xdcff.c", 1)};
  const Comparison comparison = CompareFiles(now, before, GlobCase());
  std::string member = "{";
  AppendComparisonJson(member, comparison, u"base \"x\".json");
  member += "}";
  std::string error;
  const std::optional<testing::JsonValue> root = testing::ParseJson(member, &error);
  ASSERT_TRUE(root.has_value()) << error << "\n" << member;
  const testing::JsonValue& compare = *root->Find("compare");
  EXPECT_EQ(compare.Find("against")->text, "base \"x\".json");
  EXPECT_EQ(compare.Find("summary")->Find("files")->Integer(), 0);
  EXPECT_EQ(compare.Find("summary")->Find("total")->Integer(), 1);
  ASSERT_EQ(compare.Find("languages")->items.size(), 1u);
  EXPECT_EQ(compare.Find("languages")->items[0].Find("language")->text, "C");
  ASSERT_EQ(compare.Find("added")->items.size(), 1u);
  EXPECT_EQ(compare.Find("added")->items[0].text, "new.c");
  ASSERT_EQ(compare.Find("removed")->items.size(), 1u);
  EXPECT_EQ(compare.Find("removed")->items[0].text, "old\xef\xbf\xbd.c");
  ASSERT_EQ(compare.Find("changed")->items.size(), 1u);
  const testing::JsonValue& changed = compare.Find("changed")->items[0];
  EXPECT_EQ(changed.Find("path")->text, "caf\xef\xbf\xbd.c");
  // The exact name beside it, as the documents' files have it.
  std::string hex;
  for (const unsigned char byte : platform::FileNameBytes(u"caf\xdce9.c")) {
    constexpr char kDigits[] = "0123456789abcdef";
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  EXPECT_EQ(changed.Find("pathBytes")->text, hex);
  EXPECT_EQ(changed.Find("total")->Integer(), 1);
  EXPECT_EQ(changed.Find("code")->Integer(), 1);

  // Nothing on either side: empty arrays, zero differences, still one valid object.
  std::vector<FileRecord> none;
  std::vector<FileRecord> none2;
  std::string empty = "{";
  AppendComparisonJson(empty, CompareFiles(none, none2, GlobCase()), u"x");
  empty += "}";
  const std::optional<testing::JsonValue> emptyRoot = testing::ParseJson(empty, &error);
  ASSERT_TRUE(emptyRoot.has_value()) << error << "\n" << empty;
  EXPECT_TRUE(emptyRoot->Find("compare")->Find("changed")->items.empty());
}

}  // namespace
}  // namespace srctally
