// Full paths on Windows: environment references expanded, then the shell's canonical form.
#include "platform/full_path.h"

#include <shlwapi.h>
#include <windows.h>

#include <vector>

namespace srctally::platform {
namespace {
// The expansion and the shell's path functions work in MAX_PATH characters.
constexpr DWORD kExpansionCapacity = MAX_PATH;

// Some shell implementations (wine's among them) keep a final "\." component that the
// canonical form drops, so "." would come out as "C:\dir\." instead of "C:\dir".
void DropFinalDot(wchar_t* path) {
  const std::size_t length = ::lstrlenW(path);
  if (length < 2 || path[length - 1] != L'.' || path[length - 2] != L'\\') return;
  path[length - 1] = L'\0';
  ::PathRemoveBackslashW(path);  // a root such as "C:\" keeps its backslash
}

bool CopyOut(wchar_t* text, WString& out, std::size_t capacity) {
  DropFinalDot(text);
  const std::size_t length = ::lstrlenW(text);
  if (length >= capacity) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  out.assign(reinterpret_cast<const char16_t*>(text), length);
  return true;
}
}  // namespace

bool MakeFullPath(WStringView name, WString& out, std::size_t capacity) {
  const WString source(name);
  wchar_t expanded[kExpansionCapacity] = {};
  const DWORD needed = ::ExpandEnvironmentStringsW(reinterpret_cast<const wchar_t*>(source.c_str()),
                                                   expanded, kExpansionCapacity);
  if (needed == 0) return false;
  if (needed > kExpansionCapacity) {
    // The call answered the size it would need instead of the text.
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  wchar_t result[MAX_PATH] = {};
  if (::PathIsUNCW(expanded) || ::PathGetDriveNumberW(expanded) != -1) {
    if (!::PathCanonicalizeW(result, expanded)) return false;
    return CopyOut(result, out, capacity);
  }
  // The current directory may be longer than MAX_PATH; PathAppendW then fails rather than
  // overrunning, since it never writes more than MAX_PATH characters.
  const DWORD directoryCapacity =
      static_cast<DWORD>(capacity > MAX_PATH ? (capacity > 32768 ? 32768 : capacity) : MAX_PATH);
  std::vector<wchar_t> directory(directoryCapacity, L'\0');
  const DWORD length = ::GetCurrentDirectoryW(directoryCapacity, directory.data());
  if (length == 0) return false;
  if (length >= directoryCapacity || length >= MAX_PATH) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  ::lstrcpynW(result, directory.data(), MAX_PATH);
  if (!::PathAppendW(result, expanded)) {
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  return CopyOut(result, out, capacity);
}

}  // namespace srctally::platform
