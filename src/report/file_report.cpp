// The per-file output (a report block or a dot) and the run's summary block.
#include "report/file_report.h"

#include "console/message_writer.h"

namespace srctally {

void ReportCountedFile(CMessageWriter& writer, bool verbose, WStringView fileName, LineStats& file,
                       LineStats& totals) {
  if (verbose) {
    WriteLine(writer);
    WriteLiteral(writer, PrintableName(fileName));
    PrintReport(writer, file);
  } else {
    WriteLiteral(writer, u".");
  }
  totals.AddFile(file);
}

void PrintSummary(CMessageWriter& writer, LineStats& totals) {
  WriteText(writer, u"\nSummary");
  PrintReport(writer, totals);
}

}  // namespace srctally
