// Full paths on Windows: environment references expanded, then the shell's canonical form
// with the last part trimmed as Windows reads it; beyond MAX_PATH characters, where the
// caller has room, the system's full path name.
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

// Windows' path rules drop the dots and blanks at the end of a path's last part, as
// GetFullPathNameW does: "src.", "src " and "src. ." all name the folder src, and a file
// check on them says so. The walk opens extended-length paths, which keep every character,
// so the full path must already be the one Windows means. A path that ends with a
// separator, and an extended-length or device path ("\\?\", "\\.\"), are taken as they
// stand.
void DropTrailingDotsAndBlanks(wchar_t* path) {
  if (path[0] == L'\\' && path[1] == L'\\' && (path[2] == L'?' || path[2] == L'.') &&
      path[3] == L'\\') {
    return;
  }
  std::size_t length = ::lstrlenW(path);
  std::size_t start = length;  // of the last part
  while (start > 0 && path[start - 1] != L'\\' && path[start - 1] != L'/' &&
         path[start - 1] != L':') {
    --start;
  }
  if (start == length) return;
  const std::size_t partLength = length - start;
  // "." and ".." are steps, not names (canonical paths have none left).
  if (path[start] == L'.' && (partLength == 1 || (partLength == 2 && path[start + 1] == L'.'))) {
    return;
  }
  while (length > start && (path[length - 1] == L'.' || path[length - 1] == L' ')) --length;
  path[length] = L'\0';
  // A part of dots and blanks alone is gone, and with it the separator before it.
  if (length == start) ::PathRemoveBackslashW(path);
}

bool CopyOut(wchar_t* text, WString& out, std::size_t capacity) {
  DropFinalDot(text);
  DropTrailingDotsAndBlanks(text);
  const std::size_t length = ::lstrlenW(text);
  if (length >= capacity) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  out.assign(reinterpret_cast<const char16_t*>(text), length);
  return true;
}

// A path beyond what the shell's path functions take (MAX_PATH characters), when the
// caller has room for it: expanded into a buffer of that size, then made full and
// canonical by the system, which works up to 32,767 characters.
bool MakeLongFullPath(const wchar_t* name, WString& out, std::size_t capacity) {
  const DWORD limit = static_cast<DWORD>(capacity > 32768 ? 32768 : capacity);
  std::vector<wchar_t> expanded(limit, L'\0');
  const DWORD needed = ::ExpandEnvironmentStringsW(name, expanded.data(), limit);
  if (needed == 0) return false;
  if (needed > limit) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  std::vector<wchar_t> full(limit, L'\0');
  const DWORD length = ::GetFullPathNameW(expanded.data(), limit, full.data(), nullptr);
  if (length == 0) return false;
  if (length >= limit) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  return CopyOut(full.data(), out, capacity);
}
}  // namespace

bool MakeFullPath(WStringView name, WString& out, std::size_t capacity) {
  const WString source(name);
  wchar_t expanded[kExpansionCapacity] = {};
  const DWORD needed = ::ExpandEnvironmentStringsW(reinterpret_cast<const wchar_t*>(source.c_str()),
                                                   expanded, kExpansionCapacity);
  if (needed == 0) return false;
  // A caller with room for more than MAX_PATH characters gets long paths as well.
  const bool longAllowed = capacity > MAX_PATH;
  const wchar_t* const wideName = reinterpret_cast<const wchar_t*>(source.c_str());
  if (needed > kExpansionCapacity) {
    // The call answered the size it would need instead of the text.
    if (longAllowed) return MakeLongFullPath(wideName, out, capacity);
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  // Trimmed before the shell's canonical form as well, which reads a last part of dots
  // ("C:\\x\\...") as steps up.
  DropTrailingDotsAndBlanks(expanded);
  wchar_t result[MAX_PATH] = {};
  if (::PathIsUNCW(expanded) || ::PathGetDriveNumberW(expanded) != -1) {
    if (!::PathCanonicalizeW(result, expanded)) {
      return longAllowed && MakeLongFullPath(wideName, out, capacity);
    }
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
    if (longAllowed && length < directoryCapacity) {
      return MakeLongFullPath(wideName, out, capacity);
    }
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  ::lstrcpynW(result, directory.data(), MAX_PATH);
  if (!::PathAppendW(result, expanded)) {
    if (longAllowed) return MakeLongFullPath(wideName, out, capacity);
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  return CopyOut(result, out, capacity);
}

}  // namespace srctally::platform
