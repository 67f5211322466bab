// Shortening a path for a fixed-width display by putting "..." in its middle.
#pragma once

#include <cstddef>

#include "base/text.h"

namespace srctally {

/// Shortens path so that it has fewer than budget characters (budget counts a string end,
/// as fixed buffers do): the start of the path, "...", then the last component with its
/// separator. When even "..." and the last component do not fit, the component's start
/// and "..." are shown. A path shorter than budget is returned whole; a budget of 1 or
/// less gives an empty text.
WString CompactPathMiddle(WStringView path, std::size_t budget, char16_t separator);

}  // namespace srctally
