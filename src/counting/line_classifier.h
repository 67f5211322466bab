// Sorts one trimmed source line into code, comment, empty comment or empty, and spots
// preprocessor directive lines.
#pragma once

#include <cstdint>

#include "base/text.h"
#include "counting/line_stats.h"

namespace srctally {

/// Classifies one line (already trimmed of its terminator and surrounding white space) and
/// adds it to stats: lines and actual.value always grow, exactly one of codeLines,
/// commentLines, emptyCommentLines and emptyLines grows, and directiveLines grows for a
/// line that starts with '#' outside a block comment.
///
/// blockState is the caller's per-file flag, 1 while a /* */ comment is open at the end of
/// the previous line: set it to 0 before the first line of every file and pass the same
/// variable for every line of that file. No allocation, one pass over the characters.
void ClassifyLine(WStringView line, std::int32_t& blockState, LineStats& stats);

}  // namespace srctally
