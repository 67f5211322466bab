// Runs of the built program whose standard output cannot be written: a full device, a
// closed descriptor, a pipe nobody reads. Exit code 0 must mean the whole report was
// written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "testing/temp_dir.h"

namespace srctally {
namespace {

enum class Stdout { kDevFull, kClosed, kPipeWithoutReader };

struct ChildRun {
  int exitCode = -1;  // -1 when a signal ended the program
  int signal = 0;
  std::string stderrText;
};

// Runs the program on path with standard output set up as kind and standard error on a pipe.
// ignorePipeSignal: the program starts with SIGPIPE ignored, as under some shells and
// service managers.
ChildRun RunWithFailingStdout(const std::string& path, Stdout kind, bool ignorePipeSignal,
                              const char* option = "/subdir") {
  ChildRun run;
  int errPipe[2];
  int outPipe[2] = {-1, -1};
  if (::pipe(errPipe) != 0) return run;
  if (kind == Stdout::kPipeWithoutReader) {
    if (::pipe(outPipe) != 0) return run;
    ::close(outPipe[0]);  // closed before the program starts: every write meets no reader
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(errPipe[1], 2);
    ::close(errPipe[0]);
    ::close(errPipe[1]);
    switch (kind) {
      case Stdout::kDevFull: {
        const int fd = ::open("/dev/full", O_WRONLY);
        ::dup2(fd, 1);
        ::close(fd);
        break;
      }
      case Stdout::kClosed:
        ::close(1);
        break;
      case Stdout::kPipeWithoutReader:
        ::dup2(outPipe[1], 1);
        ::close(outPipe[1]);
        break;
    }
    ::signal(SIGPIPE, ignorePipeSignal ? SIG_IGN : SIG_DFL);
    const char* argv[] = {SRCTALLY_EXE, path.c_str(), option, nullptr};
    ::execv(argv[0], const_cast<char* const*>(argv));
    ::_exit(127);
  }
  ::close(errPipe[1]);
  if (outPipe[1] >= 0) ::close(outPipe[1]);
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(errPipe[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    run.stderrText.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(errPipe[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  return run;
}

TEST(OutputFailurePosixTest, AnUnwrittenReportExitsWithTwoAndSaysWhyOnce) {
  testing::TempDir dir;
  dir.Write("a.c", "int a;\n");
  dir.Write("sub/b.c", "int b;\n");
  const std::string path = dir.path().string();
  // One line, as a document's failure is told: the message, then the system's text.
  const std::string message = "ERROR: the report could not be written to standard output: ";
  const struct {
    Stdout kind;
    bool ignorePipeSignal;
    const char* cause;
  } rows[] = {
      {Stdout::kDevFull, false, "(112)\n"},  // no space left on the device
      {Stdout::kClosed, false, "(6)\n"},     // no descriptor to write to
      {Stdout::kPipeWithoutReader, true, "(109)\n"},
  };
  for (const auto& row : rows) {
    const ChildRun run = RunWithFailingStdout(path, row.kind, row.ignorePipeSignal);
    EXPECT_EQ(run.exitCode, 2) << static_cast<int>(row.kind);
    ASSERT_EQ(run.stderrText.rfind(message, 0), 0u) << run.stderrText;
    EXPECT_EQ(run.stderrText.find("ERROR", 1), std::string::npos) << run.stderrText;
    EXPECT_TRUE(run.stderrText.ends_with(row.cause)) << run.stderrText;
    EXPECT_EQ(run.stderrText.find('\n'), run.stderrText.size() - 1) << run.stderrText;
  }
}

// The usage asked for is an answer like a report: unwritten, the run failed.
TEST(OutputFailurePosixTest, AnUnwrittenUsageExitsWithTwo) {
  testing::TempDir dir;
  for (const char* option : {"/?", "--help"}) {
    const ChildRun run = RunWithFailingStdout(dir.path().string(), Stdout::kDevFull, false, option);
    EXPECT_EQ(run.exitCode, 2) << option;
    EXPECT_TRUE(run.stderrText.ends_with("(112)\n")) << run.stderrText;
  }
}

TEST(OutputFailurePosixTest, AClosedPipeEndsTheProgramByItsSignalByDefault) {
  testing::TempDir dir;
  dir.Write("a.c", "int a;\n");
  const ChildRun run = RunWithFailingStdout(dir.path().string(), Stdout::kPipeWithoutReader, false);
  EXPECT_EQ(run.signal, SIGPIPE);
  EXPECT_EQ(run.stderrText, "");
}

}  // namespace
}  // namespace srctally
