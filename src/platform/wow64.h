// Whether this is a 32-bit process on a 64-bit system.
#pragma once

namespace srctally::platform {

/// True for a 32-bit build running on a 64-bit system; false otherwise, and when the
/// platform cannot tell.
bool IsRunningOnWow64();

}  // namespace srctally::platform
