// The last system error: the C library's error numbers as the codes the program reports,
// and the per-thread code that clean-up must not overwrite.
#include "platform/last_error.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <thread>

#include "base/status.h"

namespace srctally {
namespace {

TEST(LastErrorTest, ErrorNumbersBecomeTheCodesUsersRead) {
  const struct {
    int errorNumber;
    std::uint32_t code;
  } rows[] = {
      {EACCES, win32err::kAccessDenied},
      {EPERM, win32err::kAccessDenied},
      {ENOENT, win32err::kFileNotFound},
      {ENOMEM, win32err::kOutOfMemory},
      {EBADF, win32err::kInvalidHandle},
      {EINVAL, win32err::kInvalidParameter},
      {EEXIST, win32err::kFileExists},
      {ENOTDIR, win32err::kDirectory},
      {EILSEQ, win32err::kInvalidData},
      {ERANGE, win32err::kArithmeticOverflow},
      {EOVERFLOW, win32err::kArithmeticOverflow},
      {ELOOP, win32err::kCantResolveFilename},
      {ENOSPC, 112u /* disk full */},
      {EIO, 1117u /* I/O device error */},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(platform::Win32ErrorFromErrno(row.errorNumber), row.code) << row.errorNumber;
  }
  // No error stays no error; a number the table does not know is still a failure, never 0.
  EXPECT_EQ(platform::Win32ErrorFromErrno(0), 0u);
  for (int unknown : {-1, 99999}) {
    EXPECT_EQ(platform::Win32ErrorFromErrno(unknown), 31u /* general failure */) << unknown;
  }
}

TEST(LastErrorTest, TheFirstCauseSurvivesCleanUp) {
  const platform::LastErrorKeeper outer;  // leaves the thread's code as the test found it
  platform::SetLastErrorCode(win32err::kAccessDenied);
  {
    const platform::LastErrorKeeper keeper;
    platform::SetLastErrorCode(win32err::kInvalidHandle);  // a close failing on the way out
  }
  EXPECT_EQ(platform::GetLastErrorCode(), win32err::kAccessDenied);
}

// Each thread has a code of its own: a code set on one thread is not seen on the other. The
// threads hand over with atomics only, since on Windows any system call (starting or joining
// a thread among them) may set the calling thread's code.
TEST(LastErrorTest, EachThreadHasItsOwnCode) {
  const platform::LastErrorKeeper keeper;
  std::atomic<int> stage{0};
  std::uint32_t keptThere = 0;
  std::thread other([&] {
    platform::SetLastErrorCode(win32err::kFileNotFound);
    stage.store(1);
    while (stage.load() != 2) {
    }
    keptThere = platform::GetLastErrorCode();
    platform::SetLastErrorCode(win32err::kInvalidHandle);
    stage.store(3);
  });
  while (stage.load() != 1) {
  }
  platform::SetLastErrorCode(win32err::kAccessDenied);
  stage.store(2);
  while (stage.load() != 3) {
  }
  const std::uint32_t keptHere = platform::GetLastErrorCode();
  other.join();
  EXPECT_EQ(keptThere, win32err::kFileNotFound);
  EXPECT_EQ(keptHere, win32err::kAccessDenied);
}

TEST(LastErrorTest, ALostCodeIsStillAFailure) {
  const platform::LastErrorKeeper keeper;
  platform::SetLastErrorCode(win32err::kAccessDenied);
  EXPECT_EQ(platform::LastErrorResult(), HResultFromWin32(win32err::kAccessDenied));
  platform::SetLastErrorCode(0);
  EXPECT_EQ(platform::LastErrorResult(), hr::kFail);
}

}  // namespace
}  // namespace srctally
