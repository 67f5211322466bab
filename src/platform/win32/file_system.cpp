// File-system queries on Windows, through the shell's path functions.
#include "platform/file_system.h"

#include <shlwapi.h>
#include <windows.h>

#include <memory>
#include <new>
#include <utility>

#include "platform/long_path.h"

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

constexpr std::size_t kUnits = 0x10000;
char16_t gUpper[kUnits];
char16_t gLower[kUnits];

// Maps the units first..last - 1 with flags into table, in one call where the system takes
// them at once, otherwise unit by unit; a unit the system does not map stays itself.
void MapCase(DWORD flags, std::size_t first, std::size_t last, char16_t* table) {
  static wchar_t source[kUnits];  // built once, under the caller's static initialisation
  for (std::size_t unit = first; unit < last; ++unit)
    source[unit - first] = static_cast<wchar_t>(unit);
  const int count = static_cast<int>(last - first);
  auto* target = reinterpret_cast<wchar_t*>(table + first);
  if (::LCMapStringEx(LOCALE_NAME_INVARIANT, flags, source, count, target, count, nullptr, nullptr,
                      0) == count) {
    return;
  }
  for (std::size_t unit = first; unit < last; ++unit) {
    wchar_t mapped = static_cast<wchar_t>(unit);
    if (::LCMapStringEx(LOCALE_NAME_INVARIANT, flags, source + (unit - first), 1, &mapped, 1,
                        nullptr, nullptr, 0) != 1) {
      mapped = static_cast<wchar_t>(unit);
    }
    table[unit] = static_cast<char16_t>(mapped);
  }
}

// The system's casing without LCMAP_LINGUISTIC_CASING is the one the file system uses for
// names. NUL and the surrogates stay themselves.
const NameCaseTable* BuildNameCaseTable() {
  for (std::size_t unit = 0; unit < kUnits; ++unit) {
    gUpper[unit] = gLower[unit] = static_cast<char16_t>(unit);
  }
  for (const auto& [first, last] :
       {std::pair<std::size_t, std::size_t>{1, 0xD800}, {0xE000, kUnits}}) {
    MapCase(LCMAP_UPPERCASE, first, last, gUpper);
    MapCase(LCMAP_LOWERCASE, first, last, gLower);
  }
  static const NameCaseTable table{gUpper, gLower};
  return &table;
}
}  // namespace

char16_t PathSeparator() { return u'\\'; }

const NameCaseTable* NameCaseFolding() {
  static const NameCaseTable* const table = BuildNameCaseTable();
  return table;
}

std::uint64_t OpenFileLimit() { return UINT64_MAX; }

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
