// The pieces of the Windows crash dump writer, exposed for the Windows layer's own tests.
#pragma once

#include <windows.h>

#include "platform/crash_dump.h"

namespace srctally::platform {

/// Composes the dump path (local application data, company and product folders, program
/// name with version and time stamp) and creates the folders. False with the last error set
/// when the identity cannot be had, there is no local application data folder
/// (ERROR_PATH_NOT_FOUND), the path would not fit (ERROR_FILENAME_EXCED_RANGE) or a folder
/// can neither be created nor exists.
bool BuildDumpFileName(DumpPath& path);

/// Writes a minidump of this process into the open file with DbgHelp's MiniDumpWriteDump.
/// False with the last error of the failing step; the library is freed either way.
bool WriteDump(void* file, EXCEPTION_POINTERS* exceptionPointers);

/// The unhandled-exception filter: EXCEPTION_EXECUTE_HANDLER once a dump was written (after
/// the notification, if it returns), EXCEPTION_CONTINUE_SEARCH otherwise, leaving no file.
LONG WINAPI CrashDumpFilter(EXCEPTION_POINTERS* exceptionPointers);

}  // namespace srctally::platform
