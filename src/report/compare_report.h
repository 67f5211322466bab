// A comparison in the three outputs: the text report's block, the JSON document's
// "compare" object and the CSV rows of /compare.
#pragma once

#include <functional>
#include <string>

#include "base/text.h"
#include "report/comparison.h"

namespace srctally {

/// The block printed after the summary (and the language table): a blank line, a line
/// naming the baseline (against, as the user gave it) with the number of added, removed,
/// changed and unchanged files, the grid's header between rules, the added, removed and
/// changed files each under a heading, the languages, and the total row between rules.
/// Every number is a difference, new minus old, signed.
WString FormatComparison(const Comparison& comparison, WStringView against);

/// The same block handed to out a few lines at a time, so that a comparison of a large tree
/// needs no memory for its whole text.
void WriteComparison(const Comparison& comparison, WStringView against,
                     const std::function<void(WStringView)>& out);

/// Appends the member "compare": {...} of the JSON document (no comma before it, no line
/// end after it), indented for the document's top level.
void AppendComparisonJson(std::string& out, const Comparison& comparison, WStringView against);

/// The header "status,path,size,actual,code,directive,empty,comment,emptyComment,total"
/// and one row per added, removed or changed file in path order, each ended by CR LF.
std::string ComparisonCsv(const Comparison& comparison);

}  // namespace srctally
