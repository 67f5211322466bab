// The POSIX console sink on a redirected standard output: bytes per mode and line-end
// flushing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "console/message_writer.h"
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

TEST(ConsoleSinkPosixTest, ModesAndLineEndFlushing) {
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
    EXPECT_EQ(ReadAll(file), "");  // the dots wait for their line end
    sink->Write(u"\n");
    sink->Flush();
    EXPECT_EQ(ReadAll(file), "a..\n");
    sink->SetMode(translation::kUnicode);
    sink->Write(u"b\n");
    sink->SetMode(translation::kUtf8);
    sink->Write(u"\u00E9");
  }  // the sink's end writes what is left
  EXPECT_EQ(ReadAll(file), std::string("a..\nb\0\n\0\xC3\xA9", 10));
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
