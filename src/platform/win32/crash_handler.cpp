// The Windows crash dump writer: an unhandled-exception filter that names the dump after the
// program's company, product and version and writes it with the debugging help library,
// which is loaded only when a crash happens.
#include "platform/crash_handler.h"

#include <windows.h>
// The shell and debugging help headers need the base declarations above.
#include <dbghelp.h>
#include <shlobj.h>

#include <cstring>

#include "platform/crash_dump.h"
#include "platform/win32/crash_dump_filter.h"

namespace srctally::platform {
namespace {

using MiniDumpWriteDumpFunction = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                                PMINIDUMP_EXCEPTION_INFORMATION,
                                                PMINIDUMP_USER_STREAM_INFORMATION,
                                                PMINIDUMP_CALLBACK_INFORMATION);

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

/// Loads DbgHelp.dll from the system directory. The current directory is deliberately not
/// tried: a crash while counting a downloaded tree must not run a library planted in it.
HMODULE LoadDebugHelpLibrary() {
  static const wchar_t kName[] = L"\\DbgHelp.dll";
  constexpr UINT kNameLength = sizeof(kName) / sizeof(kName[0]) - 1;
  wchar_t path[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0) return nullptr;
  if (length + kNameLength >= MAX_PATH) {
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  std::memcpy(path + length, kName, sizeof(kName));
  return ::LoadLibraryW(path);
}

/// Creates the folder named by the first length characters of path; an existing folder is
/// fine too.
bool CreateFolder(const DumpPath& path, std::size_t length) {
  wchar_t folder[kDumpPathCapacity];
  std::memcpy(folder, path.text, length * sizeof(wchar_t));
  folder[length] = L'\0';
  return ::CreateDirectoryW(folder, nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

bool BuildDumpFileName(DumpPath& path) {
  path = DumpPath{};
  const CrashIdentityProvider provider = GetCrashIdentityProvider();
  if (provider == nullptr) {
    ::SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return false;
  }
  CrashIdentity identity;
  if (!provider(identity)) return false;

  wchar_t localAppData[MAX_PATH];
  if (::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                         SHGFP_TYPE_CURRENT, localAppData) != S_OK) {
    ::SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  const DumpTime time{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                      now.wMinute, now.wSecond, now.wMilliseconds};
  if (!ComposeDumpPath(reinterpret_cast<const char16_t*>(localAppData), u'\\', identity, time,
                       CrashArchitectureSuffix(), path)) {
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  for (std::size_t i = 0; i < path.folderCount; ++i) {
    if (!CreateFolder(path, path.folderLengths[i])) return false;
  }
  return true;
}

bool WriteDump(void* file, EXCEPTION_POINTERS* exceptionPointers) {
  const HMODULE library = LoadDebugHelpLibrary();
  if (library == nullptr) return false;
  const auto writeDump = reinterpret_cast<MiniDumpWriteDumpFunction>(
      reinterpret_cast<void*>(::GetProcAddress(library, "MiniDumpWriteDump")));
  if (writeDump != nullptr) {
    MINIDUMP_EXCEPTION_INFORMATION exception{};
    exception.ThreadId = ::GetCurrentThreadId();
    exception.ExceptionPointers = exceptionPointers;
    exception.ClientPointers = FALSE;  // the pointers are this process's own
    if (writeDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file, MiniDumpNormal, &exception,
                  nullptr, nullptr)) {
      ::FreeLibrary(library);
      return true;
    }
  }
  const DWORD error = ::GetLastError();
  ::FreeLibrary(library);
  ::SetLastError(error);
  return false;
}

LONG WINAPI CrashDumpFilter(EXCEPTION_POINTERS* exceptionPointers) {
  DumpPath path;
  if (!BuildDumpFileName(path)) return EXCEPTION_CONTINUE_SEARCH;
  const HANDLE file = ::CreateFileW(Wide(path.text), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return EXCEPTION_CONTINUE_SEARCH;
  if (WriteDump(file, exceptionPointers)) {
    ::CloseHandle(file);
    if (const CrashNotification notify = GetCrashNotification()) notify(path.text);
    return EXCEPTION_EXECUTE_HANDLER;
  }
  // No partial dump is left behind; the reason stays the dump call's.
  const DWORD error = ::GetLastError();
  ::CloseHandle(file);
  ::DeleteFileW(Wide(path.text));
  ::SetLastError(error);
  return EXCEPTION_CONTINUE_SEARCH;
}

void InstallCrashHandler() {
  ::SetUnhandledExceptionFilter(CrashDumpFilter);
  ::HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
  ULONG lowFragmentationHeap = 2;
  ::HeapSetInformation(::GetProcessHeap(), HeapCompatibilityInformation, &lowFragmentationHeap,
                       sizeof(lowFragmentationHeap));
}

const char16_t* CrashArchitectureSuffix() {
#if defined(_M_ARM64) || defined(__aarch64__)
  return u"_arm64";
#elif defined(_M_X64) || defined(__x86_64__)
  return u"_x64";
#else
  return u"_x86";
#endif
}

}  // namespace srctally::platform
