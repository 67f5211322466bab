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

}  // namespace
}  // namespace srctally
