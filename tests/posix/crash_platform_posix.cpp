// Crash test settings on POSIX: the dump folder follows XDG_DATA_HOME.
#include "testing/crash_platform.h"

namespace srctally::testing {

std::filesystem::path PrepareLocalAppData(const std::filesystem::path& scratch,
                                          std::map<std::string, std::string>& env) {
  env["XDG_DATA_HOME"] = scratch.string();
  return scratch;
}

int CrashExitCode() { return 255; }

}  // namespace srctally::testing
