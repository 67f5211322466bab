// The platform's way of shortening a path to a display width.
#pragma once

#include <cstdint>

#include "base/text.h"

namespace srctally::platform {

/// Shortens path to fewer than budget characters with an ellipsis in its middle. False
/// when the platform cannot shorten it (callers then show the whole path).
bool CompactPath(WStringView path, std::int32_t budget, WString& out);

}  // namespace srctally::platform
