// CModule over the platform's library loaders.
#include "platform/module.h"

#include "platform/last_error.h"

namespace srctally {

CModule::~CModule() { CModule::Free(); }

bool CModule::Load(std::optional<WStringView> name, bool asDataFile) {
  if (!name) return false;
  Free();
  platform::ModuleHandle handle = platform::LoadLibraryFromPath(*name, asDataFile);
  if (handle == nullptr) handle = platform::LoadSystemLibrary(*name, asDataFile);
  if (handle == nullptr) return false;
  moduleHandle_ = handle;
  ownsHandle_ = true;
  return true;
}

void CModule::Free() {
  if (moduleHandle_ == nullptr) return;
  if (ownsHandle_) {
    // A caller cleaning up after a failure still reports the first cause.
    const platform::LastErrorKeeper keeper;
    platform::FreeLibraryHandle(moduleHandle_);
    ownsHandle_ = false;
  }
  moduleHandle_ = nullptr;
}

}  // namespace srctally
