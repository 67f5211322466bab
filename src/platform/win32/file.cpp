// Files on Windows: CreateFileW with share modes (or one name opened in an open folder), and
// the handle calls beneath the reader.
#include "platform/file.h"

#include <windows.h>

#include <string>
#include <utility>

#include "base/status.h"
#include "platform/last_error.h"
#include "platform/long_path.h"
#include "platform/win32/folder_open.h"

namespace srctally::platform {
namespace {

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

DWORD DesiredAccess(FileAccess access) {
  switch (access) {
    case FileAccess::kRead:
      return GENERIC_READ;
    case FileAccess::kWrite:
      return GENERIC_WRITE;
    case FileAccess::kReadWrite:
      return GENERIC_READ | GENERIC_WRITE;
  }
  return GENERIC_READ;
}

DWORD ShareMode(FileShare share) {
  switch (share) {
    case FileShare::kNone:
      return 0;
    case FileShare::kRead:
      return FILE_SHARE_READ;
    case FileShare::kWrite:
      return FILE_SHARE_WRITE;
    case FileShare::kReadWrite:
      return FILE_SHARE_READ | FILE_SHARE_WRITE;
  }
  return 0;
}

DWORD CreationDisposition(FileCreation creation) {
  switch (creation) {
    case FileCreation::kOpenExisting:
      return OPEN_EXISTING;
    case FileCreation::kCreateOrTruncate:
      return CREATE_ALWAYS;
    case FileCreation::kOpenOrCreate:
      return OPEN_ALWAYS;
  }
  return OPEN_EXISTING;
}

DWORD FlagsAndAttributes(FileAccessHint hint) {
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  if (hint == FileAccessHint::kRandom || hint == FileAccessHint::kBoth) {
    flags |= FILE_FLAG_RANDOM_ACCESS;
  }
  if (hint == FileAccessHint::kSequential || hint == FileAccessHint::kBoth) {
    flags |= FILE_FLAG_SEQUENTIAL_SCAN;
  }
  return flags;
}

}  // namespace

bool File::Open(const FileLocation& location, const FileOpenMode& mode) {
  Close();
  if (location.path.empty() || location.path.find(u'\0') != WStringView::npos) {
    ::SetLastError(location.path.empty() ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_NAME);
    return false;
  }
  const DWORD flags =
      FlagsAndAttributes(mode.hint) | (mode.refuseLink ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  const auto adopt = [&](HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) return false;
    if (mode.refuseLink) {
      // Opened as the link itself: a reparse point is refused rather than read.
      BY_HANDLE_FILE_INFORMATION info = {};
      if (!::GetFileInformationByHandle(handle, &info) ||
          (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        const DWORD error = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0
                                ? ERROR_CANT_RESOLVE_FILENAME
                                : ::GetLastError();
        ::CloseHandle(handle);
        ::SetLastError(error);
        return false;
      }
    }
    // Only files on disk: a pipe or a device named like a file could block or never end.
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
      ::CloseHandle(handle);
      ::SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(handle);
    append_ = mode.append;
    return true;
  };
  if (location.folder != -1) {
    // One name looked up in an open folder, whatever the folder's depth.
    const HANDLE handle = OpenInFolder(AsHandle(location.folder), location.path,
                                       DesiredAccess(mode.access), ShareMode(mode.share),
                                       FolderMember::kFile, flags);
    return adopt(handle);
  }
  WString path(location.path);  // CreateFileW wants a terminated string
  // Past MAX_PATH characters only the extended-length form opens, as the walk uses it.
  if (path.size() >= MAX_PATH && !HasExtendedPrefix(path.c_str())) {
    WString extended(kLongPathCapacity, u'\0');
    if (!MakeExtendedPath(extended.data(), path.c_str())) return false;
    extended.resize(std::char_traits<char16_t>::length(extended.c_str()));
    path = std::move(extended);
  }
  SECURITY_ATTRIBUTES security = {};
  security.nLength = sizeof(security);
  security.bInheritHandle = mode.inheritable ? TRUE : FALSE;
  const HANDLE handle =
      ::CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), DesiredAccess(mode.access),
                    ShareMode(mode.share), &security, CreationDisposition(mode.creation), flags,
                    nullptr);
  return adopt(handle);
}

void File::Close() {
  if (!IsOpen()) return;
  const LastErrorKeeper keep;
  ::CloseHandle(AsHandle(handle_));
  handle_ = kInvalidHandle;
  append_ = false;
}

bool File::Read(void* buffer, std::size_t size, std::size_t& bytesRead) {
  bytesRead = 0;
  if (!IsOpen()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  const DWORD request = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!::ReadFile(AsHandle(handle_), buffer, request, &got, nullptr)) return false;
  bytesRead = got;
  return true;
}

bool File::Write(const void* data, std::size_t size) {
  if (!IsOpen()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (append_ && !Seek(0, SeekOrigin::kEnd, nullptr)) return false;
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const DWORD request = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(AsHandle(handle_), bytes, request, &written, nullptr)) return false;
    if (written == 0) {
      ::SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    bytes += written;
    size -= written;
  }
  return true;
}

bool File::GetSize(std::int64_t& size) const {
  LARGE_INTEGER value = {};
  if (!::GetFileSizeEx(AsHandle(handle_), &value)) return false;
  size = value.QuadPart;
  return true;
}

bool File::Seek(std::int64_t distance, SeekOrigin origin, std::int64_t* position) {
  LARGE_INTEGER move = {};
  move.QuadPart = distance;
  LARGE_INTEGER result = {};
  const DWORD method = origin == SeekOrigin::kBegin     ? FILE_BEGIN
                       : origin == SeekOrigin::kCurrent ? FILE_CURRENT
                                                        : FILE_END;
  if (!::SetFilePointerEx(AsHandle(handle_), move, &result, method)) return false;
  if (position != nullptr) *position = result.QuadPart;
  return true;
}

bool File::SetEnd() { return ::SetEndOfFile(AsHandle(handle_)) != FALSE; }

bool File::Flush() { return ::FlushFileBuffers(AsHandle(handle_)) != FALSE; }

}  // namespace srctally::platform
