// The C library's error numbers in the Win32 code space, the same on every platform: the
// numbers are named as <cerrno> names them, whatever their values on the platform.
#include "platform/last_error.h"

#include <cerrno>

namespace srctally::platform {

std::uint32_t Win32ErrorFromErrno(int errorNumber) {
  switch (errorNumber) {
    case 0:
      return 0;
    case EPERM:
    case EACCES:
      return 5;  // ERROR_ACCESS_DENIED
    case ENOENT:
      return 2;  // ERROR_FILE_NOT_FOUND
    case ESRCH:
      return 2;
    case EINTR:
      return 1003;  // ERROR_CAN_NOT_COMPLETE
    case EIO:
      return 1117;  // ERROR_IO_DEVICE
    case ENXIO:
    case ENODEV:
      return 20;  // ERROR_BAD_UNIT
    case E2BIG:
    case EINVAL:
    case EDOM:
      return 87;  // ERROR_INVALID_PARAMETER
    case ENOEXEC:
      return 11;  // ERROR_BAD_FORMAT
    case EBADF:
      return 6;  // ERROR_INVALID_HANDLE
    case ECHILD:
      return 128;  // ERROR_WAIT_NO_CHILDREN
    case EAGAIN:
    case ENOMEM:
      return 14;  // ERROR_OUTOFMEMORY
    case EFAULT:
      return 487;  // ERROR_INVALID_ADDRESS
    case EBUSY:
      return 170;  // ERROR_BUSY
    case EEXIST:
      return 80;  // ERROR_FILE_EXISTS
    case EXDEV:
      return 17;  // ERROR_NOT_SAME_DEVICE
    case ENOTDIR:
      return 267;  // ERROR_DIRECTORY
    case EISDIR:
      return 161;  // ERROR_BAD_PATHNAME
    case ENFILE:
    case EMFILE:
      return 4;  // ERROR_TOO_MANY_OPEN_FILES
    case ENOTTY:
      return 1;  // ERROR_INVALID_FUNCTION
    case EFBIG:
    case ENOSPC:
      return 112;  // ERROR_DISK_FULL
    case ESPIPE:
      return 25;  // ERROR_SEEK
    case EROFS:
      return 19;  // ERROR_WRITE_PROTECT
    case EMLINK:
      return 1142;  // ERROR_TOO_MANY_LINKS
    case EPIPE:
      return 109;  // ERROR_BROKEN_PIPE
    case ERANGE:
    case EOVERFLOW:
      return 534;  // ERROR_ARITHMETIC_OVERFLOW
    case EDEADLK:
      return 32;  // ERROR_SHARING_VIOLATION
    case ETXTBSY:
      return 32;
    case ENAMETOOLONG:
      return 206;  // ERROR_FILENAME_EXCED_RANGE
    case ENOLCK:
      return 167;  // ERROR_LOCK_FAILED
    case ENOSYS:
      return 120;  // ERROR_CALL_NOT_IMPLEMENTED
    case ENOTEMPTY:
      return 145;  // ERROR_DIR_NOT_EMPTY
    case EILSEQ:
      return 13;  // ERROR_INVALID_DATA
    case ELOOP:
      return 1921;  // ERROR_CANT_RESOLVE_FILENAME
    default:
      return 31;  // ERROR_GEN_FAILURE
  }
}

}  // namespace srctally::platform
