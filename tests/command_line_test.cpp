// The command-line parser, the display switch, the problem report and the usage block.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/console.h"
#include "console/base_console.h"
#include "platform/file_system.h"
#include "testing/test_console.h"

namespace srctally {
namespace {

using testing::FakeConsoleSink;
using testing::TestConsole;

// Records the handler calls of an application console.
class RecordingConsole : public TestConsole {
 public:
  using TestConsole::TestConsole;
  std::int32_t OnArgument(std::size_t index, WStringView text) override {
    calls += Format(u"arg %d '%s'|", static_cast<int>(index), text);
    return 0;
  }
  std::int32_t OnSwitch(WStringView name, std::span<const WStringView> values) override {
    calls += Format(u"switch '%s'", name);
    for (WStringView value : values) calls += Format(u" '%s'", value);
    calls += u'|';
    return TestConsole::OnSwitch(name, values);
  }
  WString calls;
};

// srctally's own console, recording what it is handed; the file system it asks whether a
// one-part absolute path exists is a fixed list.
class RecordingAppConsole : public CConsole {
 public:
  using CConsole::CConsole;
  std::int32_t OnArgument(std::size_t index, WStringView text) override {
    calls += Format(u"arg %d '%s'|", static_cast<int>(index), text);
    return CConsole::OnArgument(index, text);
  }
  std::int32_t OnSwitch(WStringView name, std::span<const WStringView> values) override {
    calls += Format(u"switch '%s'", name);
    for (WStringView value : values) calls += Format(u" '%s'", value);
    calls += u'|';
    return CConsole::OnSwitch(name, values);
  }
  bool IsExistingPath(WStringView path) const override {
    for (const char16_t* existing : {u"/", u"/tmp", u"/s", u"/subdirectory"}) {
      if (path == existing) return true;
    }
    return false;
  }
  const WString& unknown() const { return unknownParameters_; }
  const WString& invalid() const { return invalidValues_; }
  WString calls;
};

std::vector<WString> Args(std::initializer_list<const char16_t*> texts) {
  std::vector<WString> args{u"prog"};
  for (const char16_t* text : texts) args.emplace_back(text);
  return args;
}

TEST(ParameterTableTest, LookupByCaseInsensitivePrefix) {
  struct Row {
    const char16_t* text;
    std::int32_t row;
  } levels[] = {{u"n", 0},       {u"no", 0},        {u"nor", 1}, {u"P", 2},
                {u"VERBOSE", 3}, {u"verbosex", -1}, {u"x", -1},  {u"", 0}};
  for (const Row& row : levels) {
    EXPECT_EQ(LookupParameter(row.text, kDisplayLevels), row.row) << ToUtf8(row.text);
  }
  std::uint32_t id = 0;
  EXPECT_EQ(LookupParameter(u"u", kTranslationModes, &id), 1);
  EXPECT_EQ(id, translation::kUnicode);
  EXPECT_EQ(LookupParameter(u"ut", kTranslationModes, &id), 2);
  EXPECT_EQ(id, translation::kUtf8);
  EXPECT_EQ(LookupParameter(u"?", kFrameworkParameters, &id), 2);
  EXPECT_EQ(id, param::kHelp);
}

TEST(SplitSwitchValuesTest, Rows) {
  struct Row {
    const char16_t* text;
    std::int32_t result;
    std::vector<WStringView> values;
  } rows[] = {
      {u"", 0, {u""}},
      {u"verbose,utf8", 0, {u"verbose", u"utf8"}},
      {u"a;b=c", 0, {u"a", u"b", u"c"}},
      {u"a,", 0, {u"a", u""}},
      {u"\"x,y\"junk;z", 0, {u"x,y", u"z"}},
      {u"\"open", param::kResultInvalidValue, {}},
      {u"a,\"b", param::kResultInvalidValue, {}},
  };
  for (const Row& row : rows) {
    std::vector<WStringView> values;
    EXPECT_EQ(SplitSwitchValues(row.text, values), row.result) << ToUtf8(row.text);
    if (row.result == 0) {
      EXPECT_EQ(values, row.values) << ToUtf8(row.text);
    }
  }
  std::vector<WStringView> values;
  WString many = u"v";
  for (int i = 1; i < 32; ++i) many += u",v";
  EXPECT_EQ(SplitSwitchValues(many, values), 0);
  EXPECT_EQ(values.size(), 32u);
  EXPECT_EQ(SplitSwitchValues(many + u",v", values), param::kResultInvalidValue);
}

struct ParseRow {
  std::vector<WString> args;
  std::string calls;
  std::string invalid;
  std::string unknown;
};

TEST(ParseCommandLineTest, HandlerCallsAndReportLines) {
  const ParseRow rows[] = {
      {Args({}), "", "", ""},
      {Args({u"/display", u"verbose", u"utf8"}), "switch 'display' 'verbose' 'utf8'|", "", ""},
      {Args({u"/display:verbose,utf8"}), "switch 'display' 'verbose' 'utf8'|", "", ""},
      {Args({u"-disp:verb=ut"}), "switch 'disp' 'verb' 'ut'|", "", ""},
      {Args({u"src", u"-12"}), "arg 1 'src'|arg 2 '-12'|", "", ""},
      {Args({u"/d", u"x", u"/h"}), "switch 'd' 'x'|switch 'h'|",
       "\t/d (expected: none,normal,progress,verbose)\n", ""},
      // A positional argument after a switch's colon values is a positional argument.
      {Args({u"/display:n", u"late"}), "switch 'display' 'n'|arg 2 'late'|", "", ""},
      // Help takes what follows it as its values, which are invalid: nothing it is given
      // goes unseen behind the usage.
      {Args({u"/?", u"src"}), "switch '?' 'src'|", "\t/?\n", ""},
      {Args({u"src", u"/?"}), "arg 1 'src'|switch '?'|", "", ""},
      // GNU-style spellings: --name, --name=values, --name:values; abbreviations too.
      {Args({u"--display"}), "switch 'display'|", "", ""},
      {Args({u"--disp=verb,ut", u"src"}), "switch 'disp' 'verb' 'ut'|arg 2 'src'|", "", ""},
      {Args({u"--DISPLAY:verbose"}), "switch 'DISPLAY' 'verbose'|", "", ""},
      {Args({u"--display", u"verbose", u"--help"}), "switch 'display' 'verbose'|switch 'help'|", "",
       ""},
      // What follows a rejected switch up to the next switch is rejected with it.
      {Args({u"--foo=bar", u"x"}), "switch 'foo' 'bar'|", "", "\t--foo\n\tx\n"},
      {Args({u"-", u"a", u"b", u"/h", u"c"}), "switch 'h' 'c'|", "\t/h\n", "\t-\n\ta\n\tb\n"},
      {Args({u"/d:x", u"a", u"/d:v", u"b"}), "switch 'd' 'x'|switch 'd' 'v'|arg 4 'b'|",
       "\t/d (expected: none,normal,progress,verbose)\n", "\ta\n"},
      // Echoed with control characters shown as '?': an argument cannot drive the terminal.
      {Args({u"/\x1b]0;title\a", u"x\ty"}), "switch '\x1b]0;title\a' 'x\ty'|", "",
       "\t/?]0;title?\n"},
      {Args({u"--help=x"}), "switch 'help' 'x'|", "\t--help\n", ""},
      {Args({u"--=x", u"---x"}), "switch '-x'|", "", "\t--\n\t---x\n"},
      // A lone - or -- is the unknown switch it always was; -- still swallows what follows.
      {Args({u"/:x", u"-", u"--", u"src"}), "switch '-' 'src'|", "", "\t/\n\t-\n\t--\n"},
      {Args({u"/display:\"verbose"}), "", "\t/display\n", ""},
      {Args({u"/display", u"a", u"b", u"c"}), "switch 'display' 'a' 'b' 'c'|", "\t/display\n", ""},
  };
  for (const ParseRow& row : rows) {
    FakeConsoleSink sink;
    RecordingConsole console(sink);
    console.ParseCommandLine(row.args);
    const std::string label = ToUtf8(row.args.size() > 1 ? row.args[1] : u"(none)");
    EXPECT_EQ(ToUtf8(console.calls), row.calls) << label;
    EXPECT_EQ(ToUtf8(console.invalidValues_), row.invalid) << label;
    EXPECT_EQ(ToUtf8(console.unknownParameters_), row.unknown) << label;
  }
}

void ExpectAppParse(const ParseRow& row, std::uint32_t options) {
  FakeConsoleSink sink;
  RecordingAppConsole console(sink);
  console.ParseCommandLine(row.args);
  const std::string label = ToUtf8(row.args.size() > 1 ? row.args[1] : u"(none)");
  EXPECT_EQ(ToUtf8(console.calls), row.calls) << label;
  EXPECT_EQ(ToUtf8(console.invalid()), row.invalid) << label;
  EXPECT_EQ(ToUtf8(console.unknown()), row.unknown) << label;
  EXPECT_EQ(console.options & ~option::kSubdir, options & ~option::kSubdir) << label;
}

TEST(ParseCommandLineTest, PathAfterSwitchesWithoutValuesIsThePath) {
  const struct {
    ParseRow row;
    std::uint32_t options;
  } rows[] = {
      {{Args({u"/subdir", u"src"}), "switch 'subdir'|arg 2 'src'|", "", ""}, option::kSubdir},
      {{Args({u"/noheader", u"src"}), "switch 'noheader'|arg 2 'src'|", "", ""}, option::kNoHeader},
      {{Args({u"/s", u"/n", u"src"}), "switch 's'|switch 'n'|arg 3 'src'|", "", ""},
       option::kSubdir | option::kNoHeader},
      // Values after a colon stay accepted and ignored.
      {{Args({u"/noheader:value", u"src"}), "switch 'noheader' 'value'|arg 2 'src'|", "", ""},
       option::kNoHeader},
      {{Args({u"/display", u"verbose", u"utf8", u"/subdir", u"src"}),
        "switch 'display' 'verbose' 'utf8'|switch 'subdir'|arg 5 'src'|", "", ""},
       option::kSubdir},
      // Only one path: a second positional argument is reported, wherever it stands.
      {{Args({u"src", u"/subdir", u"other"}), "arg 1 'src'|switch 'subdir'|arg 3 'other'|", "",
        "\tother\n"},
       option::kSubdir},
      {{Args({u"--subdir", u"--noheader", u"--display=verbose,utf8", u"src"}),
        "switch 'subdir'|switch 'noheader'|switch 'display' 'verbose' 'utf8'|arg 4 'src'|", "", ""},
       option::kSubdir | option::kNoHeader},
      {{Args({u"--disp", u"verb", u"--no", u"src"}),
        "switch 'disp' 'verb'|switch 'no'|arg 4 'src'|", "", ""},
       option::kNoHeader},
      // /display takes up to two blank-separated values, so a path right after them is its
      // mode.
      {{Args({u"/display", u"verbose", u"src"}), "switch 'display' 'verbose' 'src'|",
        "\t/display (expected: text,unicode,utf8)\n", ""},
       0},
  };
  for (const auto& row : rows) ExpectAppParse(row.row, row.options);
}

TEST(ParseCommandLineTest, EveryRejectedArgumentIsListed) {
  const struct {
    ParseRow row;
    std::uint32_t options;
  } rows[] = {
      {{Args({u"-", u"a"}), "", "", "\t-\n\ta\n"}, 0},
      {{Args({u"/help", u"/foo", u"/d:loud", u"nope"}),
        "switch 'help'|switch 'foo'|switch 'd' 'loud'|", "\t/d (expected: normal,verbose)\n",
        "\t/foo\n\tnope\n"},
       0},
      {{Args({u"/?", u"src"}), "switch '?' 'src'|", "\t/?\n", ""}, 0},
      // A second path is echoed like a switch, control characters shown as '?'.
      {{Args({u"src", u"\x1b]0;x\a"}), "arg 1 'src'|arg 2 '\x1b]0;x\a'|", "", "\t?]0;x?\n"}, 0},
      // An accepted switch ends the rejection: the path after it counts.
      {{Args({u"/foo:x", u"/subdir", u"src"}), "switch 'foo' 'x'|switch 'subdir'|arg 3 'src'|", "",
        "\t/foo\n"},
       option::kSubdir},
  };
  for (const auto& row : rows) ExpectAppParse(row.row, row.options);
}

TEST(ParseCommandLineTest, OnePartAbsolutePathsWhereSlashSeparatesFolders) {
  if (platform::PathSeparator() != u'/') GTEST_SKIP() << "a '/' argument is always a switch";
  const struct {
    ParseRow row;
    std::uint32_t options;
  } rows[] = {
      {{Args({u"/tmp"}), "arg 1 '/tmp'|", "", ""}, 0},
      {{Args({u"/tmp", u"/n"}), "arg 1 '/tmp'|switch 'n'|", "", ""}, option::kNoHeader},
      {{Args({u"/noheader", u"/tmp"}), "switch 'noheader'|arg 2 '/tmp'|", "", ""},
       option::kNoHeader},
      {{Args({u"/"}), "arg 1 '/'|", "", ""}, 0},
      {{Args({u"/usr/"}), "arg 1 '/usr/'|", "", ""}, 0},
      // A name longer than every switch it starts like is no abbreviation.
      {{Args({u"/subdirectory"}), "arg 1 '/subdirectory'|", "", ""}, 0},
      // An abbreviation stays a switch even where a folder of that name exists.
      {{Args({u"/s", u"/tmp"}), "switch 's'|arg 2 '/tmp'|", "", ""}, option::kSubdir},
      {{Args({u"/nothere"}), "switch 'nothere'|", "", "\t/nothere\n"}, 0},
      {{Args({u"/tmp:x"}), "switch 'tmp' 'x'|", "", "\t/tmp\n"}, 0},
  };
  for (const auto& row : rows) ExpectAppParse(row.row, row.options);
}

TEST(ParseCommandLineTest, DisplaySwitchSetsLevelAndMode) {
  struct Row {
    std::vector<WString> args;
    std::uint32_t level;
    std::uint32_t mode;
    std::string invalid;
  } rows[] = {
      {Args({u"/DISPLAY:Verbose"}), display::kVerbose, 0, ""},
      {Args({u"/display", u"nor", u"u"}), display::kNormal, translation::kUnicode, ""},
      {Args({u"/display", u"verbose", u"ut"}), display::kVerbose, translation::kUtf8, ""},
      {Args({u"/display:,text"}), display::kNormal, translation::kText, ""},
      {Args({u"/display"}), display::kNormal, 0, ""},
      {Args({u"/display", u"n"}), display::kNormal, 0, "\t/display (expected: normal,verbose)\n"},
      {Args({u"/display:verbose,x"}), display::kVerbose, 0,
       "\t/display (expected: text,unicode,utf8)\n"},
      {Args({u"/display", u"a", u"b", u"c"}), display::kNormal, 0, "\t/display\n"},
  };
  for (const Row& row : rows) {
    FakeConsoleSink sink;
    TestConsole console(sink);
    console.allowedLevels_ = display::kNormal | display::kVerbose;
    console.ParseCommandLine(row.args);
    const std::string label = ToUtf8(row.args[1]);
    EXPECT_EQ(console.displayLevel(), row.level) << label;
    EXPECT_EQ(sink.mode, row.mode) << label;
    EXPECT_EQ(ToUtf8(console.invalidValues_), row.invalid) << label;
    EXPECT_TRUE(console.IsFlagSet(param::kDisplay)) << label;
    EXPECT_FALSE(console.IsFlagSet(param::kHelp)) << label;
  }
}

TEST(ParseCommandLineTest, HelpAndVersionAnswersOnlyWhenNothingElseIsWrong) {
  const struct {
    std::vector<WString> args;
    bool usageAnswer;
    bool versionAnswer;
  } rows[] = {
      {Args({u"--help"}), true, false},
      {Args({u"--h"}), true, false},
      {Args({u"/?"}), false, false},
      {Args({u"/help"}), false, false},
      {Args({u"--help", u"/foo"}), false, false},
      {Args({u"--help=x"}), false, false},
      {Args({u"--version"}), false, true},
      {Args({u"--vers"}), false, true},
      {Args({u"/version"}), false, true},
      {Args({u"--version", u"/foo"}), false, false},
      {Args({u"--version:x"}), false, false},
      {Args({u"--version", u"--help"}), true, false},
      {Args({}), false, false},
  };
  for (const auto& row : rows) {
    FakeConsoleSink sink;
    TestConsole console(sink);
    console.ParseCommandLine(row.args);
    const std::string label = ToUtf8(row.args.size() > 1 ? row.args[1] : u"(none)");
    EXPECT_EQ(console.UsageIsTheAnswer(), row.usageAnswer) << label;
    EXPECT_EQ(console.VersionIsTheAnswer(), row.versionAnswer) << label;
  }
}

TEST(ParseCommandLineTest, VersionAnswerIsTheTitleLine) {
  FakeConsoleSink sink;
  TestConsole console(sink);
  console.ShowVersion();
  EXPECT_EQ(sink.Text(), "Counts 100% of the test lines.\n");  // no version data
  sink.written.clear();
  console.banner = {u"Tally - Version 1.2 (build 3)", u"(c) Someone"};
  console.ShowVersion();
  EXPECT_EQ(sink.Text(), "Tally - Version 1.2 (build 3)\n");
}

TEST(ParseCommandLineTest, FlagsOfTheFramework) {
  FakeConsoleSink sink;
  TestConsole console(sink);
  console.ParseCommandLine(Args({u"/?"}));
  EXPECT_TRUE(console.IsFlagSet(param::kHelp));
  EXPECT_TRUE(console.HasProblems());
  EXPECT_FALSE(console.SetFlag(0x20000));
  EXPECT_FALSE(console.IsFlagSet(0x20001));
  EXPECT_TRUE(console.ClearFlag(param::kHelp));
  EXPECT_EQ(console.parameterFlags(), 0u);
  EXPECT_FALSE(console.HasProblems());
}

WString UsageBlock() {
  WString path;
  EXPECT_TRUE(platform::GetModuleFilePath(path));
  return u"Usage:\n\n  srctally_tests [<path>] [/?]\n\n  /?  Shows 100% of this.\n";
}

TEST(ReportProblemsTest, UnknownAndInvalidWithUsage) {
  FakeConsoleSink sink;
  TestConsole console(sink);
  console.allowedLevels_ = display::kNormal | display::kVerbose;
  console.ParseCommandLine(Args({u"/foo", u"/display:loud"}));
  EXPECT_TRUE(console.ReportProblems());
  EXPECT_EQ(sink.written, UsageBlock() +
                              u"\n"
                              u"Invalid parameter value(s):\n\n"
                              u"\t/display (expected: normal,verbose)\n"
                              u"\n"
                              u"Unknown parameter(s):\n\n"
                              u"\t/foo\n"
                              u"\n");
}

TEST(ReportProblemsTest, ErrorTextAfterUsage) {
  FakeConsoleSink sink;
  TestConsole console(sink);
  console.headerOptions_ = msg::kHeaderKindPrefix;
  console.errorText_ = u"the specified path does not exist.";
  console.ParseCommandLine(Args({u"/help"}));
  EXPECT_TRUE(console.ReportProblems());
  EXPECT_EQ(sink.written, UsageBlock() + u"\nERROR: the specified path does not exist.\n\n");
}

TEST(ReportProblemsTest, NothingToReportWritesNothing) {
  FakeConsoleSink sink;
  TestConsole console(sink);
  console.ParseCommandLine(Args({}));
  EXPECT_FALSE(console.ReportProblems());
  EXPECT_EQ(sink.written, u"");
}

TEST(ReportProblemsTest, LevelNoneReportsSilently) {
  FakeConsoleSink sink;
  TestConsole console(sink);
  console.ParseCommandLine(Args({u"/display:none", u"/x"}));
  EXPECT_TRUE(console.ReportProblems());
  EXPECT_EQ(sink.written, u"");
}

TEST(BannerTest, LinesPresentAndMissing) {
  FakeConsoleSink sink;
  TestConsole console(sink);
  console.ShowBanner();
  EXPECT_EQ(sink.Text(), "Counts 100% of the test lines.\n\n");
  sink.written.clear();
  console.banner = {u"Tally - Version 1.2 (build 3)", u"(c) 100% Someone"};
  console.ShowBanner();
  EXPECT_EQ(sink.Text(),
            "Tally - Version 1.2 (build 3)\nCounts 100% of the test lines.\n(c) 100% Someone\n\n");
}

}  // namespace
}  // namespace srctally
