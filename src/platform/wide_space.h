// The white space of the C runtime's wide-character classification, as one table.
#pragma once

#include <cstdint>

namespace srctally::platform {

/// What iswspace calls white space in the default locale, as 65,536 bits: bit ch (word
/// ch / 64, bit ch % 64) is set when the UTF-16 unit ch is white space. On Windows the
/// table holds the runtime's own answers, asked once; elsewhere it is a fixed set equal to
/// what the Windows runtime answers, so that a file counts the same on every platform.
/// Built on first use; safe to call from any thread.
const std::uint64_t* WideSpaceBits();

}  // namespace srctally::platform
