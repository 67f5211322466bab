// Counting whole files from disk: sizes, terminators, blanks, failures, awkward content.
#include "counting/file_counting.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "testing/temp_dir.h"
#include "testing/wide_path.h"

namespace srctally {
namespace {

using testing::WidePath;

struct Counted {
  HResult status;
  LineStats stats;
};

Counted Count(const std::filesystem::path& path) {
  Counted counted{hr::kFail, {}};
  counted.status = CountFileLines(WidePath(path), counted.stats);
  return counted;
}

TEST(FileCountingTest, EmptyFile) {
  testing::TempDir dir;
  const Counted counted = Count(dir.Write("empty.c", ""));
  EXPECT_EQ(counted.status, hr::kFalse);
  EXPECT_EQ(counted.stats.lines, 0);
  EXPECT_EQ(counted.stats.size.value, 0);
  EXPECT_EQ(counted.stats.actual.value, 0);
}

TEST(FileCountingTest, TerminatorsAndBlanks) {
  testing::TempDir dir;
  const std::string lf = "#include <a.h>\n\n  \t \nint a; // x\n/*\n \t\n*/\n}";
  std::string crlf;
  for (const char ch : lf) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
  const Counted plain = Count(dir.Write("lf.c", lf));
  const Counted dos = Count(dir.Write("crlf.c", "\xEF\xBB\xBF" + crlf));
  for (const Counted* counted : {&plain, &dos}) {
    EXPECT_EQ(counted->status, hr::kFalse);
    EXPECT_EQ(counted->stats.lines, 8);
    EXPECT_EQ(counted->stats.codeLines, 3);
    EXPECT_EQ(counted->stats.directiveLines, 1);
    EXPECT_EQ(counted->stats.emptyLines, 2);
    EXPECT_EQ(counted->stats.emptyCommentLines, 3);
    EXPECT_EQ(counted->stats.commentLines, 0);
    EXPECT_EQ(counted->stats.actual.value, 14 + 11 + 2 + 2 + 1);
    EXPECT_EQ(counted->stats.files, 0);
  }
  EXPECT_EQ(plain.stats.size.value, static_cast<std::int64_t>(lf.size()));
  EXPECT_EQ(dos.stats.size.value, static_cast<std::int64_t>(crlf.size() + 3));
  // Single-byte text, bare line feeds, no surrounding blanks: size - actual = line feeds.
  const Counted tight = Count(dir.Write("tight.c", "a = 1;\n// b\n}\n"));
  EXPECT_EQ(tight.stats.size.value - tight.stats.actual.value, 3);
}

// The size reported is the file's size as stored, whether reading went to the end (over
// several blocks) or a Ctrl-Z ended the text early and the rest was never read.
TEST(FileCountingTest, SizeIsTheStoredSizeWhereverReadingStops) {
  testing::TempDir dir;
  const std::string block(70000, 'x');  // more than one read block
  const struct {
    const char* name;
    std::string bytes;
    std::int64_t lines;
  } rows[] = {
      {"empty.c", "", 0},
      {"blocks.c", block + "\n" + block + "\n" + block, 3},
      {"early_end.c", std::string("a\n\x1A") + "b\nc\n", 1},
      {"late_end.c", block + "\n\x1A\n" + block, 1},
      {"only_end.c", "\x1A" + block, 0},
      {"utf16.c", std::string("\xFF\xFEx\0\n\0\x1A\0y\0", 10), 1},
      {"utf16_odd.c", std::string("\xFF\xFEx\0\n\0z", 7), 1},  // the odd byte is no unit
  };
  for (const auto& row : rows) {
    const Counted counted = Count(dir.Write(row.name, row.bytes));
    EXPECT_EQ(counted.status, hr::kFalse) << row.name;
    EXPECT_EQ(counted.stats.size.value, static_cast<std::int64_t>(row.bytes.size())) << row.name;
    EXPECT_EQ(counted.stats.lines, row.lines) << row.name;
  }
}

TEST(FileCountingTest, BlockCommentsEndWithTheFile) {
  testing::TempDir dir;
  const Counted first = Count(dir.Write("a.c", "int a;\n/* open to the end\n"));
  const Counted second = Count(dir.Write("b.c", "int b;\n"));
  EXPECT_EQ(first.stats.commentLines, 1);
  EXPECT_EQ(second.stats.codeLines, 1);
  EXPECT_EQ(second.stats.commentLines, 0);
}

TEST(FileCountingTest, FailuresLeaveTheRecordUntouched) {
  testing::TempDir dir;
  for (const auto& path : {dir.path() / "missing.c", dir.MakeDir("folder.c")}) {
    LineStats stats;
    stats.lines = 42;
    EXPECT_LT(CountFileLines(WidePath(path), stats), 0) << path;
    EXPECT_EQ(stats.lines, 42);
    EXPECT_EQ(stats.size.value, 0);
  }
  LineStats stats;
  EXPECT_LT(CountFileLines(WidePath(dir.Write("be.c", std::string("\xFE\xFF\0a", 4))), stats), 0);
}

TEST(FileCountingTest, BinaryAndLongLineContent) {
  testing::TempDir dir;
  std::mt19937 random(7);
  std::string binary(1 << 20, '\0');
  for (char& byte : binary) byte = static_cast<char>(random() & 0xFF);
  binary[0] = 'x';  // no mark
  for (const std::string& start :
       {std::string(), std::string("\xEF\xBB\xBF"), std::string("\xFF\xFE")}) {
    const Counted counted = Count(dir.Write("bin.c", start + binary));
    EXPECT_EQ(counted.status, hr::kFalse);
    EXPECT_EQ(counted.stats.codeLines + counted.stats.commentLines + counted.stats.emptyLines +
                  counted.stats.emptyCommentLines,
              counted.stats.lines);
  }
  const std::string line(3 << 20, 'a');
  const Counted longLine = Count(dir.Write("long.c", line));
  EXPECT_EQ(longLine.status, hr::kFalse);
  EXPECT_EQ(longLine.stats.lines, 1);
  EXPECT_EQ(longLine.stats.actual.value, 3 << 20);
}

}  // namespace
}  // namespace srctally
