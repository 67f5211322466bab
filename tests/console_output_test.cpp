// Console bytes in each output mode, path shortening, and the progress line.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/compact_path_middle.h"
#include "base/console_encoding.h"
#include "platform/file_system.h"
#include "report/text_report_sink.h"
#include "testing/test_console.h"

namespace srctally {
namespace {

using testing::FakeConsoleSink;
using testing::TestConsole;

TEST(ConsoleEncodingTest, BytesPerMode) {
  const WString text = u"a\u00E9\u20AC\n";
  struct Row {
    std::uint32_t mode;
    ConsoleCharset narrow;
    bool crlf;
    std::string bytes;
  } rows[] = {
      {translation::kText, ConsoleCharset::kUtf8, false, "a\xC3\xA9\xE2\x82\xAC\n"},
      {translation::kText, ConsoleCharset::kLatin1, false, "a\xE9?\n"},
      {translation::kText, ConsoleCharset::kLatin1, true, "a\xE9?\r\n"},
      {translation::kUtf8, ConsoleCharset::kLatin1, true, "a\xC3\xA9\xE2\x82\xAC\r\n"},
      {translation::kUnicode, ConsoleCharset::kUtf8, false,
       std::string("a\0\xE9\0\xAC\x20\n\0", 8)},
      {translation::kUnicode, ConsoleCharset::kUtf8, true,
       std::string("a\0\xE9\0\xAC\x20\r\0\n\0", 10)},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(EncodeConsoleText(text, EncodingForMode(row.mode, row.narrow, row.crlf)), row.bytes)
        << row.mode << " crlf " << row.crlf;
  }
}

TEST(ConsoleEncodingTest, FileNameBytesAndPairsInNarrowText) {
  const WString name = FromUtf8Lossless("x\xFF\xC3(");  // not UTF-8: kept as escaped bytes
  EXPECT_EQ(EncodeConsoleText(name, {ConsoleCharset::kUtf8, false}), "x\xFF\xC3(");
  EXPECT_EQ(EncodeConsoleText(name, {ConsoleCharset::kLatin1, false}), "x\xFF\xC3(");
  EXPECT_EQ(EncodeConsoleText(u"\U0001F600\n\n", {ConsoleCharset::kLatin1, true}), "?\r\n\r\n");
  // A terminal gets valid text instead: U+FFFD, or "?" where the charset has none.
  EXPECT_EQ(EncodeConsoleText(name, {ConsoleCharset::kUtf8, false, true}),
            "x\xEF\xBF\xBD\xEF\xBF\xBD(");
  EXPECT_EQ(EncodeConsoleText(name, {ConsoleCharset::kLatin1, false, true}), "x?\?(");
  EXPECT_EQ(EncodeConsoleText(name, {ConsoleCharset::kUtf16Le, false, true}),
            std::string("x\0\xFD\xFF\xFD\xFF(\0", 8));
}

// The allocation-free encoder of the last words writes what the console writes, and a
// buffer too small for the whole text ends it after its last whole character.
TEST(ConsoleEncodingTest, FixedBufferBytesMatchTheConsoleBytes) {
  const WString texts[] = {u"a\u00E9\u20AC\n", FromUtf8Lossless("x\xFF\xC3(\n"), u"\U0001F600\n\n",
                           WString(u"\xD800x\xDC00", 3), u""};
  for (const ConsoleCharset charset :
       {ConsoleCharset::kUtf8, ConsoleCharset::kLatin1, ConsoleCharset::kUtf16Le}) {
    for (const bool crlf : {false, true}) {
      const ConsoleEncoding encoding{charset, crlf};
      for (const WString& text : texts) {
        const std::string expected = EncodeConsoleText(text, encoding);
        char out[64];
        ASSERT_EQ(EncodeConsoleBytes(text, encoding, out, sizeof(out)), expected.size());
        EXPECT_EQ(std::string(out, expected.size()), expected) << ToUtf8(text);
      }
    }
  }
  char out[8];
  EXPECT_EQ(EncodeConsoleBytes(u"ab\u20AC\u20AC", {ConsoleCharset::kUtf8, false}, out, 6), 5u);
  EXPECT_EQ(std::string(out, 5), "ab\xE2\x82\xAC");
  EXPECT_EQ(EncodeConsoleBytes(u"\U0001F600", {ConsoleCharset::kUtf16Le, false}, out, 3), 0u);
  EXPECT_EQ(EncodeConsoleBytes(u"a\n", {ConsoleCharset::kUtf16Le, true}, out, 8), 6u);
  EXPECT_EQ(std::string(out, 6), std::string("a\0\r\0\n\0", 6));
}

// Long ASCII runs are copied whole; around them every other character, line feed and raw
// name byte must come out as the character-by-character encoder writes it.
TEST(ConsoleEncodingTest, RandomTextMatchesTheCharacterEncoder) {
  const char16_t pieces[] = {u'a', u' ',   u'\n',  u'\r',  u'~',   0x7F,   0x80,
                             0xE9, 0x20AC, 0xD83D, 0xDE00, 0xDC80, 0xDCFF, 0xFFFD};
  std::mt19937 random(12);
  std::vector<char> out(1 << 16);
  for (int round = 0; round < 300; ++round) {
    WString text;
    const int length = static_cast<int>(random() % 200);
    for (int k = 0; k < length; ++k) {
      // Mostly ASCII, as a report is, in runs of varying length.
      if (random() % 3 != 0) {
        text.append(random() % 20, static_cast<char16_t>(u'a' + random() % 26));
      } else {
        text += pieces[random() % std::size(pieces)];
      }
    }
    for (const ConsoleCharset charset :
         {ConsoleCharset::kUtf8, ConsoleCharset::kLatin1, ConsoleCharset::kUtf16Le}) {
      for (const int flags : {0, 1, 2, 3}) {
        const ConsoleEncoding encoding{charset, (flags & 1) != 0, (flags & 2) != 0};
        std::string appended = "x";  // appending keeps what was there
        AppendConsoleBytes(appended, text, encoding);
        std::string expected = "x";
        expected.append(out.data(), EncodeConsoleBytes(text, encoding, out.data(), out.size()));
        ASSERT_EQ(appended, expected) << round << " " << static_cast<int>(charset) << " " << flags;
      }
    }
  }
}

TEST(CompactPathTest, MiddleEllipsisWithinBudget) {
  struct Row {
    const char16_t* path;
    std::size_t budget;
    const char16_t* shown;
  } rows[] = {
      {u"/src/a.c", 40, u"/src/a.c"},
      {u"/home/user/projects/very/deep/folder/file.cpp", 20, u"/home/u.../file.cpp"},
      {u"/home/user/projects/very/deep/folder/file.cpp", 46,
       u"/home/user/projects/very/deep/folder/file.cpp"},
      {u"/home/user/projects/very/deep/folder/file.cpp", 45,
       u"/home/user/projects/very/deep/fo.../file.cpp"},
      {u"/a/averyveryverylongfilename.cpp", 12, u"averyver..."},
      {u"nofolder-at-all-long-name", 10, u"nofold..."},
      {u"/abc/def", 3, u".."},
      {u"/abc/def", 1, u""},
  };
  for (const Row& row : rows) {
    const WString shown = CompactPathMiddle(row.path, row.budget, u'/');
    EXPECT_EQ(shown, row.shown) << ToUtf8(row.path) << " " << row.budget;
    EXPECT_LT(shown.size(), std::max<std::size_t>(row.budget, 1));
  }
}

struct ProgressFixture : ::testing::Test {
  explicit ProgressFixture(bool terminal = true) : sink(terminal) {}
  FakeConsoleSink sink;
  TestConsole console{sink};
};

struct TerminalProgressTest : ProgressFixture {
  TerminalProgressTest() : ProgressFixture(true) {}
};
struct RedirectedProgressTest : ProgressFixture {
  RedirectedProgressTest() : ProgressFixture(false) {}
};

const std::string kClear = "\r" + std::string(78, ' ') + "\r";

TEST_F(TerminalProgressTest, UpdatesRewriteTheLineAndTheFinalLineClearsIt) {
  CConsoleProgressPath scope(console, u"/src/a.c");
  console.WriteProgress(u"%d%%", 10);
  console.WriteProgress(u"%d%%", 100);
  console.WriteProgress(u"done\n");
  EXPECT_EQ(sink.Text(), "\r/src/a.c: 10%\r/src/a.c: 100%" + kClear + "\r/src/a.c: done\n");
  EXPECT_TRUE(console.progressPath().empty());
  EXPECT_EQ(console.outputCount(), 4u);
}

TEST_F(TerminalProgressTest, LongPathIsShortenedShortPathKept) {
  const char16_t separator = platform::PathSeparator();
  WString path;
  for (const char16_t* part : {u"home", u"user", u"projects", u"very", u"deep", u"file.cpp"}) {
    path += separator;
    path += part;
  }
  CConsoleProgressPath scope(console, path);
  console.progressWidth_ = 20;
  console.WriteProgress(u"1");
  const WStringView shown = WStringView(sink.written).substr(1, sink.written.size() - 4);
  EXPECT_EQ(sink.written.front(), u'\r');
  EXPECT_TRUE(sink.written.ends_with(u"file.cpp: 1")) << sink.Text();
  EXPECT_NE(shown.find(u"..."), WStringView::npos) << sink.Text();
  EXPECT_LT(shown.size(), 20u) << sink.Text();

  sink.written.clear();
  // One spare character: where exactly the platform starts shortening is its own choice.
  console.progressWidth_ = static_cast<std::int32_t>(path.size() + 2);
  console.WriteProgress(u"2");
  EXPECT_EQ(sink.written, u"\r" + path + u": 2");
}

TEST_F(TerminalProgressTest, MessageFinishesTheOpenLine) {
  CConsoleProgressPath scope(console, u"/p");
  console.WriteProgress(u"50%%");
  WriteLine(console, u"next");
  EXPECT_EQ(sink.Text(), "\r/p: 50%" + kClear + "\r/p: \nnext\n");
}

TEST_F(TerminalProgressTest, ScopeEndClosesWithoutWriting) {
  {
    CConsoleProgressPath scope(console, u"/p");
    EXPECT_EQ(console.progressPath(), u"/p");
  }
  EXPECT_TRUE(console.progressPath().empty());
  WriteLine(console, u"plain");
  EXPECT_EQ(sink.Text(), "plain\n");
}

TEST_F(TerminalProgressTest, LevelsGateTheLine) {
  CConsoleProgressPath scope(console, u"/p");
  console.displayLevel_ = display::kNone;
  console.WriteProgress(u"x");
  console.WriteProgress(u"y\n");
  EXPECT_EQ(sink.Text(), "");
  console.SetProgressPath(u"/p");
  console.displayLevel_ = display::kProgress;
  console.WriteProgress(u"x");
  EXPECT_EQ(sink.Text(), "\r/p: x");
}

TEST_F(TerminalProgressTest, ControlCharactersOfThePathAreShownAsQuestionMarks) {
  CConsoleProgressPath scope(console, u"/a\x1b[2J\nb.c");
  console.WriteProgress(u"1");
  EXPECT_EQ(sink.Text(), "\r/a?[2J?b.c: 1");
}

// The walk asks its report whether anybody still reads; the report asks the console.
TEST(ConsoleOutputFailureTest, AFailedOutputEndsTheWalksWish) {
  FakeConsoleSink sink;
  TestConsole console(sink);
  CTextReportSink report(console, false);
  report.SetOutputFailedQuery(CBaseConsole::OutputFailedAt, &console);
  EXPECT_TRUE(report.WantsMore());
  sink.failureCode = 112;  // the disk is full
  EXPECT_TRUE(console.OutputFailed());
  EXPECT_FALSE(report.WantsMore());
}

TEST_F(RedirectedProgressTest, OnlyTheFinalLineWithTheFullPath) {
  CConsoleProgressPath scope(console, u"/home/user/projects/very/deep/folder/file.cpp");
  console.WriteProgress(u"%d", 1);
  console.WriteProgress(u"%d", 2);
  console.WriteProgress(u"done\n");
  EXPECT_EQ(sink.Text(), "/home/user/projects/very/deep/folder/file.cpp: done\n");
}

}  // namespace
}  // namespace srctally
