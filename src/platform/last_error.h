// The thread's last system error code, in the Win32 code space on every platform.
#pragma once

#include <cstdint>

#include "base/status.h"

namespace srctally::platform {

/// The calling thread's last system error (GetLastError on Windows; on POSIX the code the
/// platform layer last recorded, errno already mapped to its Win32 equivalent).
std::uint32_t GetLastErrorCode();

/// Sets the calling thread's last system error.
void SetLastErrorCode(std::uint32_t code);

/// Maps a C library / POSIX errno value to the Win32 system error code the program reports.
std::uint32_t Win32ErrorFromErrno(int errorNumber);

/// The last system error as a failure result. Never a success: when the code was lost (the
/// last error is 0), the failure is still a failure, E_FAIL.
inline HResult LastErrorResult() {
  const HResult result = HResultFromWin32(GetLastErrorCode());
  return Failed(result) ? result : hr::kFail;
}

/// Keeps the last error across clean-up: reads it on construction, sets it back on
/// destruction, so freeing or closing on a failure path reports the first cause.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : code_(GetLastErrorCode()) {}
  ~LastErrorKeeper() { SetLastErrorCode(code_); }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  std::uint32_t code_;
};

}  // namespace srctally::platform
