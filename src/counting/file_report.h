// PLACEHOLDER until the counting branch lands: only the declaration the tree walk needs.
#pragma once

#include "base/text.h"
#include "console/message_writer.h"
#include "counting/line_stats.h"

namespace srctally {

/// Prints a counted file (its name and report block when verbose, else a dot) and adds its
/// record into the totals.
void ReportCountedFile(CMessageWriter& writer, bool verbose, WStringView displayName,
                       LineStats& record, LineStats& totals);

}  // namespace srctally
