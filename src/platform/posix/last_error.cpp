// The last system error on POSIX: a per-thread Win32 code, fed from errno at the boundary.
#include "platform/last_error.h"

namespace srctally::platform {
namespace {
thread_local std::uint32_t lastError = 0;
}  // namespace

std::uint32_t GetLastErrorCode() { return lastError; }

void SetLastErrorCode(std::uint32_t code) { lastError = code; }

}  // namespace srctally::platform
