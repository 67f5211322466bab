// The counts of one file or of a whole run, and the report block that prints them.
#pragma once

#include <cstdint>

#include "base/text.h"

namespace srctally {

class CMessageWriter;

/// An amount with its display text (a byte count shown as "12.3 KB" and the like).
struct ByteSizeText {
  char16_t text[20] = {};  ///< at most 19 characters and the terminating NUL
  std::int64_t value = 0;

  /// Formats value into text with the platform's byte-size formatter and returns text.
  const char16_t* FormatByteSize();
};

/// Counts of one file or of a whole run, 64-bit so that a file or tree of more than 2^31
/// lines is still counted exactly. codeLines + commentLines + emptyCommentLines +
/// emptyLines == lines; directiveLines is counted on the side (every directive line is also
/// a code line, see ClassifyLine).
struct LineStats {
  std::int64_t lines = 0;
  std::int64_t commentLines = 0;
  std::int64_t directiveLines = 0;
  std::int64_t emptyCommentLines = 0;
  std::int64_t emptyLines = 0;
  std::int64_t codeLines = 0;
  std::int64_t files = 0;  ///< files added into the record; 0 in a per-file record
  ByteSizeText actual;     ///< characters of the trimmed lines
  ByteSizeText size;       ///< bytes of the files as stored

  /// Sets every count and amount to 0 and both texts to the empty string.
  void Reset();
  /// Adds a counted file's record into these totals and raises files by one.
  void AddFile(const LineStats& file);
};

/// Characters of value printed in decimal (with its sign), plus one.
int NumberWidth(std::int64_t value);

/// value printed in decimal, right-aligned at width (padded with blanks on the left).
WString FormatCount(std::int64_t value, int width);

/// The report block of one record: the size line continuing the current output line, then
/// the rules and the five class rows with the total, every number right-aligned to
/// NumberWidth(stats.lines). Formats both amounts into their text buffers; otherwise pure.
WString FormatReport(LineStats& stats);

/// FormatReport(stats) appended to out, which keeps its storage from one file to the next.
void AppendReport(WString& out, LineStats& stats);

/// Writes FormatReport(stats) through the writer as one literal text (msg::kKindText |
/// msg::kLiteral): it continues the current output line and ends with a line feed.
void PrintReport(CMessageWriter& writer, LineStats& stats);

}  // namespace srctally
