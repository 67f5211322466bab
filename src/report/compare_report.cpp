// The comparison's block, object and rows.
#include "report/compare_report.h"

#include "base/format.h"
#include "platform/byte_output.h"
#include "report/count_grid.h"
#include "report/csv_report.h"
#include "report/json_report.h"
#include "report/language_report.h"
#include "report/machine_report.h"

namespace srctally {
namespace {

constexpr const char* KindName(ChangeKind kind) {
  switch (kind) {
    case ChangeKind::kAdded:
      return "added";
    case ChangeKind::kRemoved:
      return "removed";
    case ChangeKind::kChanged:
      break;
  }
  return "changed";
}

// The files' column of a file's row: it adds or takes away one file, or none.
std::int64_t FileDifference(ChangeKind kind) {
  return kind == ChangeKind::kAdded ? 1 : kind == ChangeKind::kRemoved ? -1 : 0;
}

void WriteFileRows(const Comparison& comparison, ChangeKind kind, WStringView heading,
                   const std::function<void(WStringView)>& out) {
  bool any = false;
  for (const FileChange& change : comparison.changes) {
    if (change.kind != kind) continue;
    if (!any) out(heading);
    any = true;
    out(FormatGridRow(change.path, FileDifference(kind), change.difference, NumberSign::kSigned));
  }
}

// path as valid UTF-8: each unpaired surrogate (a byte of a name that is not UTF-8) as
// U+FFFD. *exact gets the name as the file system stores it when there was one.
std::string PathText(WStringView path, std::string* exact) {
  WString shown(path);
  if (HasLoneSurrogate(shown)) {
    if (exact != nullptr) *exact = platform::FileNameBytes(path);
    ReplaceLoneSurrogates(shown);
  }
  return ToUtf8(shown);
}

void AppendPathArray(std::string& out, const Comparison& comparison, ChangeKind kind) {
  out += ",\n    \"";
  out += KindName(kind);
  out += "\": [";
  bool first = true;
  for (const FileChange& change : comparison.changes) {
    if (change.kind != kind) continue;
    out += first ? "\n      " : ",\n      ";
    first = false;
    AppendJsonString(out, PathText(change.path, nullptr));
  }
  out += first ? "]" : "\n    ]";
}

}  // namespace

WString FormatComparison(const Comparison& comparison, WStringView against) {
  WString text;
  WriteComparison(comparison, against, [&text](WStringView piece) { text += piece; });
  return text;
}

void WriteComparison(const Comparison& comparison, WStringView against,
                     const std::function<void(WStringView)>& out) {
  WString head = Format(
      u"\nChanges against '%s': %lld added, %lld removed, %lld changed, "
      u"%lld unchanged file(s).\n",
      PrintableName(against), comparison.added, comparison.removed, comparison.changed,
      comparison.unchanged);
  head += kGridRule;
  head += FormatGridHeader(u"");
  head += kGridRule;
  out(head);
  WriteFileRows(comparison, ChangeKind::kAdded, u"Added files:\n", out);
  WriteFileRows(comparison, ChangeKind::kRemoved, u"Removed files:\n", out);
  WriteFileRows(comparison, ChangeKind::kChanged, u"Changed files:\n", out);
  WString tail;
  if (!comparison.changes.empty()) tail += kGridRule;
  if (!comparison.languages.empty()) {
    tail += u"Languages:\n";
    for (const LanguageChange& change : comparison.languages) {
      tail += FormatGridRow(FromLatin1(LanguageName(change.language)), change.difference.files,
                            change.difference.counts, NumberSign::kSigned);
    }
    tail += kGridRule;
  }
  tail +=
      FormatGridRow(u"Total", comparison.total.files, comparison.total.counts, NumberSign::kSigned);
  tail += kGridRule;
  out(tail);
}

void AppendComparisonJson(std::string& out, const Comparison& comparison, WStringView against) {
  out += "\"compare\": {\n    \"against\": ";
  AppendJsonString(out, PathText(against, nullptr));
  out += ",\n    \"summary\": {\"files\": ";
  AppendDecimal(out, comparison.total.files);
  AppendCountMembers(out, comparison.total.counts);
  out += "},\n    \"languages\": [";
  bool first = true;
  for (const LanguageChange& change : comparison.languages) {
    out += first ? "\n      " : ",\n      ";
    first = false;
    AppendLanguageObject(out, change.language, change.difference);
  }
  out += first ? "]" : "\n    ]";
  AppendPathArray(out, comparison, ChangeKind::kAdded);
  AppendPathArray(out, comparison, ChangeKind::kRemoved);
  out += ",\n    \"changed\": [";
  first = true;
  std::string exact;
  for (const FileChange& change : comparison.changes) {
    if (change.kind != ChangeKind::kChanged) continue;
    out += first ? "\n      {\"path\": " : ",\n      {\"path\": ";
    first = false;
    exact.clear();
    AppendJsonString(out, PathText(change.path, &exact));
    if (!exact.empty()) {
      out += ", \"pathBytes\": \"";
      AppendHex(out, exact);
      out += '"';
    }
    AppendCountMembers(out, change.difference);
    out += '}';
  }
  out += first ? "]\n  }" : "\n    ]\n  }";
}

std::string ComparisonCsv(const Comparison& comparison) {
  std::string out = "status,path,size,actual,code,directive,empty,comment,emptyComment,total\r\n";
  for (const FileChange& change : comparison.changes) {
    out += KindName(change.kind);
    out += ',';
    AppendCsvField(out, PathText(change.path, nullptr));
    AppendCsvCounts(out, change.difference);
    out += "\r\n";
  }
  return out;
}

}  // namespace srctally
