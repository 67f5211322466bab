// What the JSON and CSV documents share: the reader side of the walk's event stream for a
// document on raw standard output, with the walk's warnings and errors also told on a line
// of their own as they happen.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/status.h"
#include "base/text.h"
#include "counting/line_stats.h"
#include "platform/byte_output.h"
#include "walk/walk_events.h"

namespace srctally {

/// Where a document writer tells each warning and error at once, one line each (standard
/// error in the program).
class IProblemLines {
 public:
  virtual ~IProblemLines() = default;
  virtual void WriteProblemLine(WStringView line) = 0;
};

/// A warning or an error of the walk, in the words the text report uses.
struct WalkProblem {
  bool isError = false;
  WString path;        ///< below the source path: platform separators, none in front
  HResult code = 0;    ///< the failure's status; 0 for a warning
  WString message;     ///< "cannot process file 'a.c'." and the like
  WString systemText;  ///< the system's text for code with its number; empty when none
};

/// The warning for a folder the walk passed over; nullopt when passing it over is no
/// problem (a folder reached again through a link, an excluded folder).
std::optional<WalkProblem> DescribeSkippedFolder(WStringView relativeFolder, FolderSkip reason,
                                                 char16_t separator);

/// The error for a failed walk step (see IWalkSink::WalkFailed).
WalkProblem DescribeWalkFailure(WalkFailure step, WStringView relativeFolder, WStringView argument,
                                HResult code, char16_t separator);

/// The problem as one line: "WARNING: " or "ERROR: ", the message and, after a blank, the
/// system text. Control characters are shown as '?', so a name cannot break the line.
WString ProblemLine(const WalkProblem& problem);

/// Appends the path of name in relativeFolder below the source path: relativeFolder (as
/// the walk gives it, starting with a separator) without its leading separator, a separator
/// when both parts are non-empty, then name. An empty name gives the folder's own path.
void AppendRelativePath(WString& out, WStringView relativeFolder, WStringView name,
                        char16_t separator);

/// The report's code row: code lines that are not directive lines. With it, code,
/// directive, empty, comment and empty-comment lines add up to the total.
std::int64_t CodeRow(const LineStats& stats);

/// Whether text holds a surrogate without its partner.
bool HasLoneSurrogate(WStringView text);

/// Replaces each surrogate without its partner by U+FFFD; true when there was one. Such
/// surrogates stand for bytes of a name that are not UTF-8 (see FromUtf8Lossless).
bool ReplaceLoneSurrogates(WString& text);

/// Appends value in decimal.
void AppendDecimal(std::string& out, std::int64_t value);

/// The common part of the document writers: the problems of the walk, write failures of
/// the document, and the run's totals of what the document holds.
class CMachineReport : public IWalkSink {
 public:
  /// separator is the platform's path separator, as the walk uses it.
  CMachineReport(platform::IByteOutput& document, IProblemLines& problems, char16_t separator);

  void FolderStarted(WStringView relativeFolder) override;
  void FolderFinished(WStringView relativeFolder, std::int64_t fileCount) override;
  void FolderSkipped(WStringView relativeFolder, FolderSkip reason) override;
  void FileSkipped(WStringView relativeFolder, WStringView name, FileSkip reason) override;
  void WalkFailed(WalkFailure step, WStringView relativeFolder, WStringView argument,
                  HResult code) override;
  /// False once the document could not be written: nobody reads the rest.
  bool WantsMore() const override;

  /// The totals of the files written so far.
  const LineStats& totals() const { return totals_; }

 protected:
  /// Called for each problem after its line was told; documents that list problems keep it.
  virtual void KeepProblem(WalkProblem problem);
  /// Writes bytes to the document (ignored once the document failed).
  void Emit(std::string_view bytes);
  /// Sets path_ to the file's path (see AppendRelativePath) and adds file into the totals.
  void TakeFile(WStringView relativeFolder, WStringView name, const LineStats& file);
  /// path_ as valid UTF-8 (unpaired surrogates as U+FFFD) into out; true when it held
  /// one, and then, when nameBytes is given, the path as the file system stores it
  /// (platform::FileNameBytes) into *nameBytes. path_ becomes the text written.
  bool PathAsUtf8(std::string& out, std::string* nameBytes);

  platform::IByteOutput& document_;
  char16_t separator_;
  WString path_;  // the path of the file being written, reused from file to file

 private:
  void Tell(WalkProblem problem);

  IProblemLines& problems_;
  LineStats totals_;
};

}  // namespace srctally
