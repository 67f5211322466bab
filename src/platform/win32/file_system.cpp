// File-system queries on Windows, through the shell's path functions.
#include "platform/file_system.h"

#include <shlwapi.h>
#include <windows.h>

#include <memory>
#include <new>

#include "input/long_path.h"

namespace srctally::platform {
namespace {
const wchar_t* Wide(const WString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// The shell's path functions take MAX_PATH characters. A longer path is asked about in its
// extended-length form, as the walk lists and opens it.
DWORD LongPathAttributes(const WString& text) {
  const std::unique_ptr<char16_t[]> extended(new (std::nothrow) char16_t[kLongPathCapacity]);
  if (!extended || !MakeExtendedPath(extended.get(), text.c_str())) {
    return INVALID_FILE_ATTRIBUTES;
  }
  return ::GetFileAttributesW(reinterpret_cast<const wchar_t*>(extended.get()));
}
}  // namespace

char16_t PathSeparator() { return u'\\'; }

bool NamesIgnoreCase() { return true; }

bool PathExists(WStringView path) {
  const WString text(path);
  if (text.size() >= MAX_PATH) return LongPathAttributes(text) != INVALID_FILE_ATTRIBUTES;
  return !text.empty() && ::PathFileExistsW(Wide(text)) != FALSE;
}

bool IsDirectory(WStringView path) {
  const WString text(path);
  if (text.size() >= MAX_PATH) {
    const DWORD attributes = LongPathAttributes(text);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  return !text.empty() && ::PathIsDirectoryW(Wide(text)) != FALSE;
}

bool IsSpecialFile(WStringView /*path*/) { return false; }

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
