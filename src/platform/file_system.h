// Small file-system queries shared by the driver, the banner and the walk.
#pragma once

#include <cstdint>

#include "base/text.h"

namespace srctally::platform {

/// The platform's path separator: '\\' on Windows, '/' on POSIX.
char16_t PathSeparator();

/// The upper- and lower-case form of every UTF-16 unit (65536 entries each), as the file
/// system folds the case of names: two names are the same when their units' upper-case
/// forms are. Surrogates map to themselves.
struct NameCaseTable {
  const char16_t* upper;
  const char16_t* lower;
};

/// How the platform's file system folds the case of names: on Windows the system's own
/// table, built on first use (names that differ only in case are the same there, and so
/// are patterns the user gives for them); nullptr on POSIX, where names compare exactly.
const NameCaseTable* NameCaseFolding();

/// The most files and folders the process may hold open at once: on POSIX the soft limit
/// of open descriptors; on Windows, which sets no such limit, the largest value.
std::uint64_t OpenFileLimit();

/// Whether something exists at path (a file or a folder).
bool PathExists(WStringView path);

/// Whether path names a folder (a link to a folder counts as a folder).
bool IsDirectory(WStringView path);

/// Whether path names something that is neither a folder nor a regular file (a link is
/// followed): a FIFO, socket or device, which the program never reads. Always false on
/// Windows, whose paths name files and folders.
bool IsSpecialFile(WStringView path);

/// The last component of path: the text after its last separator (the whole text when it
/// has none). On Windows both separators and a drive colon end a component.
WStringView FindFileName(WStringView path);

/// The full path of the running program's own file. False (with the last error set) when
/// the platform cannot tell.
bool GetModuleFilePath(WString& path);

}  // namespace srctally::platform
