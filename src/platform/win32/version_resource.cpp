// The version resource of a Windows program file, as the version library returns it.
#include "platform/version_resource.h"

#include <windows.h>

#include <new>

namespace srctally::platform {

bool ReadVersionBlock(WStringView path, std::vector<std::uint8_t>& block) {
  const WString text(path);
  const auto* name = reinterpret_cast<const wchar_t*>(text.c_str());
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(name, &handle);
  if (size == 0) return false;
  try {
    block.assign(size, 0);
  } catch (const std::bad_alloc&) {
    ::SetLastError(ERROR_OUTOFMEMORY);
    return false;
  }
  if (!::GetFileVersionInfoW(name, 0, size, block.data())) {
    block.clear();
    return false;
  }
  return true;
}

}  // namespace srctally::platform
