// Elapsed time as English text, driven by a small pattern language.
#pragma once

#include <cstdint>

#include "base/text.h"

namespace srctally {

/// The run's elapsed time as text, e.g. "1 minute(s) 1.250 second(s)": days, hours and
/// minutes appear from the first non-zero one on, the seconds always, the milliseconds
/// (three digits after a point) only when not zero.
WString FormatDuration(std::int64_t nanoseconds);

/// Formats nanoseconds with a pattern:
/// - field letters d, h (or H), m, s take whole days, hours, minutes, seconds from the
///   remaining value; f prints a fraction (w letters: the remaining value / 10^(9-w), from
///   nine letters on the nanoseconds themselves). A run of w equal letters pads to w digits.
/// - 'text' is literal; '' outside literal text is one quote.
/// - [ ] enclose optional sections: leading sections whose fields print only zeros vanish;
///   from the first non-zero section on, every section at that depth or deeper is kept.
/// A ] without its [ ends the text there.
WString FormatDurationPattern(WStringView pattern, std::int64_t nanoseconds);

}  // namespace srctally
