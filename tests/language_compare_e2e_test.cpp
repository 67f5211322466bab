// Whole runs of the built program with /languages and /compare: the per-language numbers
// are the sums of the files' in every output, and a comparison against an earlier document
// and against a folder says the same.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "testing/console_platform.h"
#include "testing/json_reader.h"
#include "testing/process_runner.h"
#include "testing/temp_dir.h"

namespace srctally {
namespace {

namespace fs = std::filesystem;
using testing::JsonValue;
using testing::TempDir;

constexpr const char* kFieldNames[] = {"size",  "actual",  "code",         "directive",
                                       "empty", "comment", "emptyComment", "total"};

bool IsPosix() { return testing::kSep == '/'; }

std::string Text(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

testing::ProcessResult RunTally(std::vector<std::string> args) {
  args.insert(args.begin(), SRCTALLY_EXE);
  return testing::RunProcess(args, {{"SRCTALLY_THREADS", "1"}});
}

JsonValue ParseDocument(const std::string& text) {
  std::string error;
  std::optional<JsonValue> value = testing::ParseJson(text, &error);
  EXPECT_TRUE(value.has_value()) << error << "\n" << text;
  return value ? *value : JsonValue();
}

// files, then the eight fields, of a JSON object that has them.
std::vector<std::int64_t> Numbers(const JsonValue& object, bool withFiles = true) {
  std::vector<std::int64_t> numbers;
  if (withFiles) numbers.push_back(object.Find("files")->Integer());
  for (const char* name : kFieldNames) {
    const JsonValue* value = object.Find(name);
    EXPECT_NE(value, nullptr) << name;
    numbers.push_back(value != nullptr ? value->Integer() : -1);
  }
  return numbers;
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(separator, start)) != std::string::npos;
       start = end + separator.size()) {
    parts.push_back(text.substr(start, end - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// A grid row of the text report (two lines: a label with files, size, actual and total,
// then the five classes) as files and the eight fields in the documents' order.
std::vector<std::int64_t> GridNumbers(const std::string& first, const std::string& second) {
  const std::vector<std::string> a = Words(first);
  const std::vector<std::string> b = Words(second);
  EXPECT_GE(a.size(), 4u);
  EXPECT_EQ(b.size(), 5u);
  if (a.size() < 4 || b.size() != 5) return {};
  const auto n = [](const std::string& word) { return std::stoll(word); };
  const std::size_t at = a.size() - 4;
  return {n(a[at]), n(a[at + 1]), n(a[at + 2]), n(b[0]),     n(b[1]),
          n(b[2]),  n(b[3]),      n(b[4]),      n(a[at + 3])};
}

struct LanguageTree {
  TempDir dir;
  fs::path root = dir.path() / "tree";
  LanguageTree() {
    dir.Write("tree/a.c", "int a;\n/* x */\n\n#define Y\n");
    dir.Write("tree/b.h", "#pragma once\n//\n");
    dir.Write("tree/c.cpp", "int c;\n");
    dir.Write("tree/sub/d.java", "class D {}\n\n// d\n");
    dir.Write("tree/sub/e.js", "var e;\n");
    dir.Write("tree/sub/f.PHP5", "<?php\n?>\n");
    dir.Write("tree/sub/g.ino", "void loop() {}\n");
    dir.Write("tree/sub/h.cs", "class H {}\n");
    dir.Write("tree/sub/i.hxx", "// i\n");
    dir.Write("tree/sub/j.c", "int j;\nint k;\n");
    dir.Write("tree/sub/empty.c", "");
  }
};

TEST(LanguagesEndToEndTest, SumsOfTheFilesInTextJsonAndCsv) {
  const LanguageTree tree;
  const std::string root = Text(tree.root);
  const JsonValue document = ParseDocument(RunTally({root, "/s", "/format:json"}).stdoutBytes);

  // Each file names its language; each language sums its files; together they are the summary.
  const std::map<std::string, std::string> expected = {
      {"a.c", "C"},         {"b.h", "C/C++ Header"}, {"c.cpp", "C++"},
      {"d.java", "Java"},   {"e.js", "JavaScript"},  {"f.PHP5", "PHP"},
      {"g.ino", "Arduino"}, {"h.cs", "C#"},          {"i.hxx", "C++ Header"},
      {"j.c", "C"},         {"empty.c", "C"}};
  std::map<std::string, std::vector<std::int64_t>> sums;
  for (const JsonValue& file : document.Find("files")->items) {
    const std::string path = file.Find("path")->text;
    const std::string name = path.substr(path.find_last_of("/\\") + 1);
    const std::string language = file.Find("language")->text;
    EXPECT_EQ(language, expected.at(name)) << path;
    std::vector<std::int64_t>& sum = sums[language];
    sum.resize(9);
    ++sum[0];
    const std::vector<std::int64_t> numbers = Numbers(file, false);
    for (std::size_t i = 0; i < numbers.size(); ++i) sum[i + 1] += numbers[i];
  }
  const std::vector<JsonValue>& languages = document.Find("languages")->items;
  ASSERT_EQ(languages.size(), 9u);
  std::vector<std::int64_t> all(9);
  std::int64_t lastTotal = INT64_MAX;
  for (const JsonValue& language : languages) {
    const std::vector<std::int64_t> numbers = Numbers(language);
    EXPECT_EQ(numbers, sums[language.Find("language")->text]) << language.Find("language")->text;
    EXPECT_LE(numbers[8], lastTotal);  // the largest first
    lastTotal = numbers[8];
    for (std::size_t i = 0; i < numbers.size(); ++i) all[i] += numbers[i];
  }
  EXPECT_EQ(languages[0].Find("language")->text, "C");
  EXPECT_EQ(all, Numbers(*document.Find("summary")));

  // The CSV rows are the document's languages.
  const testing::ProcessResult csv = RunTally({root, "/s", "/format:csv", "/languages"});
  ASSERT_EQ(csv.exitCode, 0);
  const std::vector<std::string> rows = Split(csv.stdoutBytes, "\r\n");
  ASSERT_EQ(rows.size(), languages.size() + 2);  // the header, and nothing after the last CR LF
  EXPECT_EQ(rows[0], "language,files,size,actual,code,directive,empty,comment,emptyComment,total");
  for (std::size_t i = 0; i < languages.size(); ++i) {
    std::string expectedRow = languages[i].Find("language")->text;
    for (const std::int64_t number : Numbers(languages[i])) {
      expectedRow += ',';
      expectedRow += std::to_string(number);
    }
    EXPECT_EQ(rows[i + 1], expectedRow);
  }

  // The text table: the same rows, and a total row equal to the summary.
  const testing::ProcessResult text = RunTally({root, "/s", "/languages"});
  ASSERT_EQ(text.exitCode, 0);
  const std::vector<std::string> lines = Split(text.stdoutBytes, testing::kEol);
  std::size_t at = 0;
  while (at < lines.size() && lines[at] != "Languages") ++at;
  ASSERT_LT(at + 5 + 2 * languages.size() + 3, lines.size()) << text.stdoutBytes;
  at += 5;  // the title, a rule, two header lines, a rule
  for (const JsonValue& language : languages) {
    EXPECT_EQ(lines[at].rfind(language.Find("language")->text + " ", 0), 0u) << lines[at];
    EXPECT_EQ(GridNumbers(lines[at], lines[at + 1]), Numbers(language));
    at += 2;
  }
  EXPECT_EQ(lines[at + 1].rfind("Total ", 0), 0u);
  EXPECT_EQ(GridNumbers(lines[at + 1], lines[at + 2]), Numbers(*document.Find("summary")));
}

// Without the switches the report is what it always was; with /languages only the table
// comes in, after the summary and before the closing line.
TEST(LanguagesEndToEndTest, TheReportChangesOnlyByTheTable) {
  const LanguageTree tree;
  const std::string root = Text(tree.root);
  for (const char* level : {"normal", "verbose"}) {
    const testing::ProcessResult plain = RunTally({root, "/s", "/display", level});
    const testing::ProcessResult table = RunTally({root, "/s", "/languages", "/display", level});
    ASSERT_EQ(plain.exitCode, 0);
    ASSERT_EQ(table.exitCode, 0);
    const std::string eol = testing::kEol;
    const std::size_t plainEnd =
        plain.stdoutBytes.rfind(eol, plain.stdoutBytes.size() - eol.size() - 1);
    const std::size_t tableAt = table.stdoutBytes.find(eol + eol + "Languages" + eol);
    ASSERT_NE(tableAt, std::string::npos) << table.stdoutBytes;
    // Everything up to the closing line is the same, bar the settings echoed when verbose.
    std::string before = table.stdoutBytes.substr(0, tableAt);
    const std::string echo = "Counts per language shown." + eol;
    if (before.find(echo) != std::string::npos) before.erase(before.find(echo), echo.size());
    EXPECT_EQ(before + eol, plain.stdoutBytes.substr(0, plainEnd + eol.size())) << level;
    const std::string closing = table.stdoutBytes.substr(
        table.stdoutBytes.rfind(eol, table.stdoutBytes.size() - eol.size() - 1));
    EXPECT_NE(closing.find("file(s) processed in"), std::string::npos);
    EXPECT_EQ(plain.stdoutBytes.find("Languages"), std::string::npos);
  }
}

// Two versions of a tree: one file the same, one changed, one added, one removed, one
// renamed, names with commas and quotes and (on POSIX) a name that is not UTF-8.
struct TwoTrees {
  TempDir dir;
  fs::path oldRoot = dir.path() / "old";
  fs::path newRoot = dir.path() / "new";
  std::string latin1;
  TwoTrees() {
    for (const char* side : {"old", "new"}) {
      const std::string s = side;
      dir.Write(s + "/same.c", "int same;\n");
      dir.Write(s + "/gen/skipped.c", s == "old" ? "int a;\n" : "int a;\nint b;\n");
    }
    dir.Write("old/changed.java", "class C {}\n");
    dir.Write("new/changed.java", "class C {}\n// more\n\n");
    dir.Write("new/lib/added.js", "var a;\n");
    dir.Write("old/lib/gone.h", "#pragma once\n");
    dir.Write("old/before_rename.cpp", "int r;\n");
    dir.Write("new/after_rename.cpp", "int r;\n");
    dir.Write("old/a,b.c", "x;\n");
    dir.Write("new/a,b.c", "x;\ny;\n");
    dir.Write("old/only size.c", "x;\n");
    dir.Write("new/only size.c", "x; \n");  // a blank more: size changes, no count does
    if (IsPosix()) {
      dir.Write("new/q\"uote.c", "q;\n");
      latin1 = "caf\xe9.c";
      dir.Write(fs::path("old") / latin1, "c;\n");
      dir.Write(fs::path("new") / latin1, "c;\nd;\n");
    }
  }
};

// The comparison's object without the line that names the baseline.
std::string CompareMember(const std::string& document) {
  const std::size_t start = document.find("\"compare\": {");
  const std::size_t end = document.find("\"errors\":");
  EXPECT_NE(start, std::string::npos) << document;
  if (start == std::string::npos || end == std::string::npos) return {};
  std::string member = document.substr(start, end - start);
  const std::size_t against = member.find("\"against\"");
  member.erase(against, member.find('\n', against) - against);
  return member;
}

// The text block from its headline's end to the closing line.
std::string CompareBlock(const std::string& report) {
  const std::size_t start = report.find("Changes against '");
  const std::size_t end = report.rfind("file(s) processed in");
  EXPECT_NE(start, std::string::npos) << report;
  if (start == std::string::npos || end == std::string::npos) return {};
  const std::size_t headlineEnd = report.find("': ", start);
  return report.substr(headlineEnd, end - headlineEnd);
}

TEST(CompareEndToEndTest, AgainstADocumentAndAFolderTheSame) {
  const TwoTrees trees;
  const std::string oldRoot = Text(trees.oldRoot);
  const std::string newRoot = Text(trees.newRoot);
  const testing::ProcessResult old = RunTally({oldRoot, "/s", "/format:json", "/exclude:gen"});
  ASSERT_EQ(old.exitCode, 0);
  // Windows names cannot hold a quote.
  const std::string baseline = Text(
      trees.dir.Write(IsPosix() ? "main, \"x\";y=z.json" : "main, x;y=z.json", old.stdoutBytes));
  // The value is the whole text after the colon: a comma or quote in it is part of the name.
  const std::string byDocument = "/compare:" + baseline;
  const std::string byFolder = "--compare=\"" + oldRoot + "\"";

  const testing::ProcessResult json =
      RunTally({newRoot, "/s", "/format:json", "/exclude:gen", byDocument});
  ASSERT_EQ(json.exitCode, 0);
  const testing::ProcessResult jsonFolder =
      RunTally({newRoot, "/s", "/format:json", "/exclude:gen", byFolder});
  ASSERT_EQ(jsonFolder.exitCode, 0);
  EXPECT_EQ(CompareMember(json.stdoutBytes), CompareMember(jsonFolder.stdoutBytes));

  const JsonValue document = ParseDocument(json.stdoutBytes);
  const JsonValue& compare = *document.Find("compare");
  EXPECT_EQ(compare.Find("against")->text, baseline.substr(0));
  const auto texts = [](const JsonValue& array) {
    std::vector<std::string> out;
    for (const JsonValue& item : array.items) {
      out.push_back(item.kind == JsonValue::Kind::kString ? item.text : item.Find("path")->text);
    }
    return out;
  };
  const std::string sep(1, testing::kSep);
  std::vector<std::string> added = {"after_rename.cpp", "lib" + sep + "added.js"};
  if (IsPosix()) added.push_back("q\"uote.c");
  EXPECT_EQ(texts(*compare.Find("added")), added);
  EXPECT_EQ(texts(*compare.Find("removed")),
            (std::vector<std::string>{"before_rename.cpp", "lib" + sep + "gone.h"}));
  std::vector<std::string> changed = {"a,b.c"};
  if (IsPosix()) changed.push_back("caf\xef\xbf\xbd.c");
  changed.push_back("changed.java");
  changed.push_back("only size.c");
  EXPECT_EQ(texts(*compare.Find("changed")), changed);
  if (IsPosix()) {
    EXPECT_EQ(compare.Find("changed")->items[1].Find("pathBytes")->text, "636166e92e63");
  }
  const JsonValue& onlySize = compare.Find("changed")->items.back();
  EXPECT_EQ(Numbers(onlySize, false), (std::vector<std::int64_t>{1, 0, 0, 0, 0, 0, 0, 0}));

  // The summary's difference is the difference of the two documents' summaries.
  std::vector<std::int64_t> difference = Numbers(*document.Find("summary"));
  const std::vector<std::int64_t> oldSummary =
      Numbers(*ParseDocument(old.stdoutBytes).Find("summary"));
  for (std::size_t i = 0; i < difference.size(); ++i) difference[i] -= oldSummary[i];
  EXPECT_EQ(Numbers(*compare.Find("summary")), difference);

  // CSV and text: the same both ways.
  const testing::ProcessResult csv =
      RunTally({newRoot, "/s", "/format:csv", "/exclude:gen", byDocument});
  const testing::ProcessResult csvFolder =
      RunTally({newRoot, "/s", "/format:csv", "/exclude:gen", byFolder});
  ASSERT_EQ(csv.exitCode, 0);
  EXPECT_EQ(csv.stdoutBytes, csvFolder.stdoutBytes);
  EXPECT_NE(csv.stdoutBytes.find("\r\nchanged,\"a,b.c\",3,2,1,0,0,0,0,1\r\n"), std::string::npos)
      << csv.stdoutBytes;
  const testing::ProcessResult text = RunTally({newRoot, "/s", "/exclude:gen", byDocument});
  const testing::ProcessResult textFolder = RunTally({newRoot, "/s", "/exclude:gen", byFolder});
  ASSERT_EQ(text.exitCode, 0) << text.stdoutBytes;
  EXPECT_EQ(CompareBlock(text.stdoutBytes), CompareBlock(textFolder.stdoutBytes));
  EXPECT_NE(text.stdoutBytes.find("Changes against '" + baseline + "': " +
                                  (IsPosix() ? "3 added, 2 removed, 4 changed, 1 unchanged"
                                             : "2 added, 2 removed, 3 changed, 1 unchanged")),
            std::string::npos)
      << text.stdoutBytes;
}

TEST(CompareEndToEndTest, EmptyTreesOnEitherSide) {
  TempDir dir;
  const std::string empty = Text(dir.MakeDir("empty"));
  dir.Write("full/a.c", "int a;\n");
  dir.Write("full/b.cs", "class B {}\n\n");
  const std::string full = Text(dir.path() / "full");
  const auto summary = [](const testing::ProcessResult& run) {
    EXPECT_EQ(run.exitCode, 0);
    return Numbers(*ParseDocument(run.stdoutBytes).Find("compare")->Find("summary"));
  };
  EXPECT_EQ(summary(RunTally({full, "/f:j", "/compare:" + empty})),
            (std::vector<std::int64_t>{2, 19, 16, 2, 0, 1, 0, 0, 3}));
  EXPECT_EQ(summary(RunTally({empty, "/f:j", "/compare:" + full})),
            (std::vector<std::int64_t>{-2, -19, -16, -2, 0, -1, 0, 0, -3}));
  EXPECT_EQ(summary(RunTally({empty, "/f:j", "/compare:" + empty})),
            (std::vector<std::int64_t>(9, 0)));
  // An empty tree has no summary block in the report; the comparison is still there.
  const testing::ProcessResult text = RunTally({empty, "/compare:" + full});
  EXPECT_EQ(text.exitCode, 0);
  EXPECT_NE(text.stdoutBytes.find("0 added, 2 removed, 0 changed, 0 unchanged file(s)."),
            std::string::npos)
      << text.stdoutBytes;
}

TEST(CompareEndToEndTest, ABaselineThatCannotBeReadEndsTheRunFirst) {
  TempDir dir;
  dir.Write("src/a.c", "int a;\n");
  const std::string root = Text(dir.path() / "src");
  const std::string file =
      std::string("{\"path\": \"a.c\", \"size\": 7, \"actual\": 6, \"code\": 1, ") +
      "\"directive\": 0, \"empty\": 0, \"comment\": 0, \"emptyComment\": 0";
  const struct {
    std::string document;
    std::string problem;
  } rows[] = {
      {"{\"files\": [" + file + ", \"total\": 1}", "it is not JSON ("},  // truncated
      {"{\"files\": [" + file + ", \"total\": \"1\"}]}",
       "file 1 in \"files\" has a \"total\" that is not a number"},
      {"{\"files\": [" + file + ", \"total\": 123456789012345678901234567890}]}",
       "file 1 in \"files\" has a \"total\" that is not a whole number"},
      {"{\"source\": \"x\"}", "it has no \"files\" array"},
  };
  for (const auto& row : rows) {
    const std::string baseline = Text(dir.Write("base.json", row.document));
    const testing::ProcessResult text = RunTally({root, "/compare:" + baseline});
    EXPECT_EQ(text.exitCode, 1);
    EXPECT_NE(text.stdoutBytes.find("ERROR: the baseline '" + baseline +
                                    "' is not a JSON document of srctally: " + row.problem),
              std::string::npos)
        << text.stdoutBytes;
    EXPECT_EQ(text.stdoutBytes.find("Source path:"), std::string::npos);  // nothing counted
    const testing::ProcessResult json = RunTally({root, "/f:json", "/compare:" + baseline});
    EXPECT_EQ(json.exitCode, 1);
    EXPECT_EQ(json.stdoutBytes, "");  // the problem goes to standard error alone
  }
  const std::string missing = Text(dir.path() / "missing.json");
  const testing::ProcessResult absent = RunTally({root, "/compare:" + missing});
  EXPECT_EQ(absent.exitCode, 1);
  EXPECT_NE(absent.stdoutBytes.find("ERROR: the baseline '" + missing + "' does not exist."),
            std::string::npos)
      << absent.stdoutBytes;
  const testing::ProcessResult noValue = RunTally({root, "/compare"});
  EXPECT_EQ(noValue.exitCode, 1);
  EXPECT_NE(noValue.stdoutBytes.find("\t/compare"), std::string::npos) << noValue.stdoutBytes;
  const testing::ProcessResult both = RunTally({root, "/f:csv", "/languages", "/compare:" + root});
  EXPECT_EQ(both.exitCode, 1);
  EXPECT_EQ(both.stdoutBytes, "");
}

// A tree counted only up to a failure is not compared: every file after it would look
// removed.
TEST(CompareEndToEndTest, ACountThatFailsComparesNothing) {
  TempDir dir;
  dir.Write("old/a.c", "int a;\n");
  dir.Write("old/c.c", "int c;\n");
  dir.Write("new/a.c", "int a;\n");
  dir.Write("new/b.c", "\xfe\xff\x00i");  // a byte-order mark this program cannot read
  dir.Write("new/c.c", "int c;\n");
  const std::string compare = "/compare:" + Text(dir.path() / "old");
  const testing::ProcessResult json = RunTally({Text(dir.path() / "new"), "/f:json", compare});
  EXPECT_EQ(json.exitCode, 2);
  const JsonValue document = ParseDocument(json.stdoutBytes);
  EXPECT_EQ(document.Find("compare"), nullptr) << json.stdoutBytes;
  EXPECT_EQ(document.Find("files")->items.size(), 1u);
  const testing::ProcessResult csv = RunTally({Text(dir.path() / "new"), "/f:csv", compare});
  EXPECT_EQ(csv.exitCode, 2);
  EXPECT_EQ(csv.stdoutBytes, "");
  const testing::ProcessResult text = RunTally({Text(dir.path() / "new"), compare});
  EXPECT_EQ(text.exitCode, 2);
  EXPECT_EQ(text.stdoutBytes.find("Changes against"), std::string::npos);
}

// Paths match as the platform compares names: without regard to case on Windows.
TEST(CompareEndToEndTest, CaseOfNames) {
  TempDir dir;
  dir.Write("old/Sub/Main.C", "int a;\n");
  dir.Write("new/sub/main.c", "int a;\n");
  const testing::ProcessResult run =
      RunTally({Text(dir.path() / "new"), "/s", "/f:csv", "/compare:" + Text(dir.path() / "old")});
  ASSERT_EQ(run.exitCode, 0);
  const std::string header =
      "status,path,size,actual,code,directive,empty,comment,emptyComment,total\r\n";
  if (IsPosix()) {
    EXPECT_EQ(run.stdoutBytes, header + "removed,Sub/Main.C,-7,-6,-1,0,0,0,0,-1\r\n" +
                                   "added,sub/main.c,7,6,1,0,0,0,0,1\r\n");
  } else {
    EXPECT_EQ(run.stdoutBytes, header);
  }
}

}  // namespace
}  // namespace srctally
