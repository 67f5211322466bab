// Full paths: environment references expanded and relative paths made absolute.
#pragma once

#include <cstddef>

#include "base/text.h"

namespace srctally::platform {

/// Makes name a full path in out. On Windows, environment references (%NAME%) are expanded
/// within 260 characters, a drive or UNC path is canonicalised, any other path is appended
/// to the current directory; when that takes more than 260 characters and capacity is
/// larger, the expansion gets capacity characters and the system's GetFullPathNameW makes
/// the full path, so a long path given on the command line is taken as it is. Either way the
/// dots and blanks that end the last part are dropped, as Windows reads the path ("src." is
/// src), unless the path ends with a separator or has the "\\?\" form. On POSIX, name is
/// taken as the shell left it (no expansion), a relative path is joined to the current directory
/// and "." and ".." components are removed lexically; the result is absolute and uses '/'. capacity
/// counts characters with the terminating NUL, as a C buffer would: on success out.size() <
/// capacity. False, with the last error set, when the path cannot be resolved or does not fit; out
/// is then unspecified.
bool MakeFullPath(WStringView name, WString& out, std::size_t capacity);

}  // namespace srctally::platform
