// A byte count as a short text with a unit, in the style of the Windows shell.
#pragma once

#include <cstdint>

namespace srctally {

/// Writes value as the Windows shell's byte-size formatter shows it: below 1024 the plain
/// number and " bytes" ("0 bytes", "532 bytes"); above, three significant digits, truncated,
/// in the smallest of KB MB GB TB PB EB (powers of 1024) that keeps the number under 1000
/// ("1.49 KB" for 1535, "12.2 KB", "999 KB", "0.97 MB" for 1024000, "7.99 EB" at most).
/// The text is NUL-terminated and never longer than 19 characters.
void FormatShortByteSize(std::int64_t value, char16_t (&text)[20]);

}  // namespace srctally
