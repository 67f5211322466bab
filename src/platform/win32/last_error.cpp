// The last system error on Windows is the thread's own GetLastError value.
#include "platform/last_error.h"

#include <windows.h>

#include <cerrno>

namespace srctally::platform {

std::uint32_t GetLastErrorCode() { return ::GetLastError(); }

void SetLastErrorCode(std::uint32_t code) { ::SetLastError(code); }

std::uint32_t Win32ErrorFromErrno(int errorNumber) {
  switch (errorNumber) {
    case 0:
      return 0;
    case EPERM:
    case EACCES:
      return ERROR_ACCESS_DENIED;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOMEM:
      return ERROR_OUTOFMEMORY;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENOSPC:
      return ERROR_DISK_FULL;
    case EILSEQ:
      return ERROR_INVALID_DATA;
    case ERANGE:
      return ERROR_ARITHMETIC_OVERFLOW;
    default:
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace srctally::platform
