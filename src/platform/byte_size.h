// The platform's byte-size formatter (a byte count as "12.3 KB" and the like).
#pragma once

#include <cstdint>

namespace srctally::platform {

/// Formats value into text, NUL-terminated, at most 19 characters: the shell's own
/// formatter on Windows, the same style computed by the program elsewhere.
void FormatByteSizeText(std::int64_t value, char16_t (&text)[20]);

}  // namespace srctally::platform
