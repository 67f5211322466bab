// The JSON and CSV documents, fed with made-up walk events.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file_system.h"
#include "report/csv_report.h"
#include "report/json_report.h"

namespace srctally {
namespace {

// A document in memory that can be told to fail from a given write on.
class MemoryOutput final : public platform::IByteOutput {
 public:
  bool Write(std::string_view bytes) override {
    if (!failed_ && writes_++ == failAtWrite) failed_ = true;
    if (failed_) return false;
    bytes_.append(bytes);
    return true;
  }
  bool Flush() override { return !failed_; }
  bool Failed() const override { return failed_; }
  std::uint32_t FailureCode() const override { return failed_ ? 112 : 0; }

  const std::string& bytes() const { return bytes_; }
  int failAtWrite = -1;  ///< the index of the first write that fails; -1: none

 private:
  std::string bytes_;
  int writes_ = 0;
  bool failed_ = false;
};

class RecordingLines final : public IProblemLines {
 public:
  void WriteProblemLine(WStringView line) override { lines.push_back(ToUtf8(line)); }
  std::vector<std::string> lines;
};

LineStats Stats(std::int64_t code, std::int64_t directive, std::int64_t empty, std::int64_t comment,
                std::int64_t emptyComment, std::int64_t size, std::int64_t actual) {
  LineStats stats;
  stats.Reset();
  stats.codeLines = code + directive;  // the record keeps directive lines among the code lines
  stats.directiveLines = directive;
  stats.emptyLines = empty;
  stats.commentLines = comment;
  stats.emptyCommentLines = emptyComment;
  stats.lines = code + directive + empty + comment + emptyComment;
  stats.size.value = size;
  stats.actual.value = actual;
  return stats;
}

TEST(JsonStringTest, EscapesWhatRfc8259Requires) {
  const struct {
    std::string in;
    std::string out;
  } rows[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
      {std::string("\x01\x1f\x00", 3), "\"\\u0001\\u001f\\u0000\""},
      {"/\x7f\xc3\xa9", "\"/\x7f\xc3\xa9\""},  // solidus, DEL and UTF-8 stay as they are
  };
  for (const auto& row : rows) {
    std::string out;
    AppendJsonString(out, row.in);
    EXPECT_EQ(out, row.out);
  }
}

TEST(CsvFieldTest, QuotesOnlyWhenNeeded) {
  const struct {
    std::string in;
    std::string out;
  } rows[] = {
      {"a b.c", "a b.c"},   {"a,b.c", "\"a,b.c\""},     {"a\"b", "\"a\"\"b\""},
      {"a\nb", "\"a\nb\""}, {"a\rb", "\"a\rb\""},       {"", ""},
      {"\"", "\"\"\"\""},   {"tab\there", "tab\there"},
  };
  for (const auto& row : rows) {
    std::string out;
    AppendCsvField(out, row.in);
    EXPECT_EQ(out, row.out) << row.in;
  }
}

TEST(JsonReportTest, WholeDocument) {
  MemoryOutput output;
  RecordingLines lines;
  CJsonReport report(output, lines, u'/');
  const std::vector<WString> arguments = {u"src", u"/s", u"/exclude:\"a=b\"", u"--format=json"};
  report.Begin(u"/home/me/src", DocumentOrigin{u"Source Tally - Version 1.0 (build 1)", arguments,
                                               "2026-12-10T03:04:05Z"});
  report.FolderStarted(u"/");
  report.FileCounted(u"/", u"a.c", Stats(5, 2, 3, 4, 1, 120, 90));
  report.FolderFinished(u"/", 1);
  report.FolderStarted(u"/net");
  report.FileCounted(u"/net", u"b \"x\",y.h", Stats(1, 0, 0, 0, 0, 7, 6));
  report.FolderSkipped(u"/net/loop", FolderSkip::kLinkToAncestor);
  report.FolderSkipped(u"/net/again", FolderSkip::kAlreadyWalked);
  report.FolderSkipped(u"/net/out", FolderSkip::kExcluded);
  report.FolderFinished(u"/net", 1);
  EXPECT_TRUE(report.WantsMore());
  EXPECT_TRUE(report.Finish(1234567890));

  EXPECT_EQ(
      output.bytes(),
      "{\n"
      "  \"version\": \"Source Tally - Version 1.0 (build 1)\",\n"
      "  \"arguments\": [\"src\", \"/s\", \"/exclude:\\\"a=b\\\"\", \"--format=json\"],\n"
      "  \"started\": \"2026-12-10T03:04:05Z\",\n"
      "  \"source\": \"/home/me/src\",\n"
      "  \"files\": [\n"
      "    {\"path\": \"a.c\", \"language\": \"C\", \"size\": 120, \"actual\": 90, \"code\": 5,"
      " \"directive\": 2, \"empty\": 3, \"comment\": 4, \"emptyComment\": 1, \"total\": 15},\n"
      "    {\"path\": \"net/b \\\"x\\\",y.h\", \"language\": \"C/C++ Header\", \"size\": 7,"
      " \"actual\": 6, \"code\": 1, \"directive\": 0, \"empty\": 0, \"comment\": 0,"
      " \"emptyComment\": 0, \"total\": 1}\n"
      "  ],\n"
      "  \"summary\": {\"files\": 2, \"size\": 127, \"actual\": 96, \"code\": 6,"
      " \"directive\": 2, \"empty\": 3, \"comment\": 4, \"emptyComment\": 1, \"total\": 16},\n"
      "  \"languages\": [\n"
      "    {\"language\": \"C\", \"files\": 1, \"size\": 120, \"actual\": 90, \"code\": 5,"
      " \"directive\": 2, \"empty\": 3, \"comment\": 4, \"emptyComment\": 1, \"total\": 15},\n"
      "    {\"language\": \"C/C++ Header\", \"files\": 1, \"size\": 7, \"actual\": 6,"
      " \"code\": 1, \"directive\": 0, \"empty\": 0, \"comment\": 0, \"emptyComment\": 0,"
      " \"total\": 1}\n"
      "  ],\n"
      "  \"errors\": [\n"
      "    {\"kind\": \"warning\", \"path\": \"net/loop\", \"code\": \"0x00000000\","
      " \"message\": \"skipping folder link '/net/loop': it leads back to one of its parent"
      " folders.\", \"system\": \"\"}\n"
      "  ],\n"
      "  \"seconds\": 1.234567890\n"
      "}\n");
  ASSERT_EQ(lines.lines.size(), 1u);
  EXPECT_EQ(lines.lines[0],
            "WARNING: skipping folder link '/net/loop': it leads back to one of its parent "
            "folders.");
}

TEST(JsonReportTest, ALinkedIgnoreFileIsAWarning) {
  MemoryOutput output;
  RecordingLines lines;
  CJsonReport report(output, lines, u'/');
  report.Begin(u"/src", DocumentOrigin{});
  report.FolderSkipped(u"/net/.gitignore", FolderSkip::kIgnoreFileLink);
  EXPECT_TRUE(report.Finish(1));
  EXPECT_NE(output.bytes().find("{\"kind\": \"warning\", \"path\": \"net/.gitignore\", \"code\": "
                                "\"0x00000000\", \"message\": \"not reading ignore file "
                                "'/net/.gitignore': it is a symbolic link.\", \"system\": \"\"}"),
            std::string::npos)
      << output.bytes();
  ASSERT_EQ(lines.lines.size(), 1u);
  EXPECT_EQ(lines.lines[0],
            "WARNING: not reading ignore file '/net/.gitignore': it is a symbolic link.");
}

TEST(JsonReportTest, EmptyRunAndFailure) {
  MemoryOutput output;
  RecordingLines lines;
  CJsonReport report(output, lines, u'\\');
  // No arguments, and a clock that could not be read.
  report.Begin(u"C:\\src", DocumentOrigin{u"srctally", {}, ""});
  report.WalkFailed(WalkFailure::kSearchFiles, u"\\", u"\\", HResultFromWin32(5));
  EXPECT_TRUE(report.Finish(5));
  const std::string& json = output.bytes();
  EXPECT_EQ(
      json.rfind("{\n  \"version\": \"srctally\",\n  \"arguments\": [],\n  \"started\": null,\n"
                 "  \"source\": \"C:\\\\src\",\n",
                 0),
      0u)
      << json;
  EXPECT_NE(json.find("\"files\": [],\n  \"summary\": {\"files\": 0, \"size\": 0, \"actual\": 0,"
                      " \"code\": 0, \"directive\": 0, \"empty\": 0, \"comment\": 0,"
                      " \"emptyComment\": 0, \"total\": 0},\n  \"languages\": [],\n"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("{\"kind\": \"error\", \"path\": \"\", \"code\": \"0x80070005\","
                      " \"message\": \"cannot search for files in \\\\\", \"system\": \""),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"seconds\": 0.000000005\n}\n"), std::string::npos) << json;
  ASSERT_EQ(lines.lines.size(), 1u);
  EXPECT_EQ(lines.lines[0].rfind("ERROR: cannot search for files in \\", 0), 0u) << lines.lines[0];
  EXPECT_EQ(lines.lines[0].find('\n'), std::string::npos);
}

// The hexadecimal form of name as the file system stores it.
std::string StoredHex(const WString& name) {
  std::string hex;
  AppendHex(hex, platform::FileNameBytes(name));
  return hex;
}

TEST(JsonReportTest, NamesThatAreNotUtf8KeepTheirBytes) {
  MemoryOutput output;
  RecordingLines lines;
  CJsonReport report(output, lines, u'/');
  const WString source = FromUtf8Lossless("/t\xff");
  const std::vector<WString> arguments = {u"/s", FromUtf8Lossless("/t\xff"), u"x\U0001F600",
                                          WString(u"y") + char16_t{0xDC00}};
  report.Begin(source, DocumentOrigin{WString(u"v") + char16_t{0xD800}, arguments, "stamp"});
  report.FileCounted(u"/", FromUtf8Lossless("a\x80\x01.c"), Stats(1, 0, 0, 0, 0, 1, 1));
  report.FileCounted(u"/", u"\U0001F600.c", Stats(1, 0, 0, 0, 0, 1, 1));
  report.FileCounted(u"/", WString(u"d") + char16_t{0xD800} + u".c", Stats(1, 0, 0, 0, 0, 1, 1));
  report.WalkFailed(WalkFailure::kProcessFile, u"/", FromUtf8Lossless("z\xfe.c"),
                    HResultFromWin32(5));
  report.Finish(0);
  const std::string& json = output.bytes();
  // Arguments as names: U+FFFD where shown, and their stored form in a list as long, with
  // null for the arguments that need none. The version text cannot break the document.
  EXPECT_NE(
      json.find("\"version\": \"v\xef\xbf\xbd\",\n  \"arguments\": [\"/s\", \"/t\xef\xbf\xbd\", "
                "\"x\xf0\x9f\x98\x80\", \"y\xef\xbf\xbd\"],\n  \"argumentsBytes\": [null, \"" +
                StoredHex(arguments[1]) + "\", null, \"" + StoredHex(arguments[3]) +
                "\"],\n  \"started\": \"stamp\",\n"),
      std::string::npos)
      << json;
  EXPECT_NE(
      json.find("\"source\": \"/t\xef\xbf\xbd\", \"sourceBytes\": \"" + StoredHex(source) + "\""),
      std::string::npos)
      << json;
  EXPECT_NE(json.find("\"path\": \"a\xef\xbf\xbd\\u0001.c\", \"pathBytes\": \"" +
                      StoredHex(FromUtf8Lossless("a\x80\x01.c")) + "\""),
            std::string::npos)
      << json;
  // A pair of surrogates is a character like any other: no bytes field.
  EXPECT_NE(json.find("\"path\": \"\xf0\x9f\x98\x80.c\", \"language\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"path\": \"d\xef\xbf\xbd.c\", \"pathBytes\": \""), std::string::npos)
      << json;
  EXPECT_NE(json.find("\"path\": \"z\xef\xbf\xbd.c\", \"pathBytes\": \"" +
                      StoredHex(FromUtf8Lossless("z\xfe.c")) + "\""),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"message\": \"cannot process file 'z\xef\xbf\xbd.c'.\""), std::string::npos)
      << json;
}

TEST(FileNameBytesTest, GivesTheStoredForm) {
  // POSIX names are bytes, Windows names UTF-16 code units: either way the stored form of a
  // name that is not UTF-8 is kept exactly.
  const std::string posix = "6180012e63";
  const std::string windows = "610080dc01002e006300";
  const std::string hex = StoredHex(FromUtf8Lossless("a\x80\x01.c"));
  EXPECT_TRUE(hex == posix || hex == windows) << hex;
  EXPECT_EQ(hex == posix, platform::PathSeparator() == u'/');
}

TEST(JsonReportTest, StopsWantingMoreWhenTheDocumentFails) {
  MemoryOutput output;
  output.failAtWrite = 1;
  RecordingLines lines;
  CJsonReport report(output, lines, u'/');
  report.Begin(u"/s", DocumentOrigin{});
  EXPECT_TRUE(report.WantsMore());
  report.FileCounted(u"/", u"a.c", Stats(1, 0, 0, 0, 0, 1, 1));
  EXPECT_FALSE(report.WantsMore());
  EXPECT_FALSE(report.Finish(0));
}

TEST(CsvReportTest, HeaderRowsAndCrLf) {
  MemoryOutput output;
  RecordingLines lines;
  CCsvReport report(output, lines, u'/');
  report.Begin();
  report.FileCounted(u"/", u"a.c", Stats(5, 2, 3, 4, 1, 120, 90));
  report.FileCounted(u"/x,y", u"q\"uote\nd.c", Stats(1, 0, 0, 0, 0, 7, 6));
  report.FileCounted(u"/", FromUtf8Lossless("bad\xff.c"), Stats(0, 0, 0, 0, 0, 0, 0));
  report.WalkFailed(WalkFailure::kProcessFile, u"/", u"c.c", HResultFromWin32(5));
  EXPECT_TRUE(report.Finish());
  EXPECT_EQ(output.bytes(),
            "path,size,actual,code,directive,empty,comment,emptyComment,total\r\n"
            "a.c,120,90,5,2,3,4,1,15\r\n"
            "\"x,y/q\"\"uote\nd.c\",7,6,1,0,0,0,0,1\r\n"
            "bad\xef\xbf\xbd.c,0,0,0,0,0,0,0,0\r\n");
  ASSERT_EQ(lines.lines.size(), 1u);
  EXPECT_EQ(lines.lines[0].rfind("ERROR: cannot process file 'c.c'.", 0), 0u);
  EXPECT_EQ(report.totals().files, 3);
}

TEST(ProblemLineTest, OneLineWhateverTheName) {
  WalkProblem problem =
      DescribeWalkFailure(WalkFailure::kProcessFile, u"/a", u"x\ny.c", HResultFromWin32(5), u'/');
  EXPECT_EQ(ToUtf8(problem.path), "a/x\ny.c");
  const std::string line = ToUtf8(ProblemLine(problem));
  EXPECT_EQ(line.rfind("ERROR: cannot process file 'x?y.c'. ", 0), 0u) << line;
  EXPECT_EQ(line.find('\n'), std::string::npos) << line;
  EXPECT_FALSE(problem.systemText.empty());
  EXPECT_NE(line.find(ToUtf8(problem.systemText)), std::string::npos) << line;
}

}  // namespace
}  // namespace srctally
