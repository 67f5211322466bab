// Reading the version block that a program file carries.
#pragma once

#include <cstdint>
#include <vector>

#include "base/text.h"

namespace srctally::platform {

/// Reads the raw version block of the program file at path into block: the version
/// resource on Windows, the ".srctally_version" section of an ELF file elsewhere. False,
/// with the last error set, when the file cannot be read or carries no version block.
bool ReadVersionBlock(WStringView path, std::vector<std::uint8_t>& block);

}  // namespace srctally::platform
