// The CSV document of a run (RFC 4180): a header row, then one row per counted file in
// walk order, written as the files are counted.
#pragma once

#include <string>
#include <string_view>

#include "report/machine_report.h"

namespace srctally {

/// Appends field as a CSV field: quoted, with its quotes doubled, when it holds a comma, a
/// quote, a carriage return or a line feed; else as it is.
void AppendCsvField(std::string& out, std::string_view field);

/// Rows "path,size,actual,code,directive,empty,comment,emptyComment,total", each ended by
/// CR LF as RFC 4180 has it. The document is UTF-8: a name holding bytes that are not UTF-8
/// is written with U+FFFD for them. Warnings and errors are told on their own lines only.
class CCsvReport final : public CMachineReport {
 public:
  /// fileRows: a row per counted file under the header above; without them the document
  /// holds only the rows Finish is given (per language, or the changes of a comparison).
  CCsvReport(platform::IByteOutput& document, IProblemLines& problems, char16_t separator,
             bool fileRows = true);

  /// Writes the header row of the file rows.
  void Begin();
  void FileCounted(WStringView relativeFolder, WStringView name, const LineStats& file) override;
  /// Writes rows (CSV text, header included, when there are no file rows) and flushes the
  /// document; true when all of it was written.
  bool Finish(std::string_view rows = {});

 private:
  std::string out_;   // the row being written, reused
  std::string utf8_;  // the path as UTF-8, reused
  bool fileRows_;
};

}  // namespace srctally
