// The /format switch of the application's console.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/console.h"
#include "testing/fake_console_sink.h"

namespace srctally {
namespace {

using testing::FakeConsoleSink;

struct FormatRow {
  std::vector<std::u16string> args;
  OutputFormat format;
  bool invalid;
};

TEST(FormatSwitchTest, ValuesAbbreviationsAndProblems) {
  const FormatRow rows[] = {
      {{}, OutputFormat::kText, false},
      {{u"/format:json"}, OutputFormat::kJson, false},
      {{u"/f:j"}, OutputFormat::kJson, false},
      {{u"/F:C"}, OutputFormat::kCsv, false},
      {{u"/form", u"csv"}, OutputFormat::kCsv, false},
      {{u"--format=csv"}, OutputFormat::kCsv, false},
      {{u"-f", u"j"}, OutputFormat::kJson, false},
      {{u"/format:csv", u"/format:t"}, OutputFormat::kText, false},
      {{u"/format:xml"}, OutputFormat::kText, true},
      {{u"/format"}, OutputFormat::kText, true},
      {{u"/format:"}, OutputFormat::kText, true},
      {{u"/format:json,csv"}, OutputFormat::kText, true},
  };
  for (const FormatRow& row : rows) {
    FakeConsoleSink sink;
    CConsole console(sink);
    std::vector<WString> args{u"srctally", u"."};
    for (const std::u16string& arg : row.args) args.push_back(arg);
    console.ParseCommandLine(args);
    const std::string what = ToUtf8(args.back());
    EXPECT_EQ(console.format, row.format) << what;
    EXPECT_EQ(console.ReportProblems(), row.invalid) << what;
    if (row.invalid) {
      EXPECT_NE(sink.Text().find("Invalid parameter value(s):\n\n\t/format (expected: "
                                 "text,json,csv)\n"),
                std::string::npos)
          << sink.Text();
    }
  }
}

TEST(FormatSwitchTest, TakesOneFollowingArgument) {
  FakeConsoleSink sink;
  CConsole console(sink);
  console.ParseCommandLine({u"srctally", u"/format", u"csv", u".", u"/subdir"});
  EXPECT_FALSE(console.ReportProblems()) << sink.Text();
  EXPECT_EQ(console.format, OutputFormat::kCsv);
  EXPECT_FALSE(console.sourcePath.empty());
  EXPECT_NE(console.options & option::kSubdir, 0u);
}

TEST(FormatSwitchTest, EarlierAbbreviationsKeepTheirMeaning) {
  FakeConsoleSink sink;
  CConsole console(sink);
  console.ParseCommandLine({u"srctally", u".", u"/n", u"/s", u"/d:verbose"});
  EXPECT_EQ(console.options & (option::kNoHeader | option::kSubdir),
            option::kNoHeader | option::kSubdir);
  EXPECT_EQ(console.displayLevel(), display::kVerbose);
  EXPECT_EQ(console.format, OutputFormat::kText);
}

// /languages is a flag; /compare takes the whole text after its colon as one path, so a
// name with a comma, a semicolon or an equals sign needs no quotes.
TEST(CompareSwitchTest, ValueIsOneWholePath) {
  const struct {
    std::u16string arg;
    std::u16string given;  // empty: an invalid value
  } rows[] = {
      {u"/compare:main.json", u"main.json"},
      {u"/c:a,b;c=d.json", u"a,b;c=d.json"},
      {u"--compare=base line.json", u"base line.json"},
      {u"--compare:\"x,y\"", u"x,y"},
      {u"/compare:\"a\"b\"", u"a\"b"},
      {u"/compare", u""},
      {u"/compare:", u""},
      {u"/compare:\"\"", u""},
  };
  for (const auto& row : rows) {
    FakeConsoleSink sink;
    CConsole console(sink);
    console.ParseCommandLine({u"srctally", u".", row.arg, u"/l"});
    EXPECT_NE(console.options & option::kLanguages, 0u);
    const std::string what = ToUtf8(row.arg);
    if (row.given.empty()) {
      console.ReportProblems();
      EXPECT_NE(sink.Text().find("Invalid parameter value(s):\n\n\t/compare"), std::string::npos)
          << what << "\n"
          << sink.Text();
    } else {
      EXPECT_EQ(console.compareGiven, row.given) << what;
      EXPECT_NE(console.options & option::kCompare, 0u) << what;
    }
  }
}

TEST(CompareSwitchTest, ABaselineThatDoesNotExistIsAProblem) {
  FakeConsoleSink sink;
  CConsole console(sink);
  console.ParseCommandLine({u"srctally", u".", u"/compare:no such %s baseline.json"});
  EXPECT_TRUE(console.ReportProblems());
  // The name is shown as given, a percent sign included.
  EXPECT_NE(sink.Text().find("ERROR: the baseline 'no such %s baseline.json' does not exist."),
            std::string::npos)
      << sink.Text();
}

}  // namespace
}  // namespace srctally
