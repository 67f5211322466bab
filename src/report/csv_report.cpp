// The CSV document writer.
#include "report/csv_report.h"

namespace srctally {
namespace {

void AppendNumberField(std::string& out, std::int64_t value) {
  out += ',';
  AppendDecimal(out, value);
}

}  // namespace

void AppendCsvField(std::string& out, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += field;
    return;
  }
  out += '"';
  for (const char ch : field) {
    if (ch == '"') out += '"';
    out += ch;
  }
  out += '"';
}

CCsvReport::CCsvReport(platform::IByteOutput& document, IProblemLines& problems, char16_t separator,
                       bool fileRows)
    : CMachineReport(document, problems, separator), fileRows_(fileRows) {}

void CCsvReport::Begin() {
  if (fileRows_) Emit("path,size,actual,code,directive,empty,comment,emptyComment,total\r\n");
}

void CCsvReport::FileCounted(WStringView relativeFolder, WStringView name, const LineStats& file) {
  TakeFile(relativeFolder, name, file);
  if (!fileRows_) return;
  PathAsUtf8(utf8_, nullptr);
  out_.clear();
  AppendCsvField(out_, utf8_);
  AppendNumberField(out_, file.size.value);
  AppendNumberField(out_, file.actual.value);
  AppendNumberField(out_, CodeRow(file));
  AppendNumberField(out_, file.directiveLines);
  AppendNumberField(out_, file.emptyLines);
  AppendNumberField(out_, file.commentLines);
  AppendNumberField(out_, file.emptyCommentLines);
  AppendNumberField(out_, file.lines);
  out_ += "\r\n";
  Emit(out_);
}

bool CCsvReport::Finish(std::string_view rows) {
  Emit(rows);
  return document_.Flush();
}

}  // namespace srctally
