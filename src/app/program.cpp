// The entry function: protections, parameters, banner, counting, closing lines.
#include "app/program.h"

#include <memory>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "app/console.h"
#include "app/crash_identity.h"
#include "app/frame_sink.h"
#include "app/last_words.h"
#include "counting/csv_report.h"
#include "counting/file_report.h"
#include "counting/json_report.h"
#include "counting/line_stats.h"
#include "input/exclude_filter.h"
#include "input/git_ignore.h"
#include "input/text_report_sink.h"
#include "input/tree_walk.h"
#include "platform/byte_output.h"
#include "platform/console_sink.h"
#include "platform/crash_handler.h"
#include "platform/disk.h"
#include "platform/file_system.h"
#include "runtime/crash_dump.h"
#include "runtime/duration.h"
#include "runtime/stopwatch.h"
#include "runtime/system_text.h"

namespace srctally {
namespace {

// Points the last words of the process at the console while it lives.
class LastWordsScope {
 public:
  LastWordsScope(platform::IConsoleSink& sink, const CConsole& console) {
    SetLastWordsOutput(&sink, &console);
  }
  ~LastWordsScope() { SetLastWordsOutput(nullptr, nullptr); }
  LastWordsScope(const LastWordsScope&) = delete;
  LastWordsScope& operator=(const LastWordsScope&) = delete;
};

// Says on standard error, in one line as a document's failure is told, that standard
// output failed, and why.
void ReportUnwrittenOutput(std::uint32_t failureCode) {
  WString text = u"ERROR: the report could not be written to standard output";
  SystemTextBuffer system;
  if (GetSystemErrorText(failureCode, system)) {
    text += u": ";
    text += system;
  } else {
    text += u'.';
  }
  text += u'\n';
  platform::WriteStandardError(text);
}

void EchoSettings(CConsole& console) {
  WriteLine(console, u"Verbose mode enabled.");
  if ((console.options & option::kNoHeader) != 0) WriteLine(console, u"Header files not parsed.");
  if ((console.options & option::kSubdir) != 0) {
    WriteLine(console, u"Processing files in sub-directories.");
  }
  if (!console.excludes.Empty()) {
    WString patterns;
    for (std::size_t i = 0; i < console.excludes.Count(); ++i) {
      if (i != 0) patterns += u", ";
      patterns += console.excludes.Pattern(i);
    }
    WriteLine(console, u"Excluded: %s.", PrintableName(patterns));
  }
  if ((console.options & option::kGitIgnore) != 0) {
    WriteLine(console, u"Files and folders ignored by git not parsed.");
  }
  WriteLine(console);
}

// What the walk passes over: the user's exclude patterns, the repository's ignore rules,
// both, or nothing (no filter at all, so a walk without the switches asks nothing).
class CWalkFilters {
 public:
  explicit CWalkFilters(CConsole& console) {
    if (!console.excludes.Empty()) filter_ = &console.excludes;
    if ((console.options & option::kGitIgnore) == 0) return;
    gitIgnore_.emplace(GlobCase(platform::NameCaseFolding()));
    const RepositoryIgnores repository = LoadRepositoryIgnores(console.sourcePath);
    if (repository.found) {
      gitIgnore_->SetRepository(repository.sourcePrefix, repository.ancestorIgnoreFiles,
                                repository.excludeFile);
      linkedIgnoreFiles_ = repository.linkedIgnoreFiles;
    }
    if (filter_ == nullptr) {
      filter_ = &*gitIgnore_;
    } else {
      filter_ = &both_.emplace(console.excludes, *gitIgnore_);
    }
  }

  IWalkFilter* filter() const { return filter_; }
  /// Ignore files above the source folder that were not read because they are links.
  const std::vector<WString>& linkedIgnoreFiles() const { return linkedIgnoreFiles_; }

 private:
  std::optional<CGitIgnoreFilter> gitIgnore_;
  std::optional<CFilterPair> both_;
  IWalkFilter* filter_ = nullptr;
  std::vector<WString> linkedIgnoreFiles_;
};

// Passes a walk's events on to its reader and counts the failures among them, for the last
// line of a run that goes on after them.
class CFailureCount final : public IWalkSink {
 public:
  explicit CFailureCount(IWalkSink& sink) : sink_(sink) {}

  void FolderStarted(WStringView folder) override { sink_.FolderStarted(folder); }
  void FileCounted(WStringView folder, WStringView name, const LineStats& file) override {
    sink_.FileCounted(folder, name, file);
  }
  void FolderFinished(WStringView folder, std::int64_t fileCount) override {
    sink_.FolderFinished(folder, fileCount);
  }
  void FolderSkipped(WStringView folder, FolderSkip reason) override {
    sink_.FolderSkipped(folder, reason);
  }
  void FileSkipped(WStringView folder, WStringView name, FileSkip reason) override {
    sink_.FileSkipped(folder, name, reason);
  }
  void WalkFailed(WalkFailure step, WStringView folder, WStringView argument,
                  HResult code) override {
    ++(step == WalkFailure::kProcessFile ? files : folders);
    sink_.WalkFailed(step, folder, argument, code);
  }
  bool WantsMore() const override { return sink_.WantsMore(); }

  std::int64_t files = 0;    ///< files that could not be counted
  std::int64_t folders = 0;  ///< folders that could not be listed

 private:
  IWalkSink& sink_;
};

// The last line of a run that went on after failures: how much could not be counted.
WString UncountedText(const CFailureCount& failures) {
  WString text = Format(u"%lld file(s) could not be counted", failures.files);
  if (failures.folders != 0) {
    text += Format(u", %lld folder(s) could not be listed", failures.folders);
  }
  text += u'.';
  return text;
}

// Counts the source path, a folder tree or one file, into totals, and reports it to sink.
// verbose: the console report is at the verbose level.
HResult CountSourcePath(CConsole& console, IWalkSink& sink, bool verbose, LineStats& totals) {
  platform::IDisk& disk = platform::SystemDisk();
  if (platform::IsDirectory(console.sourcePath)) {
    WalkOptions options;
    options.noHeader = (console.options & option::kNoHeader) != 0;
    options.subdir = (console.options & option::kSubdir) != 0;
    options.verbose = verbose;
    options.threads = CountingThreads();
    options.keepGoing = (console.options & option::kKeepGoing) != 0;
    const CWalkFilters filters(console);
    for (const WString& file : filters.linkedIgnoreFiles()) {
      sink.FolderSkipped(file, FolderSkip::kIgnoreFileLink);
    }
    CTreeWalk walk(sink, disk, console.sourcePath, options, filters.filter());
    const char16_t root[] = {platform::PathSeparator(), u'\0'};
    return walk.WalkFolder(root, totals);
  }
  // A single file is counted whatever its extension.
  return CountSingleFile(sink, disk, console.sourcePath, platform::FindFileName(console.sourcePath),
                         totals);
}

// The reader of the walk: sink itself, or with /keepgoing sink behind a count of the
// failures, made in failures.
IWalkSink& CountedSink(const CConsole& console, IWalkSink& sink,
                       std::optional<CFailureCount>& failures) {
  if ((console.options & option::kKeepGoing) == 0) return sink;
  return failures.emplace(sink);
}

// A document's warnings and errors, each told on a line of standard error.
class CStandardErrorLines final : public IProblemLines {
 public:
  void WriteProblemLine(WStringView line) override {
    WString text(line);
    text += u'\n';
    platform::WriteStandardError(text);
  }
};

// Counts the source path into a JSON or CSV document on standard output. The document is
// ended even after a failure, so what it holds stays readable. args is the command line,
// for the JSON document's record of what made it.
int RunDocument(CConsole& console, const std::vector<WString>& args) {
  const std::unique_ptr<platform::IByteOutput> output = platform::CreateStandardOutputBytes();
  CStandardErrorLines problems;
  const char16_t separator = platform::PathSeparator();
  LineStats totals;
  totals.Reset();
  Stopwatch stopwatch;
  HResult status = hr::kOk;
  bool written = false;
  std::optional<CFailureCount> failures;
  if (console.format == OutputFormat::kJson) {
    CJsonReport document(*output, problems, separator);
    const WString version = console.VersionText();
    const std::span<const WString> arguments =
        args.empty() ? std::span<const WString>() : std::span<const WString>(args).subspan(1);
    TimeStampBuffer started;
    GetUtcTimeStamp(started);  // an empty stamp when the clock cannot be read
    stopwatch.Start();
    document.Begin(console.sourcePath, DocumentOrigin{version, arguments, started});
    status = CountSourcePath(console, CountedSink(console, document, failures), false, totals);
    stopwatch.Stop();
    written = document.Finish(stopwatch.ElapsedNanoseconds());
  } else {
    CCsvReport document(*output, problems, separator);
    document.Begin();
    status = CountSourcePath(console, CountedSink(console, document, failures), false, totals);
    written = document.Finish();
  }
  if (!written) {
    // Whatever was counted, a document nobody received is a failed run.
    WString line = u"ERROR: the document could not be written to standard output.";
    SystemTextBuffer system;
    if (GetSystemErrorText(static_cast<std::uint32_t>(HResultFromWin32(output->FailureCode())),
                           system)) {
      line += u' ';
      line += system;
    }
    problems.WriteProblemLine(line);
    return 2;
  }
  if (Failed(status) && failures) {
    problems.WriteProblemLine(WString(u"ERROR: ") + UncountedText(*failures));
  }
  return Failed(status) ? 2 : 0;
}

int Run(CConsole& console, CFrameSink& frame, std::vector<WString>& args) {
  console.ParseCommandLine(args);
  if (console.format != OutputFormat::kText) {
    // Standard output carries the document alone; the frame's text, and the last words of a
    // crash or of memory run out, go to standard error.
    frame.UseStandardError();
    if (console.VersionIsTheAnswer()) {
      console.ShowVersion();
      return 0;
    }
    if (console.ReportProblems()) return console.UsageIsTheAnswer() ? 0 : 1;
    return RunDocument(console, args);
  }
  // The last words continue the report where it stands.
  SendLastWordsToStandardError(false);
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
  std::optional<CFailureCount> failures;
  CTextReportSink report(console, verbose, (console.options & option::kKeepGoing) != 0);
  // Once the report cannot be written, counting the rest of the tree serves nobody.
  report.SetOutputFailedQuery(CBaseConsole::OutputFailedAt, &console);
  const HResult status =
      CountSourcePath(console, CountedSink(console, report, failures), verbose, totals);
  if (Failed(status) && !failures) return 2;
  stopwatch.Stop();

  if (!verbose) WriteLine(console);
  WriteLine(console, u"------------------------------------------------------------------");
  if (totals.files != 0) PrintSummary(console, totals);
  const WString elapsed = FormatDuration(stopwatch.ElapsedNanoseconds());
  WriteLine(console, u"%lld file(s) processed in %s.", totals.files, elapsed);
  if (!Failed(status)) return 0;
  // Gone on after failures: the summary holds what was counted; the run still failed.
  WriteError(console, u"%s", 0, UncountedText(*failures));
  return 2;
}

}  // namespace

int RunProgram(std::vector<WString>& args) {
  SetCrashIdentityProvider(ReadCrashIdentity);
  platform::InstallCrashHandler();
  const std::unique_ptr<platform::IConsoleSink> sink = platform::CreateStandardOutputSink();
  CFrameSink frame(*sink);
  CConsole console(frame);
  // The last words go to standard output's own sink, which writes them without allocating.
  const LastWordsScope lastWords(*sink, console);
  SetCrashNotification(FatalReport);
  int exitCode = 2;
  try {
    exitCode = Run(console, frame, args);
  } catch (const std::bad_alloc&) {
    // Whatever was being done stops here; the line continues the output where it stands.
    exitCode = ReportOutOfMemory();
  }
  sink->FlushAll();
  // A run whose output could not be written has not done its job, whatever it counted or
  // answered (the usage asked for with /? included).
  if (sink->HasFailed()) {
    exitCode = 2;
    try {
      ReportUnwrittenOutput(sink->FailureCode());
    } catch (const std::bad_alloc&) {
      // Out of memory as well: the exit code alone has to tell.
    }
  }
  return exitCode;
}

}  // namespace srctally
