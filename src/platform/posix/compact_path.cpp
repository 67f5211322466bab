// Path shortening on POSIX: the portable middle-ellipsis rule with "/" as separator.
#include "platform/compact_path.h"

#include "base/compact_path_middle.h"

namespace srctally::platform {

bool CompactPath(WStringView path, std::int32_t budget, WString& out) {
  if (budget <= 0) return false;
  out = CompactPathMiddle(path, static_cast<std::size_t>(budget), u'/');
  return true;
}

}  // namespace srctally::platform
