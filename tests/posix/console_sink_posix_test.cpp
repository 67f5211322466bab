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

}  // namespace
}  // namespace srctally
