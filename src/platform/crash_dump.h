// Crash dump naming and the process-wide crash settings: who the program is, where a dump
// goes, and whom to tell once it is written.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/text.h"

namespace srctally {

/// The classic path limit of a dump path, terminating NUL included.
inline constexpr std::size_t kDumpPathCapacity = 260;

/// What names a dump: the company and product folders and the program file with its
/// version. The names are taken as the version data holds them; ComposeDumpPath trims
/// leading and trailing blanks (U+0020 only, tabs are kept).
struct CrashIdentity {
  WString companyName;
  WString productName;
  WString programFileName;                  ///< the program's own file name with its extension
  bool hasVersion = false;                  ///< whether version holds the file version
  std::uint16_t version[4] = {0, 0, 0, 0};  ///< major, minor, build, revision
};

/// A local date and time, to the millisecond, as it appears in a dump name.
struct DumpTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

/// A composed dump path and the folders that must exist before the file can be created.
struct DumpPath {
  char16_t text[kDumpPathCapacity] = {};  ///< the full file path, NUL-terminated
  std::size_t length = 0;                 ///< characters in text before the NUL
  /// Lengths of the prefixes of text that name the company and product folders, outermost
  /// first; a blank company or product adds no folder.
  std::size_t folderLengths[2] = {0, 0};
  std::size_t folderCount = 0;
};

/// Removes leading and trailing U+0020 only; tabs and other white space stay.
WStringView TrimBlanks(WStringView text);

/// Builds <localAppData>[sep company][sep product] sep <program>[_a.b.c.d<archSuffix>]
/// _YYYY-MM-DD_HHMMSS_mmm.dmp into path. A blank company or product leaves out its piece;
/// the version piece is left out when identity has none. False, with path emptied, when the
/// local application data folder or the program file name is empty or the path would not
/// fit kDumpPathCapacity. Allocates nothing, so it may run inside a crash handler.
bool ComposeDumpPath(WStringView localAppData, char16_t separator, const CrashIdentity& identity,
                     const DumpTime& time, WStringView archSuffix, DumpPath& path);

/// The calendar date and time of a moment given as seconds and milliseconds since
/// 1970-01-01 UTC, shifted by utcOffsetSeconds. Allocates nothing and takes no locks.
DumpTime DumpTimeFromUnix(std::int64_t seconds, int milliseconds, std::int32_t utcOffsetSeconds);

/// Encodes a NUL-terminated UTF-16 text as UTF-8 into out (capacity bytes, NUL included)
/// with the same lossless rules as ToUtf8: U+DC80..U+DCFF give back their raw byte, other
/// lone surrogates become U+FFFD. Returns the byte length, or 0 when it does not fit.
/// Allocates nothing.
std::size_t EncodeUtf8(const char16_t* text, char* out, std::size_t capacity);

/// Receives the full path of a dump that was written. The program's notification reports
/// it and ends the process; if it returns, the crash handling goes on as without a dump
/// notification.
using CrashNotification = void (*)(const char16_t* dumpPath);

/// Fills identity for the running program; false (with the last error set) when it cannot,
/// and then no dump is written.
using CrashIdentityProvider = bool (*)(CrashIdentity& identity);

/// Stores the crash notification (nullptr clears it).
void SetCrashNotification(CrashNotification notification);
CrashNotification GetCrashNotification();

/// Stores the identity provider. On Windows it is asked when a dump is about to be
/// written; on POSIX InstallCrashHandler asks it once, because a signal handler must not
/// allocate, so set it before installing the handler.
void SetCrashIdentityProvider(CrashIdentityProvider provider);
CrashIdentityProvider GetCrashIdentityProvider();

}  // namespace srctally
