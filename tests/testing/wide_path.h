// A filesystem path as the program's UTF-16 text.
#pragma once

#include <filesystem>

#include "base/text.h"

namespace srctally::testing {

inline WString WidePath(const std::filesystem::path& path) { return path.u16string(); }

}  // namespace srctally::testing
