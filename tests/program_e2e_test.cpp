// Whole runs of the built program on temp folders: every byte of standard output and the
// exit code. Only the elapsed time of the closing line is matched by pattern.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/product_info.h"
#include "base/status.h"
#include "base/text.h"
#include "platform/library.h"
#include "runtime/system_text.h"
#include "testing/console_platform.h"
#include "testing/process_runner.h"
#include "testing/temp_dir.h"
#include "version_numbers.h"

namespace srctally {
namespace {

namespace fs = std::filesystem;
using testing::kEol;
using testing::kSep;
using testing::TempDir;

// Every source file of these tests holds this text: 4 lines (one code, one directive, one
// comment, one empty), 26 bytes, 22 characters once trimmed.
constexpr char kSource[] = "int a;\n// c\n#include <x>\n\n";
constexpr char kRule[] = "------------------------------------------------------------------\n";

std::string Text(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string Banner() {
  std::string title = std::string(SRCTALLY_PRODUCT_NAME) + " - Version " +
                      std::to_string(SRCTALLY_VERSION_MAJOR) + "." +
                      std::to_string(SRCTALLY_VERSION_MINOR) + " (build " +
                      std::to_string(SRCTALLY_VERSION_BUILD) + ")";
  if (SRCTALLY_PRERELEASE != 0) title += " [BETA]";
  if (platform::IsRunningOnWow64()) title += ", 32-bit.";
  return title + "\nCounts code and comment lines in C/C++/C#, Arduino and Java source files.\n" +
         SRCTALLY_LEGAL_COPYRIGHT + "\n\n";
}

std::string Usage() {
  return "Usage:\n\n  srctally [<path>] [/display [<level> [<mode>]]] [/noheader] [/subdir] [/?]\n"
         "\nWhere:\n\n"
         "  <path>     File or directory to browse [Default: current directory].\n\n"
         "Optional parameters:\n\n"
         "  /display     Sets the level of information that will be displayed and\n"
         "                optionally the translation mode.\n"
         "                <level> is either of the following values:\n"
         "                 normal  - compact output (default).\n"
         "                 verbose - detailed output.\n"
         "                <mode> is either of the following translation modes:\n"
         "                 text    - default output.\n"
         "                 unicode - UTF-16 output.\n"
         "                 utf8    - UTF-8 output.\n"
         "  /noheader  Does not process header files.\n"
         "  /subdir    Processes files in sub-directories.\n"
         "  /format    Sets what is written to the standard output:\n"
         "              text - the report (default).\n"
         "              json - one JSON document with the counts of every file.\n"
         "              csv  - the counts of every file as CSV rows.\n"
         "  /?         Displays this help message.\n"
         "  /version   Displays the version.\n"
         "  /exclude:<pattern>[,<pattern>...]\n"
         "             Does not process files and folders that match a pattern: a name\n"
         "             at any depth, or with a '/' a path below <path>.\n"
         "  /gitignore Does not process what the .gitignore files and the repository\n"
         "             ignore, nor .git folders.\n"
         "  /keepgoing Goes on after a file or folder that cannot be read, counts the\n"
         "             rest and ends with exit code 2.\n"
         "  /languages Adds the counts per language: a table after the summary, or\n"
         "             with /format csv one row per language instead of one per file.\n"
         "  /compare:<baseline>\n"
         "             Shows what changed against <baseline>: a JSON document written\n"
         "             with /format json, or a folder or source file counted the same\n"
         "             way.\n";
}

// The report block of `files` files that each hold kSource.
std::string Report(int files) {
  const std::string total = std::to_string(4 * files);
  const auto number = [&](int value) {
    const std::string digits = std::to_string(value);
    return std::string(total.size() + 1 - digits.size(), ' ') + digits + "\n";
  };
  return " (size: " + std::to_string(26 * files) + " bytes, actual: " + std::to_string(22 * files) +
         " bytes)\n" + std::string(53, '-') +
         "\n  Number of lines of code:       " + number(files) +
         "  Number of directive lines:     " + number(files) +
         "  Number of empty lines:         " + number(files) +
         "  Number of comment lines:       " + number(files) +
         "  Number of empty comment lines: " + number(0) + "  " + std::string(43, '-') +
         "\n  Total number of lines:         " + number(4 * files) + std::string(47, '-') + "\n";
}

// The rule, the summary and the closing line of a finished run; T stands for the time.
std::string Closing(int files) {
  return kRule + (files != 0 ? "\nSummary" + Report(files) : std::string()) +
         std::to_string(files) + " file(s) processed in T second(s).\n";
}

// The walk's line for a folder given as "/a/b" below the source folder.
std::string Browsing(std::string folder) {
  for (char& ch : folder) ch = ch == '/' ? kSep : ch;
  return "Browsing folder '" + folder + "'...\n";
}

std::string SourcePath(const fs::path& path) { return "Source path: " + Text(path) + ".\n\n"; }

std::string ErrorWithSystemText(const std::string& text, std::uint32_t win32Code) {
  SystemTextBuffer buffer;
  const std::string system =
      GetSystemErrorText(static_cast<std::uint32_t>(HResultFromWin32(win32Code)), buffer)
          ? ToUtf8(buffer) + "\n"
          : std::string();
  return "ERROR: " + text + "\n" + system;
}

std::string WithEol(const std::string& text) {
  std::string out;
  for (const char ch : text) out += ch == '\n' ? std::string(kEol) : std::string(1, ch);
  return out;
}

// The output with the duration of its closing line replaced by T.
std::string WithoutTime(const std::string& text) {
  const std::string before = " file(s) processed in ";
  const std::size_t start = text.rfind(before);
  const std::size_t end = text.rfind(" second(s).");
  if (start == std::string::npos || end == std::string::npos || end < start) return text;
  return text.substr(0, start + before.size()) + "T" + text.substr(end);
}

std::string Latin1ToUtf8(const std::string& bytes) {
  WString wide;
  for (const char ch : bytes) wide += static_cast<char16_t>(static_cast<unsigned char>(ch));
  return ToUtf8(wide);
}

// Odd byte counts keep their last byte as a NUL-padded unit, so they cannot compare equal.
std::string Utf16LeToUtf8(const std::string& bytes) {
  WString wide;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const auto low = static_cast<unsigned char>(bytes[i]);
    const auto high = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0x100;
    wide += static_cast<char16_t>(low | (high << 8));
  }
  return ToUtf8(wide);
}

struct Outcome {
  int exitCode;
  std::string output;  // decoded to UTF-8, the time replaced
};

Outcome RunTally(std::vector<std::string> args, const fs::path& workingDir = {},
                 const std::function<std::string(const std::string&)>& decode = {},
                 const std::map<std::string, std::string>& env = {}) {
  args.insert(args.begin(), SRCTALLY_EXE);
  const testing::ProcessResult result = testing::RunProcess(args, env, workingDir);
  return {result.exitCode, WithoutTime(decode ? decode(result.stdoutBytes) : result.stdoutBytes)};
}

TEST(ProgramEndToEndTest, ProblemReportsEndWithExitCodeOne) {
  TempDir dir;
  const std::string root = Text(dir.path());
  const std::string missing = Text(dir.path() / "missing");
  const struct {
    std::vector<std::string> args;
    std::string afterBanner;
  } rows[] = {
      {{"/?"}, Usage() + "\n"},
      {{"/h"}, Usage() + "\n"},
      {{missing, "/?"}, Usage() + "\n"},
      {{missing}, Usage() + "\nERROR: the specified path does not exist.\n\n"},
      // An empty path names nothing; it is not the current folder.
      {{""}, Usage() + "\nERROR: the specified path does not exist.\n\n"},
      {{"/subdir", ""}, Usage() + "\nERROR: the specified path does not exist.\n\n"},
      {{"--help", "/foo"}, Usage() + "\nUnknown parameter(s):\n\n\t/foo\n\n"},
      {{root, root}, Usage() + "\nUnknown parameter(s):\n\n\t" + root + "\n\n"},
      {{"/foo", "/display:loud"},
       Usage() + "\nInvalid parameter value(s):\n\n\t/display (expected: normal,verbose)\n\n"
                 "Unknown parameter(s):\n\n\t/foo\n\n"},
      // Nothing typed goes unseen: not after /?, not after a rejected switch.
      {{"/?", root}, Usage() + "\nInvalid parameter value(s):\n\n\t/?\n\n"},
      {{"-", root}, Usage() + "\nUnknown parameter(s):\n\n\t-\n\t" + root + "\n\n"},
      // Echoed as names are: a control character as '?'.
      {{"/\x1b]0;title\x07"}, Usage() + "\nUnknown parameter(s):\n\n\t/?]0;title?\n\n"},
  };
  for (const auto& row : rows) {
    const Outcome run = RunTally(row.args);
    EXPECT_EQ(run.exitCode, 1) << row.args[0];
    EXPECT_EQ(run.output, WithEol(Banner() + row.afterBanner)) << row.args[0];
  }
}

// A character beyond U+FFFF that the narrow text cannot show is one '?', not one for each
// half of its UTF-16 pair.
TEST(ProgramEndToEndTest, ACharacterOutsideTheNarrowTextIsOneQuestionMark) {
  const Outcome run = RunTally({"/\xF0\x9F\x98\x80x\xC3\xA9"}, {}, testing::NarrowTextToUtf8,
                               {{"LC_ALL", "C"}});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("\t/?x" + testing::ShownInNarrowText("\xC3\xA9") + testing::kEol),
            std::string::npos)
      << run.output;
}

TEST(ProgramEndToEndTest, CountingRuns) {
  TempDir dir;
  const fs::path one = dir.Write("tree/one.c", kSource);
  dir.Write("tree/a/two.c", kSource);
  const fs::path three = dir.Write("tree/a/b/three.h", kSource);
  dir.Write("tree/a/notes.txt", kSource);
  const fs::path tree = dir.path() / "tree";
  const fs::path a = tree / "a";
  const fs::path b = a / "b";
  for (const char* name : {"x.c", "y.cpp", "z.java"}) dir.Write(fs::path("three") / name, kSource);
  dir.Write("none/readme.txt", kSource);
  dir.Write("none/sub/x.c", kSource);
  const fs::path none = dir.path() / "none";
  const std::string oneBlock = "\none.c" + Report(1);

  const struct {
    std::vector<std::string> args;
    fs::path workingDir;
    std::string afterBanner;
  } rows[] = {
      {{Text(tree)}, {}, SourcePath(tree) + Browsing("/") + ".\n\n" + Closing(1)},
      {{Text(tree), "/noheader:yes"}, {}, SourcePath(tree) + Browsing("/") + ".\n\n" + Closing(1)},
      {{Text(tree), "/subdir"},
       {},
       SourcePath(tree) + Browsing("/") + ".\n" + Browsing("/a") + ".\n" + Browsing("/a/b") +
           ".\n\n" + Closing(3)},
      {{Text(tree), "/display", "verbose", "/subdir"},
       {},
       "Verbose mode enabled.\nProcessing files in sub-directories.\n\n" + SourcePath(tree) +
           Browsing("/") + oneBlock + "1 file(s) processed.\n\n" + Browsing("/a") + "\ntwo.c" +
           Report(1) + "1 file(s) processed.\n\n" + Browsing("/a/b") + "\nthree.h" + Report(1) +
           "1 file(s) processed.\n\n" + Closing(3)},
      {{Text(tree), "/d:VERB", "/s", "/n"},
       {},
       "Verbose mode enabled.\nHeader files not parsed.\nProcessing files in sub-directories.\n\n" +
           SourcePath(tree) + Browsing("/") + oneBlock + "1 file(s) processed.\n\n" +
           Browsing("/a") + "\ntwo.c" + Report(1) + "1 file(s) processed.\n\n" + Browsing("/a/b") +
           "0 file(s) processed.\n\n" + Closing(2)},
      // A single file: /subdir is cleared, so neither the echo nor the walk shows it.
      {{Text(one), "/display", "verbose", "/subdir"},
       {},
       "Verbose mode enabled.\n\n" + SourcePath(one) + oneBlock + Closing(1)},
      {{Text(three), "/noheader"}, {}, SourcePath(three) + ".\n" + Closing(1)},
      // The path typed after a switch without values is the path counted, not the current
      // folder.
      {{"/subdir", Text(tree)},
       a,
       SourcePath(tree) + Browsing("/") + ".\n" + Browsing("/a") + ".\n" + Browsing("/a/b") +
           ".\n\n" + Closing(3)},
      {{"/noheader", Text(three)}, b, SourcePath(three) + ".\n" + Closing(1)},
      {{"--subdir", "--noheader", "--display=verbose", Text(a)},
       {},
       "Verbose mode enabled.\nHeader files not parsed.\nProcessing files in sub-directories.\n\n" +
           SourcePath(a) + Browsing("/") + "\ntwo.c" + Report(1) + "1 file(s) processed.\n\n" +
           Browsing("/b") + "0 file(s) processed.\n\n" + Closing(1)},
      {{},
       b,
       "For a list of supported parameters use:\tsrctally /?\n\n" + SourcePath(b) + Browsing("/") +
           ".\n\n" + Closing(1)},
      {{"/display"}, b, SourcePath(b) + Browsing("/") + ".\n\n" + Closing(1)},
      {{Text(dir.path() / "three")},
       {},
       SourcePath(dir.path() / "three") + Browsing("/") + "...\n\n" + Closing(3)},
      {{Text(none)}, {}, SourcePath(none) + Browsing("/") + "\n" + Closing(0)},
      {{Text(none), "/display:verbose"},
       {},
       "Verbose mode enabled.\n\n" + SourcePath(none) + Browsing("/") + "0 file(s) processed.\n\n" +
           Closing(0)},
  };
  for (const auto& row : rows) {
    const std::string what = row.args.empty() ? "(none)" : row.args.back();
    const Outcome run = RunTally(row.args, row.workingDir);
    EXPECT_EQ(run.exitCode, 0) << what;
    EXPECT_EQ(run.output, WithEol(Banner() + row.afterBanner)) << what;
  }
}

TEST(ProgramEndToEndTest, HelpAndVersionAskedTheGnuWayEndWithExitCodeZero) {
  const Outcome help = RunTally({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.output, WithEol(Banner() + Usage() + "\n"));
  const std::string title = Banner().substr(0, Banner().find('\n') + 1);
  for (const char* spelling : {"--version", "/version", "--vers"}) {
    const Outcome version = RunTally({spelling});
    EXPECT_EQ(version.exitCode, 0) << spelling;
    EXPECT_EQ(version.output, WithEol(title)) << spelling;
  }
  // Nothing is counted, so the path does not matter.
  EXPECT_EQ(RunTally({"missing", "--version"}).exitCode, 0);
}

TEST(ProgramEndToEndTest, OnePartAbsolutePathIsCountedWhereSlashSeparatesFolders) {
  if (kSep != '/') GTEST_SKIP() << "a '/' argument is always a switch";
  const Outcome root = RunTally({"/"});
  EXPECT_EQ(root.exitCode, 0);
  EXPECT_NE(root.output.find("\nSource path: /.\n"), std::string::npos) << root.output;
}

TEST(ProgramEndToEndTest, FileThatCannotBeCountedEndsTheRunWithExitCodeTwo) {
  TempDir dir;
  // A UTF-16 big-endian byte-order mark: the reader refuses the file.
  const std::string refused = std::string("\xFE\xFF", 2) + "x\n";
  dir.Write("good.c", kSource);
  const fs::path bad = dir.Write("sub/bad.c", refused);
  dir.Write("sub/notes.txt", kSource);
  dir.Write("sub/deeper/x.c", kSource);

  const Outcome walk = RunTally({Text(dir.path()), "/subdir"});
  EXPECT_EQ(walk.exitCode, 2);
  EXPECT_EQ(walk.output,
            WithEol(Banner() + SourcePath(dir.path()) + Browsing("/") + ".\n" + Browsing("/sub") +
                    ErrorWithSystemText("cannot process file 'bad.c'.", win32err::kInvalidData) +
                    ErrorWithSystemText(std::string("cannot search for files in ") + kSep + "sub.",
                                        win32err::kInvalidData)));

  const Outcome single = RunTally({Text(bad), "/display", "verbose"});
  EXPECT_EQ(single.exitCode, 2);
  // An error right after a row of dots continues that row.
  const fs::path dots = dir.path() / "dots";
  dir.Write("dots/a.c", kSource);
  dir.Write("dots/b.c", refused);
  const Outcome row = RunTally({Text(dots)});
  EXPECT_EQ(row.exitCode, 2);
  EXPECT_EQ(
      row.output,
      WithEol(Banner() + SourcePath(dots) + Browsing("/") + "." +
              ErrorWithSystemText("cannot process file 'b.c'.", win32err::kInvalidData).substr(7) +
              ErrorWithSystemText(std::string("cannot search for files in ") + kSep + ".",
                                  win32err::kInvalidData)));

  // A single file that cannot be counted says why, as the walk does for its files.
  EXPECT_EQ(single.output,
            WithEol(Banner() + "Verbose mode enabled.\n\n" + SourcePath(bad) +
                    ErrorWithSystemText("cannot process file 'bad.c'.", win32err::kInvalidData)));
}

TEST(ProgramEndToEndTest, KeepGoingCountsTheRestAndStillEndsWithExitCodeTwo) {
  TempDir dir;
  dir.Write("good.c", kSource);
  dir.Write("sub/bad.c", std::string("\xFE\xFF", 2) + "x\n");  // a mark the reader refuses
  dir.Write("sub/deeper/x.c", kSource);
  const std::string expected =
      Banner() + SourcePath(dir.path()) + Browsing("/") + ".\n" + Browsing("/sub") +
      ErrorWithSystemText("cannot process file 'bad.c'.", win32err::kInvalidData) +
      Browsing("/sub/deeper") + ".\n\n" + Closing(2) + "ERROR: 1 file(s) could not be counted.\n";
  const struct {
    const char* keepGoing;
    const char* threads;
  } spellings[] = {{"/keepgoing", "1"}, {"/k", "3"}, {"--keep-going", "3"}, {"-keep", "1"}};
  for (const auto& [keepGoing, threads] : spellings) {
    const Outcome run = RunTally({Text(dir.path()), "/subdir", keepGoing}, {}, {},
                                 {{"SRCTALLY_THREADS", threads}});
    EXPECT_EQ(run.exitCode, 2) << keepGoing << ", " << threads;
    EXPECT_EQ(run.output, WithEol(expected)) << keepGoing << ", " << threads;
  }
  // A path after the switch is the path; a single file that fails still gets its closing.
  const Outcome single = RunTally({"/keepgoing", Text(dir.path() / "sub" / "bad.c")});
  EXPECT_EQ(single.exitCode, 2);
  EXPECT_EQ(single.output,
            WithEol(Banner() + SourcePath(dir.path() / "sub" / "bad.c") +
                    ErrorWithSystemText("cannot process file 'bad.c'.", win32err::kInvalidData) +
                    "\n" + Closing(0) + "ERROR: 1 file(s) could not be counted.\n"));
  // Nothing failed: the usual run and exit code 0.
  const Outcome fine = RunTally({Text(dir.path() / "sub" / "deeper"), "--keep-going"});
  EXPECT_EQ(fine.exitCode, 0);
  EXPECT_EQ(fine.output, WithEol(Banner() + SourcePath(dir.path() / "sub" / "deeper") +
                                 Browsing("/") + ".\n\n" + Closing(1)));
}

// A report many times the size of an output block, broken off by a failure at its end:
// every byte arrives, in order, whatever the number of threads.
TEST(ProgramEndToEndTest, ALongReportArrivesWholeUpToItsFailure) {
  TempDir dir;
  std::string blocks;
  for (int i = 0; i < 800; ++i) {
    const std::string name = "file" + std::to_string(1000 + i) + ".c";
    dir.Write(name, kSource);
    blocks += "\n" + name + Report(1);
  }
  dir.Write("sub/bad.c", std::string("\xFE\xFF", 2) + "x\n");
  const std::string expected =
      WithEol(Banner() + "Verbose mode enabled.\nProcessing files in sub-directories.\n\n" +
              SourcePath(dir.path()) + Browsing("/") + blocks + "800 file(s) processed.\n\n" +
              Browsing("/sub") +
              ErrorWithSystemText("cannot process file 'bad.c'.", win32err::kInvalidData) +
              ErrorWithSystemText(std::string("cannot search for files in ") + kSep + "sub.",
                                  win32err::kInvalidData));
  ASSERT_GT(expected.size(), 4u * 64 * 1024);
  for (const char* threads : {"1", "3"}) {
    const Outcome run = RunTally({Text(dir.path()), "/subdir", "/display", "verbose"}, {}, {},
                                 {{"SRCTALLY_THREADS", threads}});
    EXPECT_EQ(run.exitCode, 2) << threads;
    EXPECT_TRUE(run.output == expected)
        << threads << ": " << run.output.size() << " bytes of " << expected.size();
  }
}

TEST(ProgramEndToEndTest, ControlCharactersInNamesArePrintedAsQuestionMarks) {
  if (kSep != '/') GTEST_SKIP() << "Windows names cannot hold control characters";
  TempDir dir;
  // A line feed that would forge a report line and an escape sequence for the terminal.
  const fs::path file = dir.Write("a\nb\x1b[31m.c", kSource);
  std::string shownPath = Text(file);
  for (char& ch : shownPath) ch = (ch == '\n' || ch == '\x1b') ? '?' : ch;
  const Outcome run = RunTally({Text(file), "/display", "verbose"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, Banner() + "Verbose mode enabled.\n\nSource path: " + shownPath +
                            ".\n\n\na?b?[31m.c" + Report(1) + Closing(1));
}

// A character the narrow encoding cannot show ('€' in Latin-1, most CJK in a Western code
// page) is written as "?", and everything after it still comes out, in every mode.
TEST(ProgramEndToEndTest, NamesTheNarrowEncodingCannotShowLoseNothing) {
  TempDir dir;
  const fs::path folder = dir.path() / fs::path(u8"\u20ac \u4e2d");
  const std::string file = "\xC3\xA9\xE2\x82\xACx.c";  // e-acute, euro sign, "x.c"
  dir.Write(folder / fs::path(std::u8string(file.begin(), file.end())), kSource);
  const auto expected = [&](const std::function<std::string(const std::string&)>& shown) {
    return WithEol(Banner() + "Verbose mode enabled.\n\nSource path: " + shown(Text(folder)) +
                   ".\n\n" + Browsing("/") + "\n" + shown(file) + Report(1) +
                   "1 file(s) processed.\n\n" + Closing(1));
  };
  const auto same = [](const std::string& text) { return text; };
  const std::map<std::string, std::string> cLocale = {{"LC_ALL", "C"}};
  const struct {
    const char* mode;
    std::function<std::string(const std::string&)> decode;
    std::function<std::string(const std::string&)> shown;
  } rows[] = {
      {"", testing::NarrowTextToUtf8, testing::ShownInNarrowText},  // the default: text
      {"text", testing::NarrowTextToUtf8, testing::ShownInNarrowText},
      {"utf8", same, same},
      {"unicode", Utf16LeToUtf8, same},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = {Text(folder), "/display", "verbose"};
    if (*row.mode != '\0') args.push_back(row.mode);
    const Outcome run = RunTally(args, {}, row.decode, cLocale);
    EXPECT_EQ(run.exitCode, 0) << row.mode;
    EXPECT_EQ(run.output, expected(row.shown)) << row.mode;
  }
}

TEST(ProgramEndToEndTest, OutputModesEncodeTheWholeRun) {
  TempDir dir;
  // A folder name beyond ASCII shows the encoding in the source path line.
  const fs::path folder = dir.path() / fs::path(u8"\u00fc");
  dir.Write(folder / "a.c", kSource);
  const std::string expected =
      WithEol(Banner() + SourcePath(folder) + Browsing("/") + ".\n\n" + Closing(1));
  const std::map<std::string, std::string> cLocale = {{"LC_ALL", "C"}};
  const struct {
    std::vector<std::string> args;
    std::function<std::string(const std::string&)> decode;
  } rows[] = {
      {{Text(folder)}, Latin1ToUtf8},
      {{Text(folder), "/display", "normal", "text"}, Latin1ToUtf8},
      {{Text(folder), "/display", "normal", "utf8"}, {}},
      {{Text(folder), "/display", "normal", "unicode"}, Utf16LeToUtf8},
  };
  for (const auto& row : rows) {
    const Outcome run = RunTally(row.args, {}, row.decode, cLocale);
    EXPECT_EQ(run.exitCode, 0) << row.args.back();
    EXPECT_EQ(run.output, expected) << row.args.back();
  }
}

// Leaving files out: the examples of the README on a repository whose root lies above the
// counted folder. Every folder that stays is the only one of its parent, so the output does
// not depend on the order in which a platform lists sibling folders.
TEST(ProgramEndToEndTest, ExcludePatternsAndIgnoreRulesLeaveFilesOut) {
  TempDir dir;
  dir.Write("repo/.git/HEAD", "ref: refs/heads/main\n");
  dir.Write("repo/.git/info/exclude", "*.tmp.c\n");
  dir.Write("repo/.gitignore", "*.gen.c\nbuild/\nnode_modules/\n/code/third_party\n");
  for (const char* name : {"main.c", "x.gen.c", "build/out.c", "third_party/lib.c",
                           "node_modules/m.js", "src/a.c", "src/keep.gen.c", "src/t.tmp.c"}) {
    dir.Write(fs::path("repo/code") / name, kSource);
  }
  dir.Write("repo/code/src/.gitignore", "!keep.gen.c\n");
  const fs::path code = dir.path() / "repo" / "code";
  dir.Write("v/a.c", kSource);
  dir.Write("v/gen/x.c", kSource);
  const fs::path v = dir.path() / "v";

  const std::string excluded =
      SourcePath(code) + Browsing("/") + "..\n" + Browsing("/src") + "...\n\n" + Closing(5);
  const struct {
    std::vector<std::string> args;
    fs::path workingDir;
    std::string afterBanner;
  } rows[] = {
      {{".", "/subdir", "/exclude:build,third_party,node_modules"}, code, excluded},
      {{"--subdir", "--exclude=build", "--exclude=third_party;node_modules", Text(code)},
       {},
       excluded},
      {{".", "/subdir", "/gitignore"},
       code,
       SourcePath(code) + Browsing("/") + ".\n" + Browsing("/src") + "..\n\n" + Closing(3)},
      {{Text(code), "/s", "/g", "/e:src/a.c,main.*"},
       {},
       SourcePath(code) + Browsing("/") + Browsing("/src") + ".\n\n" + Closing(1)},
      // Without /subdir no folder is walked, so none is skipped either.
      {{Text(code), "/exclude:src"}, {}, SourcePath(code) + Browsing("/") + "..\n\n" + Closing(2)},
      {{Text(v), "/display:verbose", "/subdir", "/exclude:gen"},
       {},
       "Verbose mode enabled.\nProcessing files in sub-directories.\nExcluded: gen.\n\n" +
           SourcePath(v) + Browsing("/") + "\na.c" + Report(1) + "1 file(s) processed.\n\n" +
           "Skipping folder '" + kSep + "gen': excluded.\n" + Closing(1)},
  };
  for (const auto& row : rows) {
    const std::string what = row.args.back();
    const Outcome run = RunTally(row.args, row.workingDir);
    EXPECT_EQ(run.exitCode, 0) << what;
    EXPECT_EQ(run.output, WithEol(Banner() + row.afterBanner)) << what;
  }

  // A pattern that matches nothing at all is a problem of the command line.
  const Outcome bad = RunTally({Text(code), "/exclude:/"});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_EQ(bad.output, WithEol(Banner() + "Invalid parameter value(s):\n\n\t/exclude\n\n"));
}

}  // namespace
}  // namespace srctally
