// CModule: owns at most one loaded library and frees it without disturbing the last error.
#pragma once

#include <optional>

#include "base/text.h"
#include "platform/library.h"

namespace srctally {

class CModule {
 public:
  CModule() = default;
  /// Frees an owned module, keeping the last error.
  virtual ~CModule();
  CModule(const CModule&) = delete;
  CModule& operator=(const CModule&) = delete;

  /// Loads name, first as a path (so a library in the current directory wins), then from the
  /// system directory. No name: false, the current module is kept. Otherwise the current
  /// module is freed first; false (with the loader's last error) when neither load works.
  virtual bool Load(std::optional<WStringView> name, bool asDataFile);
  /// Frees an owned module and forgets any module; the last error is left as it was.
  virtual void Free();

  platform::ModuleHandle moduleHandle() const { return moduleHandle_; }
  bool ownsHandle() const { return ownsHandle_; }

 private:
  platform::ModuleHandle moduleHandle_ = nullptr;
  bool ownsHandle_ = false;
};

}  // namespace srctally
