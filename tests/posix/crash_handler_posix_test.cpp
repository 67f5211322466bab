// Fatal signals on POSIX: each caught signal leaves a dump with its number as the exception
// code; when no dump can be made the signal's default action follows and nothing is left.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <string>

#include "testing/minidump_reader.h"
#include "testing/process_runner.h"
#include "testing/temp_dir.h"

namespace srctally::testing {
namespace {

namespace fs = std::filesystem;

std::size_t CountFiles(const fs::path& folder) {
  std::size_t count = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    count += entry.is_regular_file() ? 1 : 0;
  }
  return count;
}

std::size_t CountEntries(const fs::path& folder) {
  return static_cast<std::size_t>(
      std::distance(fs::recursive_directory_iterator(folder), fs::recursive_directory_iterator()));
}

TEST(PosixCrashHandler, RecordsTheSignalOfEachFault) {
  struct Row {
    const char* mode;
    int signalNumber;
  };
  for (const Row row : {Row{"write", SIGSEGV}, Row{"abort", SIGABRT}, Row{"overflow", SIGSEGV}}) {
    TempDir scratch;
    const ProcessResult result = RunProcess({SRCTALLY_CRASH_TEST_EXE, row.mode, "Tally"},
                                            {{"XDG_DATA_HOME", scratch.path().string() + "/"}});
    EXPECT_EQ(result.exitCode, 255) << row.mode;
    ASSERT_EQ(CountFiles(scratch.path() / "Tally"), 1u) << row.mode;
    DumpSummary dump;
    ASSERT_EQ(ReadDump(fs::directory_iterator(scratch.path() / "Tally")->path(), dump), "");
    EXPECT_EQ(dump.exceptionCode, static_cast<std::uint32_t>(row.signalNumber)) << row.mode;
  }
}

TEST(PosixCrashHandler, MissingFolderChainIsCreated) {
  TempDir scratch;
  const fs::path dataHome = scratch.path() / "not" / "there";
  const ProcessResult result = RunProcess({SRCTALLY_CRASH_TEST_EXE, "write", "Tally"},
                                          {{"XDG_DATA_HOME", dataHome.string()}});
  EXPECT_EQ(result.exitCode, 255);
  EXPECT_EQ(CountFiles(dataHome / "Tally"), 1u);
}

TEST(PosixCrashHandler, WithoutADumpTheDefaultActionFollowsAndNothingIsLeft) {
  struct Row {
    const char* why;
    const char* mode;
    std::string product;
    bool makesFolder = false;  ///< folders once created stay; only the file must go
  };
  const Row rows[] = {
      {"no identity", "write", "-"},
      // A folder name the file system takes, but the whole path exceeds 260 characters.
      {"path too long", "write", std::string(200, 'p')},
      {"product folder is a file", "write", "Taken"},
      // The dump file is created, then a write fails: the partial file must go.
      {"file size limit", "limited", "Tally", true},
  };
  for (const Row& row : rows) {
    TempDir scratch;
    if (row.product == "Taken") scratch.Write("Taken", "not a folder");
    const std::size_t before = CountEntries(scratch.path());
    const ProcessResult result = RunProcess({SRCTALLY_CRASH_TEST_EXE, row.mode, row.product},
                                            {{"XDG_DATA_HOME", scratch.path().string()}});
    EXPECT_EQ(result.exitCode, 128 + SIGSEGV) << row.why;
    EXPECT_EQ(result.stdoutBytes, "") << row.why;
    EXPECT_EQ(CountEntries(scratch.path()), before + (row.makesFolder ? 1 : 0)) << row.why;
    EXPECT_EQ(CountFiles(scratch.path()), row.product == "Taken" ? 1u : 0u) << row.why;
  }
}

}  // namespace
}  // namespace srctally::testing
