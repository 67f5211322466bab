// The counts per language in the three outputs: the text report's table, the JSON
// document's "languages" array and the CSV rows of /languages.
#pragma once

#include <string>
#include <vector>

#include "base/text.h"
#include "report/language_totals.h"

namespace srctally {

/// The table printed after the summary: a blank line, "Languages", the grid's header
/// between rules, one row per language, and a total row (the summary's numbers) between
/// rules.
WString FormatLanguageTable(const std::vector<LanguageRow>& rows, const CountedGroup& total);

/// Appends {"language": name, "files": n, then the fields of FileCounts} (no line end).
void AppendLanguageObject(std::string& out, Language language, const CountedGroup& group);

/// Appends the members of counts as JSON: ", \"size\": 1, ..., \"total\": 9".
void AppendCountMembers(std::string& out, const FileCounts& counts);

/// The header "language,files,size,actual,code,directive,empty,comment,emptyComment,total"
/// and one row per language, each ended by CR LF.
std::string LanguageCsv(const std::vector<LanguageRow>& rows);

/// Appends ",number" for each field of counts.
void AppendCsvCounts(std::string& out, const FileCounts& counts);

}  // namespace srctally
