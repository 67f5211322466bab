// Reading a baseline document: what the JSON writer wrote comes back file for file, and a
// damaged or foreign document is refused with what is wrong.
#include "report/baseline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/disk.h"
#include "report/json_report.h"
#include "testing/fake_disk.h"
#include "testing/temp_dir.h"

namespace srctally {
namespace {

class CStringOutput final : public platform::IByteOutput {
 public:
  bool Write(std::string_view bytes) override {
    text += bytes;
    return true;
  }
  bool Flush() override { return true; }
  bool Failed() const override { return false; }
  std::uint32_t FailureCode() const override { return 0; }
  std::string text;
};

class CNoLines final : public IProblemLines {
 public:
  void WriteProblemLine(WStringView) override {}
};

LineStats Stats(std::int64_t lines, std::int64_t code, std::int64_t directive, std::int64_t size) {
  LineStats stats;
  stats.lines = lines;
  stats.codeLines = code;
  stats.directiveLines = directive;
  stats.commentLines = lines - code;
  stats.size.value = size;
  stats.actual.value = size / 2;
  return stats;
}

std::string ProblemOf(const std::string& document) {
  std::vector<FileRecord> files;
  std::string problem;
  EXPECT_FALSE(ParseBaselineDocument(document, u'/', files, problem)) << document;
  EXPECT_TRUE(files.empty());
  return problem;
}

constexpr const char* kFields =
    "\"size\": 1, \"actual\": 1, \"code\": 1, \"directive\": 0, \"empty\": 0, \"comment\": 0, "
    "\"emptyComment\": 0, \"total\": 1";

std::string DocumentWithFile(const std::string& members) {
  return "{\"files\": [{" + members + "}]}";
}

TEST(BaselineDocumentTest, ReadsWhatTheJsonWriterWrote) {
  CStringOutput output;
  CNoLines lines;
  CJsonReport writer(output, lines, u'/');
  writer.Begin(u"/src", DocumentOrigin{});
  writer.FileCounted(u"/", u"a.c", Stats(10, 7, 2, 300));
  writer.FileCounted(u"/net, \"x\"", u"b\xdce9.h", Stats(3, 1, 1, 40));
  writer.FileCounted(u"/", u"z.txt", Stats(0, 0, 0, 0));
  writer.WalkFailed(WalkFailure::kProcessFile, u"/", u"bad.c", -2147024891);
  ASSERT_TRUE(writer.Finish(123, "\"compare\": {\"files\": [1, 2]}"));

  std::vector<FileRecord> files;
  std::string problem;
  ASSERT_TRUE(ParseBaselineDocument(output.text, u'/', files, problem)) << problem;
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].path, u"a.c");
  EXPECT_EQ(files[0].language, Language::kC);
  EXPECT_EQ(files[0].counts, CountsOf(Stats(10, 7, 2, 300)));
  // The exact name comes back from "pathBytes", not from the U+FFFD of "path".
  EXPECT_EQ(files[1].path, u"net, \"x\"/b\xdce9.h");
  EXPECT_EQ(files[1].language, Language::kCHeader);
  EXPECT_EQ(files[1].counts, CountsOf(Stats(3, 1, 1, 40)));
  EXPECT_EQ(files[2].language, Language::kOther);
}

TEST(BaselineDocumentTest, PassesOverMembersItDoesNotUse) {
  const std::string document =
      "{\"version\": {\"files\": []}, \"files\": [{\"extra\": {\"a\": [1, {\"path\": 3}]}, "
      "\"path\": \"x.c\", \"language\": \"C\", \"note\": null, \"ok\": true, " +
      std::string(kFields) + ", \"later\": [[]]}], \"files2\": 1, \"seconds\": 1.5}";
  std::vector<FileRecord> files;
  std::string problem;
  ASSERT_TRUE(ParseBaselineDocument(document, u'/', files, problem)) << problem;
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].path, u"x.c");
  // An empty tree's document has no files, and that is no problem.
  ASSERT_TRUE(ParseBaselineDocument("{\"files\": []}", u'/', files, problem)) << problem;
  EXPECT_TRUE(files.empty());
}

TEST(BaselineDocumentTest, RefusesDamagedAndForeignDocuments) {
  const std::string file = std::string("\"path\": \"a.c\", ") + kFields;
  const std::string good = DocumentWithFile(file);
  const struct {
    std::string document;
    std::string problem;  // a part of the problem's text
  } rows[] = {
      {"", "it is not JSON ("},
      {good.substr(0, good.size() / 2), "it is not JSON ("},  // truncated
      {good + "x", "it is not JSON ("},
      {"{\"files\": [{\"path\": \"a\xff.c\"}]}", "it is not JSON ("},  // not UTF-8
      {"[1, 2]", "it is not a JSON object"},
      {"\"files\"", "it is not a JSON object"},
      {"{}", "it has no \"files\" array"},
      {"{\"summary\": {\"files\": 3}}", "it has no \"files\" array"},
      {"{\"files\": {}}", "its \"files\" is not an array"},
      {"{\"files\": 3}", "it has no \"files\" array"},
      {"{\"files\": [], \"files\": []}", "it has two \"files\" arrays"},
      {"{\"files\": [{" + file + "}, 7]}", "file 2 in \"files\" is not an object"},
      {"{\"files\": [[]]}", "file 1 in \"files\" is not an object"},
      {DocumentWithFile(kFields), "file 1 in \"files\" has no \"path\""},
      {DocumentWithFile("\"path\": \"a.c\", \"size\": 1"), "has no \"actual\""},
      {DocumentWithFile("\"path\": 5, " + std::string(kFields)), "\"path\" that is not a string"},
      {DocumentWithFile("\"path\": \"\", " + std::string(kFields)), "has an empty \"path\""},
      {DocumentWithFile(file + ", \"total\": \"1\""), "\"total\" that is not a number"},
      {DocumentWithFile(file + ", \"code\": [1]"), "\"code\" that is an array"},
      {DocumentWithFile(file + ", \"empty\": {}"), "\"empty\" that is an object"},
      {DocumentWithFile(file + ", \"size\": -1"), "\"size\" that is not a whole number"},
      {DocumentWithFile(file + ", \"size\": 1.5"), "\"size\" that is not a whole number"},
      {DocumentWithFile(file + ", \"size\": 1e3"), "\"size\" that is not a whole number"},
      {DocumentWithFile(file + ", \"size\": 9223372036854775808"), "not a whole number"},
      {DocumentWithFile(file + ", \"size\": 99999999999999999999999"), "not a whole number"},
      {DocumentWithFile(file + ", \"total\": 1e400"), "it is not JSON ("},  // out of any range
      {DocumentWithFile(file + ", \"pathBytes\": \"6g\""), "\"pathBytes\" that is not a name"},
      {DocumentWithFile(file + ", \"pathBytes\": \"616\""), "\"pathBytes\" that is not a name"},
  };
  for (const auto& row : rows) {
    const std::string problem = ProblemOf(row.document);
    EXPECT_NE(problem.find(row.problem), std::string::npos)
        << row.document << "\n  gave: " << problem;
  }
  // The largest whole number is still a count.
  std::vector<FileRecord> files;
  std::string problem;
  EXPECT_TRUE(ParseBaselineDocument(DocumentWithFile(file + ", \"size\": 9223372036854775807"),
                                    u'/', files, problem))
      << problem;
}

// From a file, read in pieces: a document larger than one piece, something else, a file
// that is not there.
TEST(BaselineDocumentTest, ReadFromAFile) {
  const testing::TempDir dir;
  std::string document = "{\"files\": [";
  constexpr int kFiles = 2000;  // about 280 KB: several reads
  for (int i = 0; i < kFiles; ++i) {
    if (i != 0) document += ",\n";
    document += "{\"path\": \"dir/file" + std::to_string(i) + ".java\", " + kFields + "}";
  }
  document += "]}";
  const auto wide = [](const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return FromUtf8Lossless(std::string(utf8.begin(), utf8.end()));
  };
  const WString good = wide(dir.Write("base.json", document));
  std::vector<FileRecord> files;
  std::string problem;
  EXPECT_EQ(ReadBaselineDocument(platform::SystemDisk(), good, u'/', files, problem), hr::kOk)
      << problem;
  ASSERT_EQ(files.size(), static_cast<std::size_t>(kFiles));
  EXPECT_EQ(files.back().path, u"dir/file1999.java");
  EXPECT_EQ(files.back().language, Language::kJava);

  const WString other = wide(dir.Write("notes.txt", std::string(300000, 'x')));
  EXPECT_EQ(ReadBaselineDocument(platform::SystemDisk(), other, u'/', files, problem), hr::kFalse);
  EXPECT_NE(problem.find("it is not JSON ("), std::string::npos) << problem;
  EXPECT_TRUE(files.empty());

  EXPECT_LT(ReadBaselineDocument(platform::SystemDisk(), good + u".missing", u'/', files, problem),
            0);
}

// A read that breaks off part-way is the failure it is, not a truncated document.
TEST(BaselineDocumentTest, AReadThatFailsIsReportedAsSuch) {
  testing::FakeDisk disk(u"/base");
  std::string document = "{\"files\": [";
  for (int i = 0; i < 1000; ++i) {
    document += std::string(i == 0 ? "" : ",") + "{\"path\": \"a.c\", " + kFields + "}";
  }
  disk.AddFile("main.json", document + "]}");
  disk.FailRead("main.json", 70000, 23);  // ERROR_CRC, after the first piece
  std::vector<FileRecord> files;
  std::string problem;
  EXPECT_EQ(ReadBaselineDocument(disk, u"/base/main.json", u'/', files, problem),
            HResultFromWin32(23));
  EXPECT_TRUE(files.empty());
  EXPECT_EQ(problem, "");
}

}  // namespace
}  // namespace srctally
