// PLACEHOLDER until the file-reading branch lands: only the declaration the tree walk needs.
#pragma once

#include <cstdint>

#include "base/text.h"

namespace srctally::platform {

/// Where a file is opened: path, relative to the open POSIX folder descriptor folder, or a
/// full path when folder is -1.
struct FileLocation {
  WStringView path;
  std::intptr_t folder = -1;
};

}  // namespace srctally::platform
