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
    // 255, not 3: nothing was allocated from the fault to the exit.
    EXPECT_EQ(result.exitCode, 255) << row.mode;
    ASSERT_EQ(CountFiles(scratch.path() / "Tally"), 1u) << row.mode;
    const fs::path dumpFile = fs::directory_iterator(scratch.path() / "Tally")->path();
    EXPECT_EQ(result.stdoutBytes,
              "ERROR: the program stopped unexpectedly; a crash dump was written to '" +
                  dumpFile.string() + "'.\n");
    DumpSummary dump;
    ASSERT_EQ(ReadDump(dumpFile, dump), "");
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

// kill -SEGV from outside is no crash of ours: no dump, no line, and the parent sees the
// signal itself.
TEST(PosixCrashHandler, ASignalFromAnotherProcessIsNoCrash) {
  TempDir scratch;
  const ProcessResult result = RunProcess({SRCTALLY_CRASH_TEST_EXE, "killed", "Tally"},
                                          {{"XDG_DATA_HOME", scratch.path().string()}});
  EXPECT_EQ(result.exitCode, 128 + SIGSEGV);
  EXPECT_EQ(result.stdoutBytes, "");
  EXPECT_EQ(CountEntries(scratch.path()), 0u);
}

// Under address-space limits from far too small to plenty, the program either runs, or
// stops with exit code 2 and one error line; it never dies of a signal or of an exception
// that could not be thrown. (A limit so small that the loader fails never reaches it.)
TEST(PosixCrashHandler, RunningOutOfMemoryEndsWithOneErrorLine) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs far more address space than these limits";
#endif
  TempDir scratch;
  scratch.Write("tree/a.c", "int a;\n");
  scratch.Write("tree/sub/b.h", "// b\n");
  const std::string line = "ERROR: not enough memory to go on.\n";
  int stopped = 0;
  for (int kib = 5600; kib <= 12000; kib += 200) {
    const std::string command = "ulimit -v " + std::to_string(kib) + "; exec '" + SRCTALLY_EXE +
                                "' '" + (scratch.path() / "tree").string() + "' /subdir";
    const ProcessResult result =
        RunProcess({"/bin/sh", "-c", command}, {{"XDG_DATA_HOME", scratch.path().string()}}, {},
                   ChildError::kCaptured);
    if (result.exitCode == 127) continue;  // the loader could not even map the program
    if (result.exitCode == 2 && result.stdoutBytes.empty()) {
      // Memory ran out before the parameters were read: nothing stood on standard output.
      ++stopped;
      EXPECT_EQ(result.stderrBytes, line) << kib;
    } else if (result.exitCode == 2) {
      ++stopped;
      EXPECT_EQ(result.stderrBytes, "") << kib;
      ASSERT_GE(result.stdoutBytes.size(), line.size()) << kib;
      EXPECT_EQ(result.stdoutBytes.substr(result.stdoutBytes.size() - line.size()), line) << kib;
      EXPECT_EQ(result.stdoutBytes.find("ERROR:"), result.stdoutBytes.size() - line.size()) << kib;
    } else {
      EXPECT_EQ(result.exitCode, 0) << kib << "\n" << result.stdoutBytes;
    }
  }
  EXPECT_GT(stopped, 0) << "no limit made the program run out of memory";
  EXPECT_FALSE(fs::exists(scratch.path() / "Source Tally")) << "no crash dump";
}

// The same beside a CSV document: the line goes to standard error, and standard output holds
// nothing but the document's bytes.
TEST(PosixCrashHandler, RunningOutOfMemoryBesideADocumentSaysSoOnStandardError) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs far more address space than these limits";
#endif
  TempDir scratch;
  scratch.Write("tree/a.c", "int a;\n");
  scratch.Write("tree/sub/b.h", "// b\n");
  const std::string line = "ERROR: not enough memory to go on.\n";
  int stopped = 0;
  for (int kib = 5600; kib <= 12000; kib += 300) {
    const std::string command = "ulimit -v " + std::to_string(kib) + "; exec '" + SRCTALLY_EXE +
                                "' '" + (scratch.path() / "tree").string() +
                                "' /subdir /format:csv";
    const ProcessResult result =
        RunProcess({"/bin/sh", "-c", command}, {{"XDG_DATA_HOME", scratch.path().string()}}, {},
                   ChildError::kCaptured);
    if (result.exitCode == 127) continue;  // the loader could not even map the program
    EXPECT_EQ(result.stdoutBytes.find("ERROR"), std::string::npos) << kib;
    if (result.exitCode == 2) {
      ++stopped;
      EXPECT_TRUE(result.stderrBytes.ends_with(line)) << kib << "\n" << result.stderrBytes;
    } else {
      EXPECT_EQ(result.exitCode, 0) << kib << "\n" << result.stderrBytes;
    }
  }
  EXPECT_GT(stopped, 0) << "no limit made the program run out of memory";
}

}  // namespace
}  // namespace srctally::testing
