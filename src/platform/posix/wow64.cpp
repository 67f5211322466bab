// A 32-bit process on a 64-bit kernel: the pointer size against the machine uname reports.
#include "platform/wow64.h"

#include <sys/utsname.h>

#include <string_view>

namespace srctally::platform {

bool IsRunningOnWow64() {
  if constexpr (sizeof(void*) != 4) {
    return false;
  } else {
    utsname names{};
    if (::uname(&names) != 0) return false;
    const std::string_view machine(names.machine);
    return machine.find("64") != std::string_view::npos || machine == "s390x";
  }
}

}  // namespace srctally::platform
