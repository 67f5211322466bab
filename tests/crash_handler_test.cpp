// The crash handler seen from outside: a test program faults on purpose in a child process
// and must leave exactly one well-formed dump, print the error line and exit with -1.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/minidump_format.h"
#include "testing/crash_platform.h"
#include "testing/minidump_reader.h"
#include "testing/process_runner.h"
#include "testing/temp_dir.h"

namespace srctally::testing {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> FilesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) files.push_back(entry.path());
  return files;
}

/// Whether name reads crash_test_program[.exe]_1.2.3.4_<arch>_YYYY-MM-DD_HHMMSS_mmm.dmp.
bool IsDumpName(std::string name) {
  for (const char* prefix : {"crash_test_program.exe_1.2.3.4_", "crash_test_program_1.2.3.4_"}) {
    if (name.rfind(prefix, 0) == 0) {
      name.erase(0, std::string(prefix).size());
      break;
    }
  }
  bool archFound = false;
  for (const char* arch : {"x64_", "arm64_", "x86_"}) {
    if (!archFound && name.rfind(arch, 0) == 0) {
      name.erase(0, std::string(arch).size());
      archFound = true;
    }
  }
  const std::string shape = "0000-00-00_000000_000.dmp";
  if (!archFound || name.size() != shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    const bool digit = name[i] >= '0' && name[i] <= '9';
    if (shape[i] == '0' ? !digit : name[i] != shape[i]) return false;
  }
  return true;
}

/// Removes the product folder of one run, which on Windows lies in the user's own local
/// application data folder.
struct FolderCleanup {
  fs::path folder;
  ~FolderCleanup() {
    std::error_code error;
    fs::remove_all(folder, error);
  }
};

TEST(CrashHandler, AFaultLeavesOneDumpAndEndsWithTheErrorLine) {
  TempDir scratch;
  std::map<std::string, std::string> env;
  const fs::path localAppData = PrepareLocalAppData(scratch.path(), env);
  ASSERT_FALSE(localAppData.empty());
  const std::string product = "Source Tally Test " + std::to_string(std::random_device{}());
  // The company name is blank, so the product folder lies directly in local app data.
  const FolderCleanup cleanup{localAppData / product};

  const ProcessResult result = RunProcess({SRCTALLY_CRASH_TEST_EXE, "write", product}, env);

  EXPECT_EQ(result.exitCode, CrashExitCode());
  const std::vector<fs::path> files = FilesIn(cleanup.folder);
  ASSERT_EQ(files.size(), 1u) << result.stdoutBytes;
  const std::string name = files[0].filename().string();
  EXPECT_TRUE(IsDumpName(name)) << name;
  EXPECT_EQ(result.stdoutBytes.rfind("ERROR: ", 0), 0u) << result.stdoutBytes;
  EXPECT_NE(result.stdoutBytes.find(name), std::string::npos) << result.stdoutBytes;

  DumpSummary dump;
  ASSERT_EQ(ReadDump(files[0], dump), "");
  for (const std::uint32_t type : {minidump::stream::kSystemInfo, minidump::stream::kException,
                                   minidump::stream::kThreadList, minidump::stream::kModuleList}) {
    EXPECT_NE(std::find(dump.streamTypes.begin(), dump.streamTypes.end(), type),
              dump.streamTypes.end())
        << "stream " << type;
  }
  EXPECT_NE(dump.stackPointer, 0u);
  EXPECT_GE(dump.stackPointer, dump.stackStart);
  EXPECT_LT(dump.stackPointer, dump.stackStart + dump.stackSize);
  EXPECT_TRUE(
      std::any_of(dump.moduleNames.begin(), dump.moduleNames.end(), [](const std::string& module) {
        return module.find("crash_test_program") != std::string::npos;
      }));
}

// With a JSON or CSV document on standard output, the crash line must not end up in it.
TEST(CrashHandler, BesideADocumentTheErrorLineGoesToStandardError) {
  TempDir scratch;
  std::map<std::string, std::string> env;
  const fs::path localAppData = PrepareLocalAppData(scratch.path(), env);
  ASSERT_FALSE(localAppData.empty());
  const std::string product = "Source Tally Test " + std::to_string(std::random_device{}());
  const FolderCleanup cleanup{localAppData / product};

  const ProcessResult result = RunProcess({SRCTALLY_CRASH_TEST_EXE, "document", product}, env,
                                          {}, ChildError::kCaptured);

  EXPECT_EQ(result.exitCode, CrashExitCode());
  EXPECT_EQ(result.stdoutBytes, "");
  const std::vector<fs::path> files = FilesIn(cleanup.folder);
  ASSERT_EQ(files.size(), 1u) << result.stderrBytes;
  const std::string& line = result.stderrBytes;
  EXPECT_EQ(line.rfind("ERROR: the program stopped unexpectedly; a crash dump was written to '", 0),
            0u)
      << line;
  EXPECT_NE(line.find(files[0].filename().string()), std::string::npos) << line;
  EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
}

}  // namespace
}  // namespace srctally::testing
