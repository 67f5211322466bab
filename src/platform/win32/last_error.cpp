// The last system error on Windows is the thread's own GetLastError value.
#include "platform/last_error.h"

#include <windows.h>

namespace srctally::platform {

std::uint32_t GetLastErrorCode() { return ::GetLastError(); }

void SetLastErrorCode(std::uint32_t code) { ::SetLastError(code); }

}  // namespace srctally::platform
