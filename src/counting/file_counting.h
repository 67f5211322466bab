// Counting the lines of one source file into a LineStats record.
#pragma once

#include "base/status.h"
#include "base/text.h"
#include "counting/line_stats.h"
#include "platform/file.h"

namespace srctally {

/// Opens the file (read, encoding from its byte-order mark, writers denied), stores its
/// size in bytes in stats.size.value, and classifies every line, trimmed of surrounding
/// white space, into stats. stats is expected fresh (Reset); files and the texts are left
/// alone. Returns hr::kFalse when the whole file was read; a negative code when it could not
/// be opened or sized (stats untouched) or a read failed (stats partly filled, to be
/// discarded). Memory use does not grow with the length of the lines. The file is closed on
/// every path; no block comment state survives the call.
HResult CountFileLines(const platform::FileLocation& file, LineStats& stats);

/// CountFileLines for a file named by its full path.
HResult CountFileLines(WStringView path, LineStats& stats);

}  // namespace srctally
