// WOW64 detection, looked up at run time because older systems lack IsWow64Process.
#include "platform/wow64.h"

#include <windows.h>

namespace srctally::platform {

bool IsRunningOnWow64() {
  using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32");
  if (kernel == nullptr) return false;
  const auto function = reinterpret_cast<IsWow64ProcessFunction>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process")));
  BOOL wow64 = FALSE;
  return function != nullptr && function(::GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace srctally::platform
