// Full paths on POSIX: the current directory joined with a relative path, "." and ".."
// removed lexically. Environment references are left alone: the shell has expanded what
// the user meant to expand, and '$' is an ordinary file-name character.
#include "platform/full_path.h"

#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/last_error.h"

namespace srctally::platform {
namespace {
constexpr std::uint32_t kFilenameTooLong = 206;  // ERROR_FILENAME_EXCED_RANGE

// The current directory, however long it is.
bool CurrentDirectory(WString& out) {
  std::string buffer(256, '\0');
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
      buffer.resize(std::char_traits<char>::length(buffer.c_str()));
      out = FromUtf8Lossless(buffer);
      return true;
    }
    if (errno != ERANGE) {
      SetLastErrorCode(Win32ErrorFromErrno(errno));
      return false;
    }
    buffer.resize(buffer.size() * 2);
  }
}

// Appends the components of path to out (an absolute path without a trailing '/', or
// empty for the root), dropping empty and "." components and taking ".." back.
void AppendComponents(WString& out, WStringView path) {
  while (!path.empty()) {
    const std::size_t slash = path.find(u'/');
    const WStringView component = path.substr(0, slash);
    path = slash == WStringView::npos ? WStringView() : path.substr(slash + 1);
    if (component.empty() || component == u".") continue;
    if (component == u"..") {
      out.resize(out.rfind(u'/') == WString::npos ? 0 : out.rfind(u'/'));
      continue;
    }
    out += u'/';
    out += component;
  }
}
}  // namespace

bool MakeFullPath(WStringView name, WString& out, std::size_t capacity) {
  WString base;
  if (name.empty() || name.front() != u'/') {
    if (!CurrentDirectory(base)) return false;
  }
  out.clear();
  AppendComponents(out, base);
  AppendComponents(out, name);
  if (out.empty()) out.assign(1, u'/');
  if (out.size() >= capacity) {
    SetLastErrorCode(kFilenameTooLong);
    return false;
  }
  return true;
}

}  // namespace srctally::platform
