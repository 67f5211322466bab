// Files on POSIX: open(2)/openat(2) on descriptors; no share modes exist here.
#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/status.h"
#include "platform/last_error.h"

namespace srctally::platform {
namespace {

bool FailWithErrno() {
  SetLastErrorCode(Win32ErrorFromErrno(errno));
  return false;
}

int OpenFlags(const FileOpenMode& mode) {
  int flags = O_NOCTTY | O_NONBLOCK;  // non-blocking only until the type is checked
  switch (mode.access) {
    case FileAccess::kRead:
      flags |= O_RDONLY;
      break;
    case FileAccess::kWrite:
      flags |= O_WRONLY;
      break;
    case FileAccess::kReadWrite:
      flags |= O_RDWR;
      break;
  }
  if (mode.creation == FileCreation::kCreateOrTruncate) flags |= O_CREAT | O_TRUNC;
  if (mode.creation == FileCreation::kOpenOrCreate) flags |= O_CREAT;
  if (mode.append) flags |= O_APPEND;
  if (!mode.inheritable) flags |= O_CLOEXEC;
  return flags;
}

}  // namespace

bool File::Open(const FileLocation& location, const FileOpenMode& mode) {
  Close();
  if (location.path.empty() || location.path.find(u'\0') != WStringView::npos) {
    SetLastErrorCode(location.path.empty() ? win32err::kFileNotFound : win32err::kInvalidName);
    return false;
  }
  const std::string path = ToUtf8(location.path);
  const int folder = location.folder >= 0 ? static_cast<int>(location.folder) : AT_FDCWD;
  int fd;
  do {
    fd = ::openat(folder, path.c_str(), OpenFlags(mode) | (mode.refuseLink ? O_NOFOLLOW : 0), 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    // Windows refuses to open a folder as a file with access denied; say the same.
    if (errno == EISDIR) errno = EACCES;
    return FailWithErrno();
  }
  // Only regular files: a FIFO opened above did not block thanks to O_NONBLOCK, but reading
  // it would wait for a writer, and a device may never end.
  struct stat info {};
  const bool statFailed = ::fstat(fd, &info) != 0;
  if (statFailed || !S_ISREG(info.st_mode)) {
    const int error = errno;
    ::close(fd);
    SetLastErrorCode(statFailed ? Win32ErrorFromErrno(error) : win32err::kAccessDenied);
    return false;
  }
  const int statusFlags = ::fcntl(fd, F_GETFL);
  if (statusFlags == -1 || ::fcntl(fd, F_SETFL, statusFlags & ~O_NONBLOCK) == -1) {
    const int error = errno;
    ::close(fd);
    SetLastErrorCode(Win32ErrorFromErrno(error));
    return false;
  }
#if defined(POSIX_FADV_SEQUENTIAL)
  if (mode.hint == FileAccessHint::kSequential) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  if (mode.hint == FileAccessHint::kRandom) ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
#endif
  handle_ = fd;
  append_ = mode.append;
  return true;
}

void File::Close() {
  if (!IsOpen()) return;
  const LastErrorKeeper keep;
  ::close(static_cast<int>(handle_));
  handle_ = kInvalidHandle;
  append_ = false;
}

bool File::Read(void* buffer, std::size_t size, std::size_t& bytesRead) {
  bytesRead = 0;
  if (!IsOpen()) {
    SetLastErrorCode(win32err::kInvalidHandle);
    return false;
  }
  ssize_t got;
  do {
    got = ::read(static_cast<int>(handle_), buffer, size);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return FailWithErrno();
  bytesRead = static_cast<std::size_t>(got);
  return true;
}

bool File::Write(const void* data, std::size_t size) {
  if (!IsOpen()) {
    SetLastErrorCode(win32err::kInvalidHandle);
    return false;
  }
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(static_cast<int>(handle_), bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return FailWithErrno();
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool File::GetSize(std::int64_t& size) const {
  struct stat info {};
  if (!IsOpen()) {
    SetLastErrorCode(win32err::kInvalidHandle);
    return false;
  }
  if (::fstat(static_cast<int>(handle_), &info) != 0) return FailWithErrno();
  size = static_cast<std::int64_t>(info.st_size);
  return true;
}

bool File::Seek(std::int64_t distance, SeekOrigin origin, std::int64_t* position) {
  if (!IsOpen()) {
    SetLastErrorCode(win32err::kInvalidHandle);
    return false;
  }
  const int whence = origin == SeekOrigin::kBegin     ? SEEK_SET
                     : origin == SeekOrigin::kCurrent ? SEEK_CUR
                                                      : SEEK_END;
  const off_t result = ::lseek(static_cast<int>(handle_), static_cast<off_t>(distance), whence);
  if (result < 0) return FailWithErrno();
  if (position != nullptr) *position = static_cast<std::int64_t>(result);
  return true;
}

bool File::SetEnd() {
  std::int64_t position = 0;
  if (!Seek(0, SeekOrigin::kCurrent, &position)) return false;
  if (::ftruncate(static_cast<int>(handle_), static_cast<off_t>(position)) != 0) {
    return FailWithErrno();
  }
  return true;
}

bool File::Flush() {
  if (!IsOpen()) {
    SetLastErrorCode(win32err::kInvalidHandle);
    return false;
  }
  if (::fsync(static_cast<int>(handle_)) != 0) return FailWithErrno();
  return true;
}

}  // namespace srctally::platform
