// The fixed-width grid in which the language table and the comparison show counts: two
// lines per row, so that nine numbers up to 10^12 (with a sign) fit 79 columns.
//
//   Language                     Files           Size         Actual          Total
//                  Code      Directive          Empty        Comment  Empty comment
#pragma once

#include <string>

#include "base/text.h"
#include "report/language_totals.h"

namespace srctally {

/// A rule across the grid's 79 columns, with its line end.
inline constexpr WStringView kGridRule =
    u"-------------------------------------------------------------------------------\n";

/// The grid's two header lines, with label over the first column.
WString FormatGridHeader(WStringView label);

/// How the grid writes a number.
enum class NumberSign : std::uint8_t {
  kPlain,   ///< 12
  kSigned,  ///< +12, -3, 0: a difference
};

/// One row of the grid: label (control characters as '?') and files, size, actual, total on
/// the first line, the five line classes on the second. A label too long for its column
/// stands on a line of its own above the two.
WString FormatGridRow(WStringView label, std::int64_t files, const FileCounts& counts,
                      NumberSign sign);

/// value as the grid writes it.
WString FormatGridNumber(std::int64_t value, NumberSign sign);

}  // namespace srctally
