// What differs between the platforms when a test watches a child process crash.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace srctally::testing {

/// The local application data folder that the crash handler of a child started with env
/// will use. On POSIX it points XDG_DATA_HOME (added to env) at scratch; on Windows it is
/// the user's own folder, which a child cannot be pointed away from.
std::filesystem::path PrepareLocalAppData(const std::filesystem::path& scratch,
                                          std::map<std::string, std::string>& env);

/// How ProcessResult reports a child that ended with exit code -1: 255 on POSIX, -1 on
/// Windows.
int CrashExitCode();

}  // namespace srctally::testing
