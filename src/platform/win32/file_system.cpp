// File-system queries on Windows, through the shell's path functions.
#include "platform/file_system.h"

#include <shlwapi.h>
#include <windows.h>

namespace srctally::platform {
namespace {
const wchar_t* Wide(const WString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
}  // namespace

char16_t PathSeparator() { return u'\\'; }

bool PathExists(WStringView path) {
  const WString text(path);
  return !text.empty() && ::PathFileExistsW(Wide(text)) != FALSE;
}

bool IsDirectory(WStringView path) {
  const WString text(path);
  return !text.empty() && ::PathIsDirectoryW(Wide(text)) != FALSE;
}

WStringView FindFileName(WStringView path) {
  const WString text(path);
  const wchar_t* name = ::PathFindFileNameW(Wide(text));
  return path.substr(static_cast<std::size_t>(name - Wide(text)));
}

bool GetModuleFilePath(WString& path) {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    if (length >= MAX_PATH) ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  path.assign(reinterpret_cast<const char16_t*>(buffer), length);
  return true;
}

}  // namespace srctally::platform
