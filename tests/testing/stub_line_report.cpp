// TEMPORARY: a minimal per-file report and record arithmetic so the walk's tests link before
// the counting code lands. Drop this file when it does.
#include "counting/file_report.h"
#include "counting/line_stats.h"

namespace srctally {

void LineStats::Reset() { *this = LineStats(); }

void LineStats::AddFile(const LineStats& file) {
  lines += file.lines;
  codeLines += file.codeLines;
  size.value += file.size.value;
  ++files;
}

void ReportCountedFile(CMessageWriter& writer, bool verbose, WStringView displayName,
                       LineStats& record, LineStats& totals) {
  if (verbose) {
    WriteLine(writer);
    WriteLiteral(writer, displayName);
    WriteText(writer, u" (%d lines)\n", record.lines);
  } else {
    WriteText(writer, u".");
  }
  totals.AddFile(record);
}

}  // namespace srctally
