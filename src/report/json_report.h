// The JSON document of a run: written while the walk goes on, so its memory does not grow
// with the number of files. Only the warnings and errors wait for the end, in "errors".
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "report/language_totals.h"
#include "report/machine_report.h"

namespace srctally {

/// Appends utf8 as a JSON string: quotes around it, '"', '\\' and the control characters
/// U+0000..U+001F escaped as RFC 8259 requires. utf8 must be valid UTF-8.
void AppendJsonString(std::string& out, std::string_view utf8);

/// Appends bytes as lower-case hexadecimal digits, two per byte.
void AppendHex(std::string& out, std::string_view bytes);

/// What made a document, written at its top so a reader knows where the numbers came from.
struct DocumentOrigin {
  WStringView version;                 ///< the program's version text, as --version prints it
  std::span<const WString> arguments;  ///< the command line after the program path, as given
  std::string_view started;            ///< UTC time stamp (ISO 8601); empty when unknown
};

/// One JSON document (UTF-8) per run, in this shape:
///
///   {"version": text, "arguments": [text, ...], "started": stamp or null,
///    "source": path, "files": [{"path", "language", "size", "actual", "code", "directive",
///    "empty", "comment", "emptyComment", "total"}, ...], "summary": {"files", the same
///    numbers}, "languages": [{"language", "files", the same numbers}, ...], and a caller's
///    members (the comparison), "errors": [{"kind", "path", "code", "message", "system"},
///    ...], "seconds": elapsed}
///
/// A name holding bytes that are not UTF-8 is written with U+FFFD for them, and the exact
/// name follows in hexadecimal as "sourceBytes" or "pathBytes" (platform::FileNameBytes).
/// Arguments are treated the same way: when any holds such bytes, "argumentsBytes" follows
/// "arguments", an array as long, with the hexadecimal bytes of each such argument and
/// null for the others.
class CJsonReport final : public CMachineReport {
 public:
  CJsonReport(platform::IByteOutput& document, IProblemLines& problems, char16_t separator);

  /// Opens the document with its origin, the source path and the start of the files array.
  void Begin(WStringView sourcePath, const DocumentOrigin& origin);
  void FileCounted(WStringView relativeFolder, WStringView name, const LineStats& file) override;
  /// Closes the files array, writes the summary, the languages, extraMembers (complete
  /// members without the comma before them, such as "\"compare\": {...}"; empty for none),
  /// the problems and the elapsed time, and flushes. True when the whole document was
  /// written.
  bool Finish(std::int64_t elapsedNanoseconds, std::string_view extraMembers = {});

 protected:
  void KeepProblem(WalkProblem problem) override;

 private:
  void AppendPathFields(std::string& out, const char* name, const char* bytesName);
  void AppendOrigin(std::string& out, const DocumentOrigin& origin);
  void AppendCounts(std::string& out, const LineStats& stats);

  std::string out_;   // the piece being written, reused
  std::string utf8_;  // a name as UTF-8, reused
  std::string nameBytes_;
  std::vector<WalkProblem> kept_;
  CLanguageTotals languages_;
  bool anyFile_ = false;
};

}  // namespace srctally
