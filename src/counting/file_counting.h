// PLACEHOLDER until the counting branch lands: only the declaration the tree walk needs.
#pragma once

#include "base/status.h"
#include "counting/line_stats.h"
#include "platform/file.h"

namespace srctally {

/// Counts the lines of one file into a freshly reset record. Negative on failure.
HResult CountFileLines(const platform::FileLocation& file, LineStats& stats);

}  // namespace srctally
