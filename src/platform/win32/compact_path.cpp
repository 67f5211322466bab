// Path shortening on Windows with the shell's PathCompactPathExW.
#include "platform/compact_path.h"

#include <shlwapi.h>
#include <windows.h>

#include <string>

namespace srctally::platform {

bool CompactPath(WStringView path, std::int32_t budget, WString& out) {
  if (budget <= 0 || budget > 256) return false;
  wchar_t buffer[256] = {};
  const std::wstring source(path.begin(), path.end());
  if (!::PathCompactPathExW(buffer, source.c_str(), static_cast<UINT>(budget), 0)) return false;
  out.assign(reinterpret_cast<const char16_t*>(buffer));
  return true;
}

}  // namespace srctally::platform
