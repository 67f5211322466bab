// File-system queries on POSIX: UTF-16 paths go to the system as their original bytes.
#include "platform/file_system.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/last_error.h"

namespace srctally::platform {

char16_t PathSeparator() { return u'/'; }

const NameCaseTable* NameCaseFolding() { return nullptr; }

std::uint64_t OpenFileLimit() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    return UINT64_MAX;
  }
  return static_cast<std::uint64_t>(limit.rlim_cur);
}

bool PathExists(WStringView path) {
  struct stat info {};
  return !path.empty() && ::stat(ToUtf8(path).c_str(), &info) == 0;
}

bool IsDirectory(WStringView path) {
  struct stat info {};
  return !path.empty() && ::stat(ToUtf8(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsSpecialFile(WStringView path) {
  struct stat info {};
  return !path.empty() && ::stat(ToUtf8(path).c_str(), &info) == 0 && !S_ISDIR(info.st_mode) &&
         !S_ISREG(info.st_mode);
}

WStringView FindFileName(WStringView path) {
  const std::size_t slash = path.find_last_of(u'/');
  return slash == WStringView::npos ? path : path.substr(slash + 1);
}

bool GetModuleFilePath(WString& path) {
  std::string buffer(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) {
    SetLastErrorCode(length < 0 ? Win32ErrorFromErrno(errno) : 122 /* insufficient buffer */);
    return false;
  }
  buffer.resize(static_cast<std::size_t>(length));
  path = FromUtf8Lossless(buffer);
  return true;
}

}  // namespace srctally::platform
