// Message composition: headers, prefixes, line continuation, error lines, gating, queries.
#include "console/message_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/test_console.h"

namespace srctally {
namespace {

using testing::FakeConsoleSink;
using testing::TestConsole;

struct ConsoleFixture : ::testing::Test {
  FakeConsoleSink sink;
  TestConsole console{sink};
  std::string Out() const { return sink.Text(); }
};

using MessageWriterTest = ConsoleFixture;

TEST_F(MessageWriterTest, TextLinesAndNullText) {
  WriteLine(console);
  EXPECT_EQ(Out(), "\n");
  WriteText(console, u"%d file(s)", 3);
  EXPECT_FALSE(console.atLineStart());
  WriteLine(console, u" done in %s.", u"1 second");
  EXPECT_EQ(Out(), "\n3 file(s) done in 1 second.\n");
  EXPECT_TRUE(console.atLineStart());
  EXPECT_EQ(console.outputCount(), 3u);
  EXPECT_EQ(sink.flushes, 3);
}

TEST_F(MessageWriterTest, LiteralTextKeepsPercentSigns) {
  WriteLiteral(console, u"100%d %s\n");
  WriteText(console, u"50%% %d\n", 7);
  EXPECT_EQ(Out(), "100%d %s\n50% 7\n");
}

TEST_F(MessageWriterTest, PrefixesAndIndentation) {
  console.headerOptions_ = msg::kHeaderKindPrefix;
  WriteError(console, u"cannot open '%s'.", 0, u"a.c");
  console.Write(u"low disk", msg::kKindWarning | msg::kAppendNewLine, 0, {});
  console.Write(u"never", msg::kKindDebug | msg::kAppendNewLine, 0, {});
  console.Indent(true);
  WriteError(console, u"indented", 0);
  console.headerOptions_ |= msg::kHeaderPrefixFirst;
  WriteError(console, u"prefix first", 0);
  console.Indent(false);
  console.Indent(false);
  WriteLine(console, u"no indent below zero");
  EXPECT_EQ(Out(),
            "ERROR: cannot open 'a.c'.\n"
            "WARNING: low disk\n"
            "  ERROR: indented\n"
            "ERROR:   prefix first\n"
            "no indent below zero\n");
}

TEST_F(MessageWriterTest, ErrorContinuesAnOpenLineAndAlwaysEndsIt) {
  console.headerOptions_ = msg::kHeaderKindPrefix;
  WriteText(console, u"...");
  console.Write(u"failed", msg::kKindError | msg::kNoHeader, 0, {});
  console.Write(u"ends\n", msg::kKindError, 0, {});
  EXPECT_EQ(Out(), "...failed\nERROR: ends\n\n");
}

TEST_F(MessageWriterTest, NegativeCodeAddsTheSystemTextLine) {
  console.headerOptions_ = msg::kHeaderKindPrefix;
  WriteError(console, u"cannot read.", static_cast<HResult>(0x80070002u));
  const std::string out = Out();
  ASSERT_EQ(out.rfind("ERROR: cannot read.\n", 0), 0u) << out;
  const std::string second = out.substr(20);
  EXPECT_GT(second.size(), 5u);
  EXPECT_EQ(second.substr(second.size() - 5), " (2)\n") << second;
  EXPECT_EQ(second.find("ERROR:"), std::string::npos);
}

TEST_F(MessageWriterTest, UnknownSystemCodeLeavesOutTheSecondLine) {
  WriteError(console, u"odd", static_cast<HResult>(0xA0F1FFFEu));
  EXPECT_EQ(Out(), "odd\n");
}

TEST_F(MessageWriterTest, ResourceTexts) {
  console.headerOptions_ = msg::kHeaderKindPrefix;
  WriteErrorId(console, 12345);
  WriteErrorId(console, 27009 + 0x10000, u"C:\\dumps\\x.dmp");
  EXPECT_EQ(Out(),
            "ERROR: \n"
            "ERROR: the program stopped unexpectedly; a crash dump was written to "
            "'C:\\dumps\\x.dmp'.\n");
  EXPECT_TRUE(ResourceString(1).empty());
}

TEST_F(MessageWriterTest, TimeStampHeader) {
  console.headerOptions_ = msg::kHeaderTimeStamp | msg::kHeaderKindPrefix;
  WriteError(console, u"x", 0);
  const std::string out = Out();
  const std::size_t separator = out.find(" - ERROR: x\n");
  ASSERT_NE(separator, std::string::npos) << out;
  EXPECT_GT(separator, 8u);  // a date, a blank and a time come first
  EXPECT_EQ(out.size(), separator + 12);
}

TEST_F(MessageWriterTest, DisplayLevelGatesOutputButNotComposition) {
  for (std::uint32_t level : {display::kNone, display::kProgress}) {
    console.displayLevel_ = level;
    WriteText(console, u"hidden");
    EXPECT_FALSE(console.atLineStart());
    WriteLine(console);
    EXPECT_TRUE(console.atLineStart());
  }
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(console.outputCount(), 0u);
  console.displayLevel_ = display::kVerbose;
  WriteLine(console, u"shown");
  EXPECT_EQ(Out(), "shown\n");
}

TEST_F(MessageWriterTest, QueryShowsChoicesAndMatchesKeys) {
  sink.keys = {u'x', u'n', u'y'};
  const std::int32_t result = console.Write(
      u"Continue?", msg::kKindQuery | msg::kButtonYes | msg::kButtonNo | msg::kButtonCancel, 0, {});
  EXPECT_EQ(result, 7);  // x is swallowed, lower-case n answers No
  EXPECT_EQ(Out(), "Continue? (Yes/No/Cancel): n\n");
  EXPECT_TRUE(console.atLineStart());
  EXPECT_EQ(sink.keysRead, 2);
}

TEST_F(MessageWriterTest, QueryRows) {
  struct Row {
    std::uint32_t buttons;
    char16_t key;
    std::int32_t result;
  } rows[] = {
      {msg::kButtonOk, u'o', 1},
      {msg::kButtonCancel | msg::kButtonOk, u'C', 2},
      {msg::kButtonAbort | msg::kButtonRetry | msg::kButtonIgnore, u'i', 5},
      {msg::kButtonRetry, u'r', 4},
      {msg::kButtonYes | msg::kButtonNo, u'Y', 6},
  };
  for (const Row& row : rows) {
    sink.keys = {row.key};
    EXPECT_EQ(console.Prompt(row.buttons), row.result) << row.buttons;
  }
}

TEST_F(MessageWriterTest, QueryWithoutButtonsOrInputEndsAtOnce) {
  sink.keys = {u'y'};
  EXPECT_EQ(console.Prompt(0), 0);
  EXPECT_EQ(sink.keysRead, 0);
  sink.keys.clear();
  EXPECT_EQ(console.Prompt(msg::kButtonYes), 0);  // input closed
}

TEST_F(MessageWriterTest, QueryAtLevelNoneStillReadsKeys) {
  console.displayLevel_ = display::kNone;
  sink.keys = {u'a'};
  EXPECT_EQ(console.Write(u"Stop?", msg::kKindQuery | msg::kButtonAbort, 0, {}), 3);
  EXPECT_EQ(Out(), "");
}

TEST_F(MessageWriterTest, RowsOfDotsKeepTheirHeadersAtLineStarts) {
  // A folder's row of dots, broken by a warning and by an error, as the report writes it:
  // the header (indentation, kind prefix) only where a line starts.
  console.headerOptions_ = msg::kHeaderKindPrefix;
  console.Indent(true);
  WriteLine(console, u"Browsing folder '%s'...", u"/a");
  WriteLiteral(console, u".");
  WriteText(console, u".");
  console.Write(u"low disk", msg::kKindWarning | msg::kAppendNewLine, 0, {});
  EXPECT_TRUE(console.atLineStart());
  WriteLiteral(console, u".");
  EXPECT_FALSE(console.atLineStart());
  WriteLine(console);
  console.Write(u"kept", msg::kKindWarning | msg::kAppendNewLine, 0, {});
  WriteLiteral(console, u".");
  WriteError(console, u"cannot read '%s'.", 0, u"b.c");
  WriteLiteral(console, u".");
  WriteLiteral(console, u"");  // nothing written still leaves the line open
  EXPECT_FALSE(console.atLineStart());
  WriteLine(console);
  EXPECT_EQ(Out(),
            "  Browsing folder '/a'...\n"
            "  ..low disk\n"
            "  .\n"
            "  WARNING: kept\n"
            "  .cannot read 'b.c'.\n"
            "  .\n");
}

TEST_F(MessageWriterTest, TimeStampOncePerLineOfDots) {
  console.headerOptions_ = msg::kHeaderTimeStamp;
  for (int k = 0; k < 3; ++k) WriteLiteral(console, u".");
  WriteLine(console);
  WriteLiteral(console, u".");
  const std::string out = Out();
  const std::size_t first = out.find(" - ...\n");
  ASSERT_NE(first, std::string::npos) << out;
  EXPECT_EQ(out.find(" - ", first + 1), out.size() - 4) << out;  // the second line's stamp
  EXPECT_EQ(out.substr(out.size() - 4), " - .");
}

TEST_F(MessageWriterTest, LongLineThenShortOnesComeOutWhole) {
  const std::u16string longText(20000, u'x');
  WriteLiteral(console, longText);
  WriteLine(console);
  WriteText(console, u"%d", 5);
  WriteText(console, u".");
  WriteLine(console, u"50%% done");
  EXPECT_EQ(Out(), std::string(20000, 'x') + "\n5.50% done\n");
}

// A writer whose Output writes a message of its own before it takes the line it was given,
// as a console that first ends a progress line may.
class NestingWriter : public CMessageWriter {
 public:
  void Output(WStringView line) override {
    if (!nested_) {
      nested_ = true;
      WriteLine(*this, u"inner %d", 2);
      nested_ = false;
    }
    lines.emplace_back(line);
  }
  std::vector<WString> lines;

 private:
  bool nested_ = false;
};

TEST(MessageWriterBaseTest, OutputThatWritesKeepsTheOuterLine) {
  NestingWriter writer;
  WriteLine(writer, u"outer %d", 1);
  WriteLiteral(writer, u".");
  ASSERT_EQ(writer.lines.size(), 4u);
  EXPECT_EQ(writer.lines[0], u"inner 2\n");
  EXPECT_EQ(writer.lines[1], u"outer 1\n");
  EXPECT_EQ(writer.lines[2], u"inner 2\n");
  EXPECT_EQ(writer.lines[3], u".");
}

TEST(MessageWriterBaseTest, BaseWriterDiscardsAndAnswersZero) {
  CMessageWriter writer;
  EXPECT_EQ(writer.Write(u"q", msg::kKindQuery | msg::kButtonOk, 0, {}), 0);
  WriteText(writer, u"abc");
  EXPECT_FALSE(writer.atLineStart());
  WStringView prefix;
  EXPECT_FALSE(writer.GetKindPrefix(msg::kKindText, prefix));
  EXPECT_TRUE(writer.GetKindPrefix(msg::kKindDebug, prefix));
  EXPECT_EQ(prefix, u"DEBUG:");
}

}  // namespace
}  // namespace srctally
