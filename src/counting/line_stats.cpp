// Resetting, adding and printing LineStats records.
#include "counting/line_stats.h"

#include <iterator>

#include "base/format.h"
#include "console/message_writer.h"
#include "platform/byte_size.h"

namespace srctally {
namespace {

// Counts are 64-bit, so no real tree reaches their limit; should one ever get there, they
// wrap rather than invoke undefined behaviour.
inline void AddCount(std::int64_t& total, std::int64_t amount) {
  total = static_cast<std::int64_t>(static_cast<std::uint64_t>(total) +
                                    static_cast<std::uint64_t>(amount));
}

constexpr WStringView kReportFormat =
    u" (size: %s, actual: %s)\n"
    u"-----------------------------------------------------\n"
    u"  Number of lines of code:       %*lld\n"
    u"  Number of directive lines:     %*lld\n"
    u"  Number of empty lines:         %*lld\n"
    u"  Number of comment lines:       %*lld\n"
    u"  Number of empty comment lines: %*lld\n"
    u"  -------------------------------------------\n"
    u"  Total number of lines:         %*lld\n"
    u"-----------------------------------------------\n";

}  // namespace

const char16_t* ByteSizeText::FormatByteSize() {
  platform::FormatByteSizeText(value, text);
  return text;
}

void LineStats::Reset() { *this = LineStats(); }

void LineStats::AddFile(const LineStats& file) {
  AddCount(lines, file.lines);
  AddCount(codeLines, file.codeLines);
  AddCount(directiveLines, file.directiveLines);
  AddCount(commentLines, file.commentLines);
  AddCount(emptyLines, file.emptyLines);
  AddCount(emptyCommentLines, file.emptyCommentLines);
  AddCount(actual.value, file.actual.value);
  AddCount(size.value, file.size.value);
  AddCount(files, 1);
}

int NumberWidth(std::int64_t value) {
  int digits = value < 0 ? 2 : 1;  // the sign and the last digit
  for (std::int64_t rest = value / 10; rest != 0; rest /= 10) ++digits;
  return digits + 1;
}

WString FormatCount(std::int64_t value, int width) { return Format(u"%*lld", width, value); }

void AppendReport(WString& out, LineStats& stats) {
  const int width = NumberWidth(stats.lines);
  const std::int64_t code =
      static_cast<std::int64_t>(static_cast<std::uint64_t>(stats.codeLines) -
                                static_cast<std::uint64_t>(stats.directiveLines));
  const char16_t* sizeText = stats.size.FormatByteSize();
  const char16_t* actualText = stats.actual.FormatByteSize();
  const FormatArg list[] = {sizeText, actualText,
                            width,    code,
                            width,    stats.directiveLines,
                            width,    stats.emptyLines,
                            width,    stats.commentLines,
                            width,    stats.emptyCommentLines,
                            width,    stats.lines};
  AppendFormatV(out, kReportFormat, FormatArgs(list, std::size(list)));
}

WString FormatReport(LineStats& stats) {
  WString report;
  AppendReport(report, stats);
  return report;
}

void PrintReport(CMessageWriter& writer, LineStats& stats) {
  // The block is already formatted; written literally so a percent sign in it stays as is.
  writer.Write(FormatReport(stats), msg::kKindText | msg::kLiteral, 0, {});
}

}  // namespace srctally
