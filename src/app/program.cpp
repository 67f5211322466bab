// The entry function: protections, parameters, banner, counting, closing lines.
#include "app/program.h"

#include <cstdlib>
#include <memory>

#include "app/console.h"
#include "app/crash_identity.h"
#include "counting/file_report.h"
#include "counting/line_stats.h"
#include "input/tree_walk.h"
#include "platform/console_sink.h"
#include "platform/crash_handler.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "runtime/crash_dump.h"
#include "runtime/duration.h"
#include "runtime/stopwatch.h"

namespace srctally {
namespace {

// The string that reports a written crash dump.
constexpr std::uint32_t kCrashReportString = 27009;

// The console that the crash notification reports through; set while RunProgram runs.
CConsole* crashConsole = nullptr;

// Tells the user where the crash dump is, then ends the process with exit code -1.
void FatalReport(const char16_t* dumpPath) {
  if (crashConsole != nullptr) WriteErrorId(*crashConsole, kCrashReportString, dumpPath);
  std::_Exit(-1);
}

void EchoSettings(CConsole& console) {
  WriteLine(console, u"Verbose mode enabled.");
  if ((console.options & option::kNoHeader) != 0) WriteLine(console, u"Header files not parsed.");
  if ((console.options & option::kSubdir) != 0) {
    WriteLine(console, u"Processing files in sub-directories.");
  }
  WriteLine(console);
}

// Counts the source path, a folder tree or one file, into totals.
HResult CountSourcePath(CConsole& console, LineStats& totals) {
  const bool verbose = console.displayLevel() == display::kVerbose;
  if (platform::IsDirectory(console.sourcePath)) {
    const WalkOptions options{(console.options & option::kNoHeader) != 0,
                              (console.options & option::kSubdir) != 0, verbose};
    CTreeWalk walk(console, console.sourcePath, options);
    const char16_t root[] = {platform::PathSeparator(), u'\0'};
    return walk.WalkFolder(root, totals);
  }
  // A single file is counted whatever its extension; a failure is not reported.
  const platform::FileLocation file{console.sourcePath};
  return ProcessFile(file, platform::FindFileName(console.sourcePath), totals, console, verbose);
}

int Run(CConsole& console, std::vector<WString>& args) {
  console.ParseCommandLine(args);
  if (console.VersionIsTheAnswer()) {
    console.ShowVersion();
    return 0;
  }
  console.ShowBanner();
  if (console.ReportProblems()) return console.UsageIsTheAnswer() ? 0 : 1;
  if (args.size() == 1)
    WriteText(console, u"For a list of supported parameters use:\tsrctally /?\n\n");
  const bool verbose = console.displayLevel() == display::kVerbose;
  if (verbose) EchoSettings(console);
  WriteText(console, u"Source path: %s.\n\n", PrintableName(console.sourcePath));

  LineStats totals;
  totals.Reset();
  Stopwatch stopwatch;
  stopwatch.Start();
  if (Failed(CountSourcePath(console, totals))) return 2;
  stopwatch.Stop();

  if (!verbose) WriteLine(console);
  WriteLine(console, u"------------------------------------------------------------------");
  if (totals.files != 0) PrintSummary(console, totals);
  const WString elapsed = FormatDuration(stopwatch.ElapsedNanoseconds());
  WriteLine(console, u"%lld file(s) processed in %s.", totals.files, elapsed);
  return 0;
}

}  // namespace

int RunProgram(std::vector<WString>& args) {
  SetCrashIdentityProvider(ReadCrashIdentity);
  platform::InstallCrashHandler();
  const std::unique_ptr<platform::IConsoleSink> sink = platform::CreateStandardOutputSink();
  CConsole console(*sink);
  crashConsole = &console;
  SetCrashNotification(FatalReport);
  const int exitCode = Run(console, args);
  sink->Flush();
  crashConsole = nullptr;
  return exitCode;
}

}  // namespace srctally
