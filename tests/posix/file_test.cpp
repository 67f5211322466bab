// POSIX file opening: only regular files, and paths relative to an open folder.
#include "platform/file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "counting/file_counting.h"
#include "platform/last_error.h"
#include "testing/process_runner.h"
#include "testing/temp_dir.h"
#include "testing/wide_path.h"

namespace srctally {
namespace {

TEST(PosixFileTest, FifoIsRefusedWithoutBlocking) {
  testing::TempDir dir;
  const auto fifo = dir.path() / "pipe.c";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  LineStats stats;
  EXPECT_EQ(CountFileLines(testing::WidePath(fifo), stats),
            HResultFromWin32(win32err::kAccessDenied));
  platform::File file;
  platform::FileOpenMode write;
  write.access = platform::FileAccess::kWrite;
  EXPECT_FALSE(file.Open({testing::WidePath(fifo)}, write));  // no reader: no wait either
}

// Named as the path to count, a FIFO or device is refused before anything is opened, with a
// message that says what it is rather than a denied permission.
TEST(PosixFileTest, AFifoOrDeviceAsThePathIsNotARegularFile) {
  testing::TempDir dir;
  const std::string fifo = (dir.path() / "pipe.c").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/null")}) {
    const testing::ProcessResult run = testing::RunProcess({SRCTALLY_EXE, path});
    EXPECT_EQ(run.exitCode, 1) << path;
    EXPECT_TRUE(run.stdoutBytes.ends_with("\nERROR: the specified path is not a regular file.\n\n"))
        << run.stdoutBytes;
    EXPECT_EQ(run.stdoutBytes.find("Permission"), std::string::npos) << run.stdoutBytes;
  }
}

TEST(PosixFileTest, OpensRelativeToAFolderDescriptor) {
  testing::TempDir dir;
  dir.Write("sub/a.c", "int a;\n// b\n");
  const int folder = ::open((dir.path() / "sub").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  LineStats stats;
  EXPECT_EQ(CountFileLines(platform::FileLocation{u"a.c", folder}, stats), hr::kFalse);
  EXPECT_EQ(stats.lines, 2);
  EXPECT_EQ(stats.commentLines, 1);
  EXPECT_LT(CountFileLines(platform::FileLocation{u"missing.c", folder}, stats), 0);
  ::close(folder);
}

TEST(PosixFileTest, UnreadableFileReportsAccessDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  testing::TempDir dir;
  const auto path = dir.Write("secret.c", "x\n");
  std::filesystem::permissions(path, std::filesystem::perms::none);
  LineStats stats;
  EXPECT_EQ(CountFileLines(testing::WidePath(path), stats),
            HResultFromWin32(win32err::kAccessDenied));
}

}  // namespace
}  // namespace srctally
