// What the run prints for each counted file, and the summary at its end.
#pragma once

#include "base/text.h"
#include "counting/line_stats.h"

namespace srctally {

class CMessageWriter;

/// The per-file step after a file was counted successfully. verbose: an empty line, then
/// fileName (the file's name without its folder, written literally, control characters as
/// "?") continued by the file's report block; otherwise a single "." with no line end, so
/// the files of a folder make a row of dots. Then adds file into totals.
void ReportCountedFile(CMessageWriter& writer, bool verbose, WStringView fileName, LineStats& file,
                       LineStats& totals);

/// "\nSummary" continued by the report block of the run's totals.
void PrintSummary(CMessageWriter& writer, LineStats& totals);

}  // namespace srctally
