// Crash test settings on Windows: dumps go to the user's local application data folder.
#include <windows.h>
// The shell folder declarations need the base declarations above.
#include <shlobj.h>

#include "testing/crash_platform.h"

namespace srctally::testing {

std::filesystem::path PrepareLocalAppData(const std::filesystem::path&,
                                          std::map<std::string, std::string>&) {
  wchar_t folder[MAX_PATH];
  if (::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                         SHGFP_TYPE_CURRENT, folder) != S_OK) {
    return {};
  }
  return std::filesystem::path(folder);
}

int CrashExitCode() { return -1; }

}  // namespace srctally::testing
