// The language table, array and rows.
#include "report/language_report.h"

#include "report/count_grid.h"
#include "report/machine_report.h"

namespace srctally {

WString FormatLanguageTable(const std::vector<LanguageRow>& rows, const CountedGroup& total) {
  WString out = u"\nLanguages\n";
  out += kGridRule;
  out += FormatGridHeader(u"Language");
  out += kGridRule;
  for (const LanguageRow& row : rows) {
    out += FormatGridRow(FromLatin1(LanguageName(row.language)), row.group.files, row.group.counts,
                         NumberSign::kPlain);
  }
  out += kGridRule;
  out += FormatGridRow(u"Total", total.files, total.counts, NumberSign::kPlain);
  out += kGridRule;
  return out;
}

void AppendCountMembers(std::string& out, const FileCounts& counts) {
  for (std::size_t i = 0; i < kCountFieldCount; ++i) {
    out += ", \"";
    out += kCountFieldNames[i];
    out += "\": ";
    AppendDecimal(out, counts.values[i]);
  }
}

void AppendLanguageObject(std::string& out, Language language, const CountedGroup& group) {
  out += "{\"language\": \"";
  out += LanguageName(language);  // plain ASCII without quotes
  out += "\", \"files\": ";
  AppendDecimal(out, group.files);
  AppendCountMembers(out, group.counts);
  out += '}';
}

void AppendCsvCounts(std::string& out, const FileCounts& counts) {
  for (const std::int64_t value : counts.values) {
    out += ',';
    AppendDecimal(out, value);
  }
}

std::string LanguageCsv(const std::vector<LanguageRow>& rows) {
  std::string out =
      "language,files,size,actual,code,directive,empty,comment,emptyComment,total\r\n";
  for (const LanguageRow& row : rows) {
    out += LanguageName(row.language);  // no comma or quote in any name
    out += ',';
    AppendDecimal(out, row.group.files);
    AppendCsvCounts(out, row.group.counts);
    out += "\r\n";
  }
  return out;
}

}  // namespace srctally
