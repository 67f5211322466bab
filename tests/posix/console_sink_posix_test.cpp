// The POSIX console sink on a redirected standard output: bytes per mode and writing in
// blocks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "console/message_writer.h"
#include "platform/byte_output.h"
#include "platform/console_sink.h"
#include "testing/temp_dir.h"

namespace srctally {
namespace {

class RedirectedStdout {
 public:
  explicit RedirectedStdout(const std::filesystem::path& file) {
    std::fflush(stdout);
    saved_ = ::dup(1);
    const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::close(fd);
  }
  ~RedirectedStdout() {
    ::dup2(saved_, 1);
    ::close(saved_);
  }

 private:
  int saved_;
};

std::string ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Redirected output waits, line ends and flushes included, until FlushAll or a full block:
// a report of many short lines costs few writes.
TEST(ConsoleSinkPosixTest, ModesAndBlockedRedirectedOutput) {
  testing::TempDir dir;
  const auto file = dir.path() / "out.txt";
  {
    RedirectedStdout redirect(file);
    auto sink = platform::CreateStandardOutputSink();
    EXPECT_FALSE(sink->IsTerminal());
    sink->Write(u"a.");
    sink->Flush();
    sink->Write(u".");
    sink->Flush();
    sink->Write(u"\n");
    sink->Flush();
    EXPECT_EQ(ReadAll(file), "");  // waits for more
    sink->FlushAll();
    EXPECT_EQ(ReadAll(file), "a..\n");
    sink->SetMode(translation::kUnicode);
    sink->Write(u"b\n");
    sink->SetMode(translation::kUtf8);
    sink->Write(u"\u00E9");
  }  // the sink's end writes what is left
  EXPECT_EQ(ReadAll(file), std::string("a..\nb\0\n\0\xC3\xA9", 10));
}

TEST(ConsoleSinkPosixTest, AFullBlockIsWrittenWithoutAFlush) {
  testing::TempDir dir;
  const auto file = dir.path() / "out.txt";
  RedirectedStdout redirect(file);
  auto sink = platform::CreateStandardOutputSink();
  const WString line = WString(99, u'x') + u"\n";
  std::size_t written = 0;
  while (ReadAll(file).empty() && written < (1u << 20)) {
    sink->Write(line);
    sink->Flush();
    written += line.size();
  }
  const std::string out = ReadAll(file);
  EXPECT_GE(out.size(), 32u * 1024);  // one block, not a line at a time
  EXPECT_LE(out.size(), written);
  sink->FlushAll();
  EXPECT_EQ(ReadAll(file).size(), written);
}

// A line for standard error comes after the report text written before it, when both go
// to one file or pipe.
TEST(ConsoleSinkPosixTest, StandardErrorWaitsForTheReportBeforeIt) {
  testing::TempDir dir;
  const auto file = dir.path() / "out.txt";
  RedirectedStdout redirect(file);
  const int savedError = ::dup(2);
  ::dup2(1, 2);
  {
    auto sink = platform::CreateStandardOutputSink();
    sink->Write(u"report\n");
    platform::WriteStandardError(u"problem\n");
    sink->Write(u"more\n");
  }
  ::dup2(savedError, 2);
  ::close(savedError);
  EXPECT_EQ(ReadAll(file), "report\nproblem\nmore\n");
}

// The last words go out at once, after the bytes still waiting, in the current mode; the
// waiting bytes are not written a second time when the sink ends.
TEST(ConsoleSinkPosixTest, UrgentTextFollowsTheWaitingBytes) {
  testing::TempDir dir;
  const auto file = dir.path() / "out.txt";
  {
    RedirectedStdout redirect(file);
    auto sink = platform::CreateStandardOutputSink();
    sink->SetMode(translation::kUtf8);
    sink->Write(u"..");
    sink->Flush();
    sink->WriteUrgently(u"ERROR: \u00E9 \U0001F600\n");
    EXPECT_EQ(ReadAll(file), "..ERROR: \xC3\xA9 \xF0\x9F\x98\x80\n");
    sink->SetMode(translation::kUnicode);
    const WString longText = WString(1500, u'x');
    sink->WriteUrgently(longText.c_str());  // cut at 1,024 characters
  }
  const std::string all = ReadAll(file);
  EXPECT_EQ(all.size(), 17u + 2 * 1024) << all.substr(0, 40);
  EXPECT_EQ(all.substr(17, 4), std::string("x\0x\0", 4));
}

}  // namespace
}  // namespace srctally
