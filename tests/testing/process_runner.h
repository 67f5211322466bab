// Runs a program as a child process and collects its exit status and standard output, for
// tests that must watch a whole process (crashes, end-to-end runs).
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace srctally::testing {

struct ProcessResult {
  /// The exit code. POSIX: the exit status (so exit(-1) gives 255), or 128 + the signal
  /// number when a signal ended the child. Windows: the process exit code as a signed
  /// value (ExitProcess(-1) gives -1). -1000 when the child could not be started.
  int exitCode = 0;
  std::string stdoutBytes;  ///< everything the child wrote to standard output
  std::string stderrBytes;  ///< and to standard error, when the caller asked for it
};

/// Where a child's standard error goes.
enum class ChildError { kInherited, kCaptured };

/// Runs argv[0] with the arguments argv (UTF-8), the caller's environment plus extraEnv
/// (which overrides variables of the same name), standard input inherited, standard error
/// inherited or captured into stderrBytes, in workingDir when it is not empty (else in the
/// caller's current folder).
/// On Windows an argv[0] that starts with '/' is a Linux path seen through wine's Z: drive.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& extraEnv = {},
                         const std::filesystem::path& workingDir = {},
                         ChildError error = ChildError::kInherited);

}  // namespace srctally::testing
