// An operating-system file: open with access, creation and sharing choices, read, write,
// size, position, truncate and flush.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/text.h"

namespace srctally::platform {

/// Where a file is: path alone (folder -1), or path relative to an open folder (a POSIX
/// descriptor, so a tree walk can open files below folders deeper than PATH_MAX; on Windows
/// a folder handle and path one name in it, opened existing and not inheritable).
struct FileLocation {
  WStringView path;
  std::intptr_t folder = -1;
};

enum class FileAccess : std::uint8_t { kRead, kWrite, kReadWrite };

enum class FileCreation : std::uint8_t {
  kOpenExisting,      ///< fails when the file is missing
  kCreateOrTruncate,  ///< created when missing, emptied when present
  kOpenOrCreate,      ///< created when missing, kept when present
};

/// What other openers may do while this handle is open (Windows share modes; POSIX has no
/// share modes and ignores it).
enum class FileShare : std::uint8_t { kNone, kRead, kWrite, kReadWrite };

enum class FileAccessHint : std::uint8_t { kNone, kRandom, kSequential, kBoth };

struct FileOpenMode {
  FileAccess access = FileAccess::kRead;
  FileCreation creation = FileCreation::kOpenExisting;
  FileShare share = FileShare::kRead;
  bool append = false;       ///< every write goes to the current end of the file
  bool inheritable = false;  ///< child processes inherit the handle
  FileAccessHint hint = FileAccessHint::kNone;
  /// A symbolic link (on Windows any reparse point) as the path's last component is not
  /// followed: opening it fails with win32err::kCantResolveFilename.
  bool refuseLink = false;
};

enum class SeekOrigin : std::uint8_t { kBegin = 0, kCurrent = 1, kEnd = 2 };

/// One open file. Only regular files are opened: a folder, a FIFO or a device fails with
/// win32err::kAccessDenied, so nothing can block or read forever. Failures return false
/// and set the last error (GetLastErrorCode) in the Win32 code space. Closes on destruction.
class File {
 public:
  File() = default;
  ~File() { Close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool Open(const FileLocation& location, const FileOpenMode& mode);
  /// Closes the file if open; keeps the last error. Safe on a closed object.
  void Close();
  bool IsOpen() const { return handle_ != kInvalidHandle; }

  /// Reads up to size bytes at the current position; bytesRead 0 means the end of the file.
  bool Read(void* buffer, std::size_t size, std::size_t& bytesRead);
  /// Writes all size bytes (at the end of the file when opened for appending).
  bool Write(const void* data, std::size_t size);
  bool GetSize(std::int64_t& size) const;
  /// Moves the position by distance from origin; position, when given, receives the result.
  bool Seek(std::int64_t distance, SeekOrigin origin, std::int64_t* position);
  /// Makes the current position the end of the file.
  bool SetEnd();
  /// Commits written data to the storage device.
  bool Flush();

 private:
  static constexpr std::intptr_t kInvalidHandle = -1;  // INVALID_HANDLE_VALUE, or no fd
  std::intptr_t handle_ = kInvalidHandle;
  bool append_ = false;
};

}  // namespace srctally::platform
