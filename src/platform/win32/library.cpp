// Libraries on Windows: LoadLibraryW for code, LoadLibraryExW for resources only.
#include "platform/library.h"

#include <shlwapi.h>
#include <windows.h>

#include "platform/full_path.h"
#include "platform/module.h"

namespace srctally::platform {
namespace {
const wchar_t* Wide(const WString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

ModuleHandle LoadResolved(const wchar_t* path, bool asDataFile) {
  if (!asDataFile) return ::LoadLibraryW(path);
  HMODULE module = ::LoadLibraryExW(
      path, nullptr, LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  // Systems that do not know those two flags refuse them; the plain data-file load remains.
  if (module == nullptr) module = ::LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  return module;
}
}  // namespace

ModuleHandle LoadLibraryFromPath(WStringView name, bool asDataFile) {
  WString path;
  if (!MakeFullPath(name, path, MAX_PATH)) return nullptr;
  return LoadResolved(Wide(path), asDataFile);
}

ModuleHandle LoadSystemLibrary(WStringView name, bool asDataFile) {
  const WString text(name);
  if (::PathIsFileSpecW(Wide(text))) {
    if (!::PathIsRelativeW(Wide(text))) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    wchar_t path[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
      if (length >= MAX_PATH) ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return nullptr;
    }
    if (!::PathAppendW(path, Wide(text))) return nullptr;
    return LoadResolved(path, asDataFile);
  }
  WString path;
  if (!MakeFullPath(name, path, MAX_PATH)) return nullptr;
  return LoadResolved(Wide(path), asDataFile);
}

bool FreeLibraryHandle(ModuleHandle module) {
  return ::FreeLibrary(static_cast<HMODULE>(module)) != FALSE;
}

void* FindSymbol(ModuleHandle module, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

bool IsRunningOnWow64() {
  using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
  // Created once for the process; the module stays loaded while the function is kept.
  struct Record {
    CModule kernel;
    IsWow64ProcessFunction function = nullptr;
    Record() {
      if (!kernel.Load(u"kernel32.dll", false) || kernel.moduleHandle() == nullptr) return;
      function = reinterpret_cast<IsWow64ProcessFunction>(
          FindSymbol(kernel.moduleHandle(), "IsWow64Process"));
      if (function == nullptr) kernel.Free();
    }
  };
  static Record record;
  if (record.function == nullptr) return false;
  BOOL result = FALSE;
  record.function(::GetCurrentProcess(), &result);
  return result != FALSE;
}

}  // namespace srctally::platform
