// Whole runs of the built program with /format json and csv: the documents parse, and they
// hold the same numbers as the text report, file by file and in the summary, on a tree of
// awkward names, with one counting thread and with several.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/text.h"
#include "testing/console_platform.h"
#include "testing/json_reader.h"
#include "testing/process_runner.h"
#include "testing/temp_dir.h"

namespace srctally {
namespace {

namespace fs = std::filesystem;
using testing::JsonValue;
using testing::kSep;
using testing::TempDir;

bool IsPosix() { return kSep == '/'; }

// size, actual, code, directive, empty, comment, emptyComment, total
using Counts = std::array<std::int64_t, 8>;

struct FileRow {
  std::string path;  // below the source path, as the file system names it
  Counts counts;
};

struct Document {
  std::vector<FileRow> files;
  Counts summary{};
  std::int64_t fileCount = 0;
};

std::string Text(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

testing::ProcessResult RunTally(std::vector<std::string> args,
                                const std::map<std::string, std::string>& env = {}) {
  args.insert(args.begin(), SRCTALLY_EXE);
  return testing::RunProcess(args, env);
}

std::vector<std::string> Lines(const std::string& text, const std::string& eol) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(eol, start)) != std::string::npos;
       start = end + eol.size()) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::int64_t Number(const std::string& text) { return std::stoll(text); }

// The number at the end of a report row such as "  Number of empty lines:     3".
std::int64_t RowNumber(const std::string& line) { return Number(line.substr(line.rfind(' ') + 1)); }

// Reads the verbose text report: each block's name line "name (size: N bytes, actual: M
// bytes)", joined to the folder of the last "Browsing folder" line, and the summary.
Document ParseReport(const std::string& output) {
  Document doc;
  const std::vector<std::string> lines = Lines(output, testing::kEol);
  std::string folder;
  const std::string browsing = "Browsing folder '";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.rfind(browsing, 0) == 0) {
      folder = line.substr(browsing.size(), line.size() - browsing.size() - 4);
      continue;
    }
    const std::size_t sizeAt = line.rfind(" (size: ");
    if (sizeAt == std::string::npos || i + 9 >= lines.size()) continue;
    const std::string name = line.substr(0, sizeAt);
    const std::string amounts = line.substr(sizeAt + 8);  // "N bytes, actual: M bytes)"
    Counts counts{};
    counts[0] = Number(amounts);
    counts[1] = Number(amounts.substr(amounts.find("actual: ") + 8));
    for (int row = 0; row < 5; ++row) counts[2 + row] = RowNumber(lines[i + 2 + row]);
    counts[7] = RowNumber(lines[i + 8]);
    if (name == "Summary") {
      doc.summary = counts;
      continue;
    }
    std::string path = folder.substr(1);
    if (!path.empty()) path += kSep;
    doc.files.push_back({path + name, counts});
  }
  return doc;
}

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

Counts JsonCounts(const JsonValue& object) {
  Counts counts{};
  const char* names[] = {"size",  "actual",  "code",         "directive",
                         "empty", "comment", "emptyComment", "total"};
  for (std::size_t i = 0; i < counts.size(); ++i) {
    const JsonValue* value = object.Find(names[i]);
    EXPECT_NE(value, nullptr) << names[i];
    if (value != nullptr) counts[i] = value->Integer();
  }
  return counts;
}

// Reads the JSON document; exact paths come from pathBytes where the name is not UTF-8,
// shownPaths gets the "path" texts as written.
Document ParseJsonDocument(const std::string& output, std::vector<std::string>* shownPaths,
                           const JsonValue** errors, std::optional<JsonValue>& storage) {
  std::string error;
  storage = testing::ParseJson(output, &error);
  EXPECT_TRUE(storage.has_value()) << error << "\n" << output;
  Document doc;
  if (!storage) return doc;
  const JsonValue& root = *storage;
  for (const JsonValue& file : root.Find("files")->items) {
    const JsonValue* bytes = file.Find("pathBytes");
    const std::string shown = file.Find("path")->text;
    if (shownPaths != nullptr) shownPaths->push_back(shown);
    doc.files.push_back({bytes != nullptr ? FromHex(bytes->text) : shown, JsonCounts(file)});
  }
  const JsonValue* summary = root.Find("summary");
  doc.summary = JsonCounts(*summary);
  doc.fileCount = summary->Find("files")->Integer();
  if (errors != nullptr) *errors = root.Find("errors");
  EXPECT_NE(root.Find("source"), nullptr);
  EXPECT_NE(root.Find("seconds"), nullptr);
  return doc;
}

// Reads RFC 4180 text: quoted fields with doubled quotes, rows ended by CR LF.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    if (quoted) {
      if (ch == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (ch == '"') {
        quoted = false;
      } else {
        field += ch;
      }
    } else if (ch == '"') {
      EXPECT_TRUE(field.empty()) << "a quote inside an unquoted field at " << i;
      quoted = true;
    } else if (ch == ',') {
      row.push_back(field);
      field.clear();
    } else if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      row.push_back(field);
      field.clear();
      rows.push_back(row);
      row.clear();
      ++i;
    } else {
      if (ch == '\r' || ch == '\n') ADD_FAILURE() << "a bare line break outside quotes at " << i;
      field += ch;
    }
  }
  EXPECT_TRUE(field.empty() && row.empty()) << "the last row has no CR LF";
  return rows;
}

Counts Sum(const std::vector<FileRow>& files) {
  Counts sum{};
  for (const FileRow& file : files) {
    for (std::size_t i = 0; i < sum.size(); ++i) sum[i] += file.counts[i];
  }
  return sum;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// A tree whose names hold commas, quotes, blanks and, on POSIX, bytes that are not UTF-8.
struct OddTree {
  TempDir dir;
  fs::path root;
  std::string latin1Name;  // empty on Windows

  OddTree() : root(dir.path() / "odd tree") {
    // Every class of line, in different amounts per file.
    dir.Write("odd tree/plain.c", "int a; /* c */\n#define X 1\n\n// text\n//\n/*\n   x */\n");
    dir.Write("odd tree/comma,name.cpp", "int b;\n\n\n");
    dir.Write("odd tree/blank name.h", "#pragma once\n// h\n");
    dir.Write("odd tree/sub dir,x/ünïcöde.java", "class A {}\n/**/\n");
    dir.Write("odd tree/sub dir,x/deeper/empty.c", "");
    dir.Write("odd tree/sub dir,x/deeper/notes.txt", "not counted\n");
    if (IsPosix()) {
      dir.Write("odd tree/quote\"d.c", "x;\r\ny;\r\n");
      latin1Name = std::string("caf\xe9.c");
      dir.Write(fs::path("odd tree") / fs::path(latin1Name), "int c;\n// \xe9\n");
    }
  }
};

TEST(OutputFormatEndToEndTest, JsonCsvAndReportAgree) {
  const OddTree tree;
  const std::string root = Text(tree.root);

  const testing::ProcessResult text =
      RunTally({root, "/subdir", "/display", "verbose", "utf8"}, {{"SRCTALLY_THREADS", "1"}});
  ASSERT_EQ(text.exitCode, 0) << text.stdoutBytes;
  const Document report = ParseReport(text.stdoutBytes);
  ASSERT_EQ(report.files.size(), IsPosix() ? 7u : 5u) << text.stdoutBytes;

  std::optional<JsonValue> storage;
  std::vector<std::string> shown;
  const JsonValue* errors = nullptr;
  const testing::ProcessResult json =
      RunTally({root, "/s", "/format:json"}, {{"SRCTALLY_THREADS", "1"}});
  ASSERT_EQ(json.exitCode, 0);
  const Document jsonDoc = ParseJsonDocument(json.stdoutBytes, &shown, &errors, storage);
  ASSERT_TRUE(storage.has_value());
  EXPECT_EQ(storage->Find("source")->text, root);
  ASSERT_NE(errors, nullptr);
  EXPECT_TRUE(errors->items.empty());

  const testing::ProcessResult csv =
      RunTally({root, "/f:c", "/subdir"}, {{"SRCTALLY_THREADS", "1"}});
  ASSERT_EQ(csv.exitCode, 0);
  const std::vector<std::vector<std::string>> rows = ParseCsv(csv.stdoutBytes);
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows[0], (std::vector<std::string>{"path", "size", "actual", "code", "directive",
                                               "empty", "comment", "emptyComment", "total"}));

  // Every file in walk order, with the same numbers in all three.
  ASSERT_EQ(jsonDoc.files.size(), report.files.size());
  ASSERT_EQ(rows.size(), report.files.size() + 1);
  for (std::size_t i = 0; i < report.files.size(); ++i) {
    const FileRow& fromReport = report.files[i];
    EXPECT_EQ(jsonDoc.files[i].path, fromReport.path);
    EXPECT_EQ(jsonDoc.files[i].counts, fromReport.counts) << Quoted(fromReport.path);
    ASSERT_EQ(rows[i + 1].size(), 9u);
    EXPECT_EQ(rows[i + 1][0], shown[i]);
    for (std::size_t column = 0; column < 8; ++column) {
      EXPECT_EQ(Number(rows[i + 1][column + 1]), fromReport.counts[column])
          << Quoted(fromReport.path) << " column " << column;
    }
    const Counts& c = jsonDoc.files[i].counts;
    EXPECT_EQ(c[2] + c[3] + c[4] + c[5] + c[6], c[7]) << Quoted(fromReport.path);
  }
  EXPECT_EQ(jsonDoc.summary, report.summary);
  EXPECT_EQ(Sum(jsonDoc.files), report.summary);
  EXPECT_EQ(jsonDoc.fileCount, static_cast<std::int64_t>(report.files.size()));

  if (IsPosix()) {
    // The name that is not UTF-8: U+FFFD where it is shown, its bytes kept beside it.
    bool found = false;
    for (std::size_t i = 0; i < jsonDoc.files.size(); ++i) {
      if (jsonDoc.files[i].path != tree.latin1Name) continue;
      found = true;
      EXPECT_EQ(shown[i], "caf\xef\xbf\xbd.c");
    }
    EXPECT_TRUE(found);
  }

  // Several counting threads write the same document, apart from the time it took.
  const testing::ProcessResult parallel =
      RunTally({root, "/s", "/format:json"}, {{"SRCTALLY_THREADS", "3"}});
  ASSERT_EQ(parallel.exitCode, 0);
  // Apart from the start time too, which may have moved on by a second.
  const auto withoutTimes = [](const std::string& document) {
    const std::size_t started = document.find("\"started\": ");
    const std::size_t source = document.find("\"source\": ");
    if (started == std::string::npos || source == std::string::npos) return document;
    return document.substr(0, started) +
           document.substr(source, document.rfind("\"seconds\"") - source);
  };
  EXPECT_EQ(withoutTimes(parallel.stdoutBytes), withoutTimes(json.stdoutBytes));
  const testing::ProcessResult parallelCsv =
      RunTally({root, "/s", "/format:csv"}, {{"SRCTALLY_THREADS", "3"}});
  EXPECT_EQ(parallelCsv.stdoutBytes, csv.stdoutBytes);
}

TEST(OutputFormatEndToEndTest, FailureStillEndsTheDocument) {
  TempDir dir;
  dir.Write("bad/a.c", "int a;\n");
  dir.Write("bad/b.c", "\xfe\xff\x00i");  // a byte-order mark this program cannot read
  dir.Write("bad/c.c", "int c;\n");
  const std::string root = Text(dir.path() / "bad");

  std::optional<JsonValue> storage;
  const JsonValue* errors = nullptr;
  const testing::ProcessResult json = RunTally({root, "/format", "json"});
  EXPECT_EQ(json.exitCode, 2);
  const Document doc = ParseJsonDocument(json.stdoutBytes, nullptr, &errors, storage);
  ASSERT_TRUE(storage.has_value());
  ASSERT_EQ(doc.files.size(), 1u) << json.stdoutBytes;
  EXPECT_EQ(doc.files[0].path, "a.c");
  ASSERT_NE(errors, nullptr);
  ASSERT_EQ(errors->items.size(), 1u) << json.stdoutBytes;
  const JsonValue& entry = errors->items[0];
  EXPECT_EQ(entry.Find("kind")->text, "error");
  EXPECT_EQ(entry.Find("path")->text, "b.c");
  EXPECT_EQ(entry.Find("message")->text, "cannot process file 'b.c'.");
  EXPECT_EQ(entry.Find("code")->text.rfind("0x8", 0), 0u);

  const testing::ProcessResult csv = RunTally({root, "/format", "csv"});
  EXPECT_EQ(csv.exitCode, 2);
  EXPECT_EQ(csv.stdoutBytes,
            "path,size,actual,code,directive,empty,comment,emptyComment,total\r\n"
            "a.c,7,6,1,0,0,0,0,1\r\n");

  // Going on, the document holds every file that could be counted, and the error.
  const JsonValue* kept = nullptr;
  const testing::ProcessResult rest = RunTally({root, "/format", "json", "/keepgoing"});
  EXPECT_EQ(rest.exitCode, 2);
  const Document all = ParseJsonDocument(rest.stdoutBytes, nullptr, &kept, storage);
  ASSERT_EQ(all.files.size(), 2u) << rest.stdoutBytes;
  EXPECT_EQ(all.files[1].path, "c.c");
  EXPECT_EQ(all.fileCount, 2);
  ASSERT_NE(kept, nullptr);
  ASSERT_EQ(kept->items.size(), 1u) << rest.stdoutBytes;
  EXPECT_EQ(kept->items[0].Find("path")->text, "b.c");
  const testing::ProcessResult rows = RunTally({root, "--format=csv", "--keep-going"});
  EXPECT_EQ(rows.exitCode, 2);
  EXPECT_EQ(rows.stdoutBytes,
            "path,size,actual,code,directive,empty,comment,emptyComment,total\r\n"
            "a.c,7,6,1,0,0,0,0,1\r\nc.c,7,6,1,0,0,0,0,1\r\n");
}

// Seconds since 1970 of a "YYYY-MM-DDTHH:MM:SSZ" stamp; -1 when it has another form.
std::int64_t StampSeconds(const std::string& stamp) {
  const std::string form = "dddd-dd-ddTdd:dd:ddZ";
  if (stamp.size() != form.size()) return -1;
  for (std::size_t i = 0; i < form.size(); ++i) {
    const bool digit = stamp[i] >= '0' && stamp[i] <= '9';
    if (form[i] == 'd' ? !digit : stamp[i] != form[i]) return -1;
  }
  const auto field = [&stamp](std::size_t at, std::size_t length) {
    return std::stoi(stamp.substr(at, length));
  };
  namespace chrono = std::chrono;
  const chrono::sys_days day = chrono::year{field(0, 4)} / static_cast<unsigned>(field(5, 2)) /
                               static_cast<unsigned>(field(8, 2));
  return day.time_since_epoch().count() * 86400 + field(11, 2) * 3600 + field(14, 2) * 60 +
         field(17, 2);
}

std::int64_t NowSeconds() {
  namespace chrono = std::chrono;
  return chrono::duration_cast<chrono::seconds>(chrono::system_clock::now().time_since_epoch())
      .count();
}

TEST(OutputFormatEndToEndTest, JsonSaysWhatMadeIt) {
  TempDir dir;
  dir.Write("src/a.c", "int a;\n");
  const std::string root = Text(dir.path() / "src");

  const testing::ProcessResult version = RunTally({"--version"});
  ASSERT_EQ(version.exitCode, 0);
  const std::string versionLine =
      version.stdoutBytes.substr(0, version.stdoutBytes.find(testing::kEol));

  // A zone far from UTC: the stamp must still be UTC, as the system clock counts it.
  const std::int64_t before = NowSeconds();
  const std::vector<std::string> arguments = {"-s", root, "--format=json", "/exclude:\"x,y\""};
  const testing::ProcessResult json = RunTally(arguments, {{"TZ", "XXX-14"}});
  const std::int64_t after = NowSeconds();
  ASSERT_EQ(json.exitCode, 0) << json.stdoutBytes;
  std::string error;
  const std::optional<JsonValue> document = testing::ParseJson(json.stdoutBytes, &error);
  ASSERT_TRUE(document.has_value()) << error << "\n" << json.stdoutBytes;

  // What made the document comes first, before what it counted.
  std::vector<std::string> names;
  for (const auto& member : document->members) names.push_back(member.first);
  EXPECT_EQ(names, (std::vector<std::string>{"version", "arguments", "started", "source", "files",
                                             "summary", "languages", "errors", "seconds"}));
  EXPECT_EQ(document->Find("version")->text, versionLine);
  std::vector<std::string> given;
  for (const JsonValue& item : document->Find("arguments")->items) given.push_back(item.text);
  EXPECT_EQ(given, arguments);
  const JsonValue& started = *document->Find("started");
  ASSERT_EQ(started.kind, JsonValue::Kind::kString) << json.stdoutBytes;
  const std::int64_t seconds = StampSeconds(started.text);
  EXPECT_GE(seconds, before) << started.text;
  EXPECT_LE(seconds, after) << started.text;

  if (IsPosix()) {
    // An argument that is not UTF-8 is kept exactly, as names are.
    const std::string latin1 = Text(dir.path()) + "/caf\xe9";
    dir.Write("caf\xe9/b.c", "int b;\n");
    const testing::ProcessResult odd = RunTally({latin1, "/f:j"});
    ASSERT_EQ(odd.exitCode, 0) << odd.stdoutBytes;
    const std::optional<JsonValue> oddDocument = testing::ParseJson(odd.stdoutBytes, &error);
    ASSERT_TRUE(oddDocument.has_value()) << error;
    const JsonValue* bytes = oddDocument->Find("argumentsBytes");
    ASSERT_NE(bytes, nullptr) << odd.stdoutBytes;
    ASSERT_EQ(bytes->items.size(), 2u);
    EXPECT_EQ(FromHex(bytes->items[0].text), latin1);
    EXPECT_EQ(bytes->items[1].kind, JsonValue::Kind::kNull);
    EXPECT_EQ(oddDocument->Find("arguments")->items[0].text,
              latin1.substr(0, latin1.size() - 1) + "\xef\xbf\xbd");
  } else {
    EXPECT_EQ(document->Find("argumentsBytes"), nullptr);
  }
}

TEST(OutputFormatEndToEndTest, CommandLineProblems) {
  TempDir dir;
  const std::string root = Text(dir.path());
  // An unknown format is reported like any invalid value, in the report's form.
  const testing::ProcessResult unknown = RunTally({root, "/format:xml"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_NE(unknown.stdoutBytes.find(std::string("Invalid parameter value(s):") + testing::kEol +
                                     testing::kEol + "\t/format (expected: text,json,csv)"),
            std::string::npos)
      << unknown.stdoutBytes;
  // With a document asked for, standard output stays empty; the problem goes elsewhere.
  const testing::ProcessResult problem = RunTally({root, "/format:json", "/foo"});
  EXPECT_EQ(problem.exitCode, 1);
  EXPECT_EQ(problem.stdoutBytes, "");
  // Standard error on a pipe is UTF-8 with the platform's line ends (not UTF-16 on Windows),
  // so the document and its problem lines sent to one file share one encoding.
  const testing::ProcessResult named =
      testing::RunProcess({SRCTALLY_EXE, root, "/format:json", "/\xC3\xA9\xF0\x9F\x98\x80"}, {},
                          {}, testing::ChildError::kCaptured);
  EXPECT_EQ(named.exitCode, 1);
  EXPECT_EQ(named.stdoutBytes, "");
  EXPECT_NE(named.stderrBytes.find(std::string("Unknown parameter(s):") + testing::kEol +
                                   testing::kEol + "\t/\xC3\xA9\xF0\x9F\x98\x80" +
                                   testing::kEol),
            std::string::npos)
      << named.stderrBytes;
  const testing::ProcessResult empty = RunTally({root, "/format:csv"});
  EXPECT_EQ(empty.exitCode, 0);
  EXPECT_EQ(empty.stdoutBytes,
            "path,size,actual,code,directive,empty,comment,emptyComment,total\r\n");
}

}  // namespace
}  // namespace srctally
