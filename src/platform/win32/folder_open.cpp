// Opening a name inside an open folder through NtCreateFile, with the folder as the root
// of the name.
#include "platform/win32/folder_open.h"

#include <winternl.h>

namespace srctally::platform {
namespace {

// NtCreateFile's disposition and options, under names of their own (the system headers
// leave some of them out).
constexpr ULONG kOpenExisting = 1;             // FILE_OPEN
constexpr ULONG kDirectoryFile = 0x1;          // FILE_DIRECTORY_FILE
constexpr ULONG kSequentialOnly = 0x4;         // FILE_SEQUENTIAL_ONLY
constexpr ULONG kSynchronousIo = 0x20;         // FILE_SYNCHRONOUS_IO_NONALERT
constexpr ULONG kNonDirectoryFile = 0x40;      // FILE_NON_DIRECTORY_FILE
constexpr ULONG kRandomAccess = 0x800;         // FILE_RANDOM_ACCESS
constexpr ULONG kOpenForBackupIntent = 0x4000; // FILE_OPEN_FOR_BACKUP_INTENT
constexpr ULONG kOpenReparsePoint = 0x200000; // FILE_OPEN_REPARSE_POINT
constexpr ULONG kCaseInsensitive = 0x40;       // OBJ_CASE_INSENSITIVE, as CreateFileW names

}  // namespace

HANDLE OpenInFolder(HANDLE folder, WStringView name, DWORD access, DWORD share,
                    FolderMember member, DWORD flags) {
  if (name.empty() || name.size() > 0x7FFF) {
    ::SetLastError(name.empty() ? ERROR_FILE_NOT_FOUND : ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  UNICODE_STRING text;
  text.Buffer = const_cast<wchar_t*>(reinterpret_cast<const wchar_t*>(name.data()));
  text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES attributes{};
  attributes.Length = sizeof(attributes);
  attributes.RootDirectory = folder;
  attributes.ObjectName = &text;
  attributes.Attributes = kCaseInsensitive;
  ULONG options = kSynchronousIo;
  if (member == FolderMember::kFolder) {
    options |= kDirectoryFile | kOpenForBackupIntent;
  } else {
    options |= kNonDirectoryFile;
  }
  if ((flags & FILE_FLAG_SEQUENTIAL_SCAN) != 0) options |= kSequentialOnly;
  if ((flags & FILE_FLAG_RANDOM_ACCESS) != 0) options |= kRandomAccess;
  if ((flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0) options |= kOpenReparsePoint;
  IO_STATUS_BLOCK status{};
  HANDLE handle = nullptr;
  const NTSTATUS result =
      ::NtCreateFile(&handle, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &status,
                     nullptr, FILE_ATTRIBUTE_NORMAL, share, kOpenExisting, options, nullptr, 0);
  if (result < 0) {
    ::SetLastError(::RtlNtStatusToDosError(result));
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

}  // namespace srctally::platform
