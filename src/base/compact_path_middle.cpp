// Middle-ellipsis shortening of paths for the progress line.
#include "base/compact_path_middle.h"

namespace srctally {

WString CompactPathMiddle(WStringView path, std::size_t budget, char16_t separator) {
  if (path.size() < budget) return WString(path);
  if (budget <= 1) return WString();
  const std::size_t room = budget - 1;
  const WStringView dots = u"...";
  if (room <= dots.size()) return WString(dots.substr(0, room));
  const std::size_t slash = path.find_last_of(separator);
  const WStringView last = slash == WStringView::npos ? path : path.substr(slash);
  if (last.size() + dots.size() > room) {
    // Not even the last component fits: show as much of it as possible.
    const WStringView name = last.front() == separator ? last.substr(1) : last;
    return WString(name.substr(0, room - dots.size())) + WString(dots);
  }
  WString out(path.substr(0, room - dots.size() - last.size()));
  out += dots;
  out += last;
  return out;
}

}  // namespace srctally
