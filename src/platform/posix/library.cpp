// Libraries on POSIX through the dynamic loader.
#include "platform/library.h"

#include <dlfcn.h>
#include <sys/utsname.h>

#include <string>

#include "base/status.h"
#include "platform/full_path.h"
#include "platform/last_error.h"

namespace srctally::platform {
namespace {
constexpr std::uint32_t kModNotFound = 126;   // ERROR_MOD_NOT_FOUND
constexpr std::uint32_t kProcNotFound = 127;  // ERROR_PROC_NOT_FOUND
constexpr std::size_t kPathCapacity = 4096;

ModuleHandle Open(const std::string& path, bool asDataFile) {
  // There is no resource-only load here; a lazy binding at least runs no relocations of
  // functions nobody calls.
  void* handle = ::dlopen(path.c_str(), (asDataFile ? RTLD_LAZY : RTLD_NOW) | RTLD_LOCAL);
  if (handle == nullptr) SetLastErrorCode(kModNotFound);
  return handle;
}
}  // namespace

ModuleHandle LoadLibraryFromPath(WStringView name, bool asDataFile) {
  WString path;
  if (!MakeFullPath(name, path, kPathCapacity)) return nullptr;
  return Open(ToUtf8(path), asDataFile);
}

ModuleHandle LoadSystemLibrary(WStringView name, bool asDataFile) {
  if (!name.empty() && name.find(u'/') == WStringView::npos) {
    // A bare name: the loader's own search (its cache, the system library folders).
    return Open(ToUtf8(name), asDataFile);
  }
  return LoadLibraryFromPath(name, asDataFile);
}

bool FreeLibraryHandle(ModuleHandle module) {
  if (module == nullptr || ::dlclose(module) != 0) {
    SetLastErrorCode(module == nullptr ? win32err::kInvalidHandle : kModNotFound);
    return false;
  }
  return true;
}

void* FindSymbol(ModuleHandle module, const char* name) {
  void* address = module != nullptr ? ::dlsym(module, name) : nullptr;
  if (address == nullptr) SetLastErrorCode(kProcNotFound);
  return address;
}

bool IsRunningOnWow64() {
  if constexpr (sizeof(void*) != 4) {
    return false;
  } else {
    // A 32-bit process whose kernel reports a 64-bit machine.
    static const bool result = [] {
      struct utsname info {};
      if (::uname(&info) != 0) return false;
      const std::string machine = info.machine;
      return machine == "x86_64" || machine == "aarch64" || machine == "arm64" ||
             machine == "ppc64" || machine == "ppc64le" || machine == "s390x" ||
             machine == "riscv64" || machine == "mips64" || machine == "sparc64";
    }();
    return result;
  }
}

}  // namespace srctally::platform
