// Opening one name inside a folder already open: the system looks up that name alone, not
// every part of a full path, so the cost of an open does not grow with the folder's depth.
#pragma once

#include <windows.h>

#include "base/text.h"

namespace srctally::platform {

/// What OpenInFolder opens.
enum class FolderMember : std::uint8_t {
  kFolder,  ///< a sub-folder, for listing (as CreateFileW with backup semantics)
  kFile,    ///< a file, never a folder (as CreateFileW without them)
};

/// Opens name, one name with no separator, inside the open folder with CreateFileW's
/// access and share masks; flags are CreateFileW's random-access and sequential-scan hints.
/// Links are followed, as CreateFileW follows them. INVALID_HANDLE_VALUE with the last
/// error set as CreateFileW would set it.
HANDLE OpenInFolder(HANDLE folder, WStringView name, DWORD access, DWORD share,
                    FolderMember member, DWORD flags = 0);

}  // namespace srctally::platform
