// The shared part of the JSON and CSV documents.
#include "report/machine_report.h"

#include <charconv>

#include "base/format.h"
#include "report/walk_failure_text.h"
#include "runtime/system_text.h"

namespace srctally {
namespace {

constexpr bool IsHighSurrogate(char16_t ch) { return ch >= 0xD800 && ch <= 0xDBFF; }
constexpr bool IsLowSurrogate(char16_t ch) { return ch >= 0xDC00 && ch <= 0xDFFF; }

bool IsSeparator(char16_t ch, char16_t separator) { return ch == separator; }

}  // namespace

std::optional<WalkProblem> DescribeSkippedFolder(WStringView relativeFolder, FolderSkip reason,
                                                 char16_t separator) {
  if (reason != FolderSkip::kLinkToAncestor && reason != FolderSkip::kIgnoreFileLink) {
    return std::nullopt;
  }
  WalkProblem problem;
  AppendRelativePath(problem.path, relativeFolder, WStringView(), separator);
  problem.message =
      reason == FolderSkip::kLinkToAncestor
          ? Format(u"skipping folder link '%s': it leads back to one of its parent folders.",
                   relativeFolder)
          : Format(u"not reading ignore file '%s': it is a symbolic link.", relativeFolder);
  return problem;
}

WalkProblem DescribeWalkFailure(WalkFailure step, WStringView relativeFolder, WStringView argument,
                                HResult code, char16_t separator) {
  WalkProblem problem;
  problem.isError = true;
  problem.code = code;
  // A file's failure names the file; a listing's names its folder.
  const bool file = step == WalkFailure::kProcessFile;
  AppendRelativePath(problem.path, relativeFolder, file ? argument : WStringView(), separator);
  problem.message = Format(WalkFailureFormat(step), argument);
  SystemTextBuffer buffer;
  if (Failed(code) && GetSystemErrorText(static_cast<std::uint32_t>(code), buffer)) {
    problem.systemText = buffer;
  }
  return problem;
}

WString ProblemLine(const WalkProblem& problem) {
  WString line = problem.isError ? u"ERROR: " : u"WARNING: ";
  AppendPrintableName(line, problem.message);
  if (!problem.systemText.empty()) {
    line += u' ';
    AppendPrintableName(line, problem.systemText);
  }
  return line;
}

void AppendRelativePath(WString& out, WStringView relativeFolder, WStringView name,
                        char16_t separator) {
  if (!relativeFolder.empty() && IsSeparator(relativeFolder.front(), separator)) {
    relativeFolder.remove_prefix(1);
  }
  out += relativeFolder;
  if (name.empty()) return;
  if (!relativeFolder.empty() && !IsSeparator(relativeFolder.back(), separator)) out += separator;
  out += name;
}

std::int64_t CodeRow(const LineStats& stats) {
  // Wraps like the report's own subtraction rather than overflowing.
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(stats.codeLines) -
                                   static_cast<std::uint64_t>(stats.directiveLines));
}

namespace {
// The index of the first surrogate without its partner at or after start, or npos.
std::size_t FindLoneSurrogate(WStringView text, std::size_t start) {
  for (std::size_t i = start; i < text.size(); ++i) {
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      ++i;
    } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
      return i;
    }
  }
  return WStringView::npos;
}
}  // namespace

bool HasLoneSurrogate(WStringView text) { return FindLoneSurrogate(text, 0) != WStringView::npos; }

bool ReplaceLoneSurrogates(WString& text) {
  bool replaced = false;
  for (std::size_t i = FindLoneSurrogate(text, 0); i != WStringView::npos;
       i = FindLoneSurrogate(text, i + 1)) {
    text[i] = u'\uFFFD';
    replaced = true;
  }
  return replaced;
}

void AppendDecimal(std::string& out, std::int64_t value) {
  char digits[24];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof(digits), value);
  out.append(digits, end.ptr);
}

CMachineReport::CMachineReport(platform::IByteOutput& document, IProblemLines& problems,
                               char16_t separator)
    : document_(document), separator_(separator), problems_(problems) {
  totals_.Reset();
}

void CMachineReport::FolderStarted(WStringView) {}

void CMachineReport::FolderFinished(WStringView, std::int64_t) {}

void CMachineReport::FolderSkipped(WStringView relativeFolder, FolderSkip reason) {
  std::optional<WalkProblem> problem = DescribeSkippedFolder(relativeFolder, reason, separator_);
  if (problem) Tell(std::move(*problem));
}

// A file counted once already is no problem of the run; the documents list what was counted.
void CMachineReport::FileSkipped(WStringView, WStringView, FileSkip) {}

void CMachineReport::WalkFailed(WalkFailure step, WStringView relativeFolder, WStringView argument,
                                HResult code) {
  Tell(DescribeWalkFailure(step, relativeFolder, argument, code, separator_));
}

bool CMachineReport::WantsMore() const { return !document_.Failed(); }

void CMachineReport::KeepProblem(WalkProblem) {}

void CMachineReport::Emit(std::string_view bytes) { document_.Write(bytes); }

void CMachineReport::TakeFile(WStringView relativeFolder, WStringView name, const LineStats& file) {
  path_.clear();
  AppendRelativePath(path_, relativeFolder, name, separator_);
  totals_.AddFile(file);
}

bool CMachineReport::PathAsUtf8(std::string& out, std::string* nameBytes) {
  if (nameBytes != nullptr && HasLoneSurrogate(path_)) *nameBytes = platform::FileNameBytes(path_);
  const bool replaced = ReplaceLoneSurrogates(path_);
  out.clear();  // keeps its storage: a file's path costs no new string
  AppendUtf8(out, path_);
  return replaced;
}

void CMachineReport::Tell(WalkProblem problem) {
  problems_.WriteProblemLine(ProblemLine(problem));
  KeepProblem(std::move(problem));
}

}  // namespace srctally
