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
#include "base/format.h"
#include "counting/line_stats.h"
#include "platform/byte_output.h"
#include "platform/console_sink.h"
#include "platform/crash_dump.h"
#include "platform/crash_handler.h"
#include "platform/disk.h"
#include "platform/file_system.h"
#include "report/baseline.h"
#include "report/compare_report.h"
#include "report/comparison.h"
#include "report/csv_report.h"
#include "report/file_report.h"
#include "report/json_report.h"
#include "report/language_report.h"
#include "report/run_recorder.h"
#include "report/text_report_sink.h"
#include "runtime/duration.h"
#include "runtime/stopwatch.h"
#include "runtime/system_text.h"
#include "walk/exclude_filter.h"
#include "walk/git_ignore.h"
#include "walk/tree_walk.h"

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
  if ((console.options & option::kLanguages) != 0)
    WriteLine(console, u"Counts per language shown.");
  if ((console.options & option::kCompare) != 0) {
    WriteLine(console, u"Compared against: %s.", PrintableName(console.compareGiven));
  }
  WriteLine(console);
}

// What the walk passes over: the user's exclude patterns, the repository's ignore rules,
// both, or nothing (no filter at all, so a walk without the switches asks nothing).
class CWalkFilters {
 public:
  // root: the folder walked (the source path, or the baseline of a comparison).
  CWalkFilters(CConsole& console, WStringView root) {
    if (!console.excludes.Empty()) filter_ = &console.excludes;
    if ((console.options & option::kGitIgnore) == 0) return;
    gitIgnore_.emplace(GlobCase(platform::NameCaseFolding()));
    const RepositoryIgnores repository = LoadRepositoryIgnores(root);
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

// Counts path, a folder tree or one file, with the console's switches into totals, and
// reports it to sink. verbose: the console report is at the verbose level.
HResult CountPath(CConsole& console, WStringView path, IWalkSink& sink, bool verbose,
                  LineStats& totals) {
  platform::IDisk& disk = platform::SystemDisk();
  if (platform::IsDirectory(path)) {
    WalkOptions options;
    options.noHeader = (console.options & option::kNoHeader) != 0;
    options.subdir = (console.options & option::kSubdir) != 0;
    options.verbose = verbose;
    options.threads = CountingThreads();
    options.keepGoing = (console.options & option::kKeepGoing) != 0;
    const CWalkFilters filters(console, path);
    for (const WString& file : filters.linkedIgnoreFiles()) {
      sink.FolderSkipped(file, FolderSkip::kIgnoreFileLink);
    }
    CTreeWalk walk(sink, disk, WString(path), options, filters.filter());
    const char16_t root[] = {platform::PathSeparator(), u'\0'};
    return walk.WalkFolder(root, totals);
  }
  // A single file is counted whatever its extension.
  return CountSingleFile(sink, disk, path, platform::FindFileName(path), totals);
}

HResult CountSourcePath(CConsole& console, IWalkSink& sink, bool verbose, LineStats& totals) {
  return CountPath(console, console.sourcePath, sink, verbose, totals);
}

// Where the problems with a baseline are told: the console report, or standard error.
class IBaselineProblems {
 public:
  virtual ~IBaselineProblems() = default;
  /// message is told as an error; a failed code adds the system's text for it.
  virtual void TellError(WStringView message, HResult code) = 0;
};

// The exit codes of a baseline that cannot be had.
constexpr int kExitBadBaselineDocument = 1;  // like a problem of the command line
constexpr int kExitBaselineNotCounted = 2;   // like a source path that cannot be counted

// Whether the baseline is a tree or source file to count rather than a document: a folder,
// or a file with an extension the walk accepts.
bool BaselineIsCounted(WStringView path) {
  if (platform::IsDirectory(path)) return true;
  return LanguageOfFile(platform::FindFileName(path), platform::PathSeparator()) !=
         Language::kOther;
}

// Reads or counts the baseline of /compare into files. Answers 0, or the exit code after
// telling what went wrong.
int LoadBaseline(CConsole& console, std::vector<FileRecord>& files, IBaselineProblems& problems) {
  const char16_t separator = platform::PathSeparator();
  if (BaselineIsCounted(console.comparePath)) {
    CRunRecorder recorder(nullptr, separator, true);
    LineStats totals;
    totals.Reset();
    const HResult status = CountPath(console, console.comparePath, recorder, false, totals);
    if (!Failed(status)) {
      files = std::move(recorder.files());
      return 0;
    }
    WString message = Format(u"the baseline '%s' could not be counted", console.compareGiven);
    HResult code = status;
    if (recorder.failure()) {
      const RecordedFailure& failure = *recorder.failure();
      code = failure.code;
      message += u": ";
      message += DescribeWalkFailure(failure.step, failure.relativeFolder, failure.argument,
                                     failure.code, separator)
                     .message;
    } else {
      message += u'.';
    }
    problems.TellError(message, code);
    return kExitBaselineNotCounted;
  }
  std::string problem;
  const HResult read =
      ReadBaselineDocument(platform::SystemDisk(), console.comparePath, separator, files, problem);
  if (Failed(read)) {
    problems.TellError(Format(u"cannot read the baseline '%s'.", console.compareGiven), read);
    return kExitBadBaselineDocument;
  }
  if (read != hr::kOk) {
    problems.TellError(Format(u"the baseline '%s' is not a JSON document of srctally: %s.",
                              console.compareGiven, FromUtf8Lossless(problem)),
                       hr::kOk);
    return kExitBadBaselineDocument;
  }
  return 0;
}

// Compares what the recorder kept of the counted tree with the baseline's files.
Comparison CompareWithBaseline(CRunRecorder& recorder, std::vector<FileRecord>& baseline) {
  return CompareFiles(recorder.files(), baseline, GlobCase(platform::NameCaseFolding()));
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

// A baseline's problems on standard error, one line each as the documents' problems are.
class CStandardErrorBaselineProblems final : public IBaselineProblems {
 public:
  explicit CStandardErrorBaselineProblems(IProblemLines& lines) : lines_(lines) {}
  void TellError(WStringView message, HResult code) override {
    WString line = u"ERROR: ";
    AppendPrintableName(line, message);
    SystemTextBuffer system;
    if (Failed(code) && GetSystemErrorText(static_cast<std::uint32_t>(code), system)) {
      line += u' ';
      AppendPrintableName(line, system);
    }
    lines_.WriteProblemLine(line);
  }

 private:
  IProblemLines& lines_;
};

// Counts the source path into a JSON or CSV document on standard output. The document is
// ended even after a failure, so what it holds stays readable. A baseline to compare with
// is had first: when it cannot be, the document is not begun. args is the command line,
// for the JSON document's record of what made it.
int RunDocument(CConsole& console, const std::vector<WString>& args) {
  CStandardErrorLines problems;
  const bool compare = (console.options & option::kCompare) != 0;
  std::vector<FileRecord> baseline;
  if (compare) {
    CStandardErrorBaselineProblems baselineProblems(problems);
    const int exitCode = LoadBaseline(console, baseline, baselineProblems);
    if (exitCode != 0) return exitCode;
  }
  const std::unique_ptr<platform::IByteOutput> output = platform::CreateStandardOutputBytes();
  const char16_t separator = platform::PathSeparator();
  LineStats totals;
  totals.Reset();
  Stopwatch stopwatch;
  HResult status = hr::kOk;
  bool written = false;
  std::optional<CFailureCount> failures;
  if (console.format == OutputFormat::kJson) {
    CJsonReport document(*output, problems, separator);
    CRunRecorder recorder(&document, separator, true);
    IWalkSink& sink = compare ? static_cast<IWalkSink&>(recorder) : document;
    const WString version = console.VersionText();
    const std::span<const WString> arguments =
        args.empty() ? std::span<const WString>() : std::span<const WString>(args).subspan(1);
    TimeStampBuffer started;
    GetUtcTimeStamp(started);  // an empty stamp when the clock cannot be read
    stopwatch.Start();
    document.Begin(console.sourcePath, DocumentOrigin{version, arguments, started});
    status = CountSourcePath(console, CountedSink(console, sink, failures), false, totals);
    stopwatch.Stop();
    // A tree counted only in part would show every file after the failure as removed.
    std::string comparison;
    if (compare && !Failed(status)) {
      AppendComparisonJson(comparison, CompareWithBaseline(recorder, baseline),
                           console.compareGiven);
    }
    written = document.Finish(stopwatch.ElapsedNanoseconds(), comparison);
  } else {
    const bool languages = (console.options & option::kLanguages) != 0;
    CCsvReport document(*output, problems, separator, !languages && !compare);
    CRunRecorder recorder(&document, separator, compare);
    IWalkSink& sink = compare || languages ? static_cast<IWalkSink&>(recorder) : document;
    document.Begin();
    status = CountSourcePath(console, CountedSink(console, sink, failures), false, totals);
    std::string rows;
    if (compare && !Failed(status)) rows = ComparisonCsv(CompareWithBaseline(recorder, baseline));
    if (languages) rows = LanguageCsv(recorder.languages().Rows());
    written = document.Finish(rows);
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

// A baseline's problems as errors of the console report.
class CConsoleBaselineProblems final : public IBaselineProblems {
 public:
  explicit CConsoleBaselineProblems(CConsole& console) : console_(console) {}
  void TellError(WStringView message, HResult code) override {
    WriteError(console_, u"%s", code, PrintableName(message));
  }

 private:
  CConsole& console_;
};

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
  const bool languages = (console.options & option::kLanguages) != 0;
  const bool compare = (console.options & option::kCompare) != 0;
  std::vector<FileRecord> baseline;
  if (compare) {
    CConsoleBaselineProblems baselineProblems(console);
    const int exitCode = LoadBaseline(console, baseline, baselineProblems);
    if (exitCode != 0) return exitCode;
  }
  WriteText(console, u"Source path: %s.\n\n", PrintableName(console.sourcePath));

  LineStats totals;
  totals.Reset();
  Stopwatch stopwatch;
  stopwatch.Start();
  std::optional<CFailureCount> failures;
  CTextReportSink report(console, verbose, (console.options & option::kKeepGoing) != 0);
  // Once the report cannot be written, counting the rest of the tree serves nobody.
  report.SetOutputFailedQuery(CBaseConsole::OutputFailedAt, &console);
  CRunRecorder recorder(&report, platform::PathSeparator(), compare);
  IWalkSink& sink = languages || compare ? static_cast<IWalkSink&>(recorder) : report;
  const HResult status =
      CountSourcePath(console, CountedSink(console, sink, failures), verbose, totals);
  if (Failed(status) && !failures) return 2;
  stopwatch.Stop();

  if (!verbose) WriteLine(console);
  WriteLine(console, u"------------------------------------------------------------------");
  if (totals.files != 0) PrintSummary(console, totals);
  if (languages && totals.files != 0) {
    const CLanguageTotals& perLanguage = recorder.languages();
    WriteLiteral(console, FormatLanguageTable(perLanguage.Rows(), perLanguage.All()));
  }
  if (compare && !Failed(status)) {
    // Row by row: the block of a large tree would otherwise be held whole.
    WriteComparison(CompareWithBaseline(recorder, baseline), console.compareGiven,
                    [&console](WStringView piece) { WriteLiteral(console, piece); });
  }
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
