// The two-line grid of counts.
#include "report/count_grid.h"

#include "base/format.h"

namespace srctally {
namespace {

constexpr std::size_t kLabelWidth = 19;   // the first column of the first line
constexpr std::size_t kIndentWidth = 4;   // the first column of the second line
constexpr std::size_t kNumberWidth = 15;  // every number column: 13 digits, a sign, a blank

void AppendRight(WString& line, WStringView text) {
  if (text.size() < kNumberWidth) line.append(kNumberWidth - text.size(), u' ');
  line += text;
}

void AppendLabel(WString& out, WStringView label) {
  const std::size_t start = out.size();
  AppendPrintableName(out, label);
  const std::size_t width = out.size() - start;
  if (width >= kLabelWidth) {
    out += u'\n';
    out.append(kLabelWidth, u' ');
  } else {
    out.append(kLabelWidth - width, u' ');
  }
}

}  // namespace

WString FormatGridHeader(WStringView label) {
  WString out;
  AppendLabel(out, label);
  for (const WStringView title : {u"Files", u"Size", u"Actual", u"Total"}) AppendRight(out, title);
  out += u'\n';
  out.append(kIndentWidth, u' ');
  for (const WStringView title : {u"Code", u"Directive", u"Empty", u"Comment", u"Empty comment"}) {
    AppendRight(out, title);
  }
  out += u'\n';
  return out;
}

WString FormatGridNumber(std::int64_t value, NumberSign sign) {
  if (sign == NumberSign::kSigned && value > 0) return Format(u"+%lld", value);
  return Format(u"%lld", value);
}

WString FormatGridRow(WStringView label, std::int64_t files, const FileCounts& counts,
                      NumberSign sign) {
  WString out;
  AppendLabel(out, label);
  AppendRight(out, FormatGridNumber(files, sign));
  for (const CountField field : {CountField::kSize, CountField::kActual, CountField::kTotal}) {
    AppendRight(out, FormatGridNumber(counts[field], sign));
  }
  out += u'\n';
  out.append(kIndentWidth, u' ');
  for (const CountField field : {CountField::kCode, CountField::kDirective, CountField::kEmpty,
                                 CountField::kComment, CountField::kEmptyComment}) {
    AppendRight(out, FormatGridNumber(counts[field], sign));
  }
  out += u'\n';
  return out;
}

}  // namespace srctally
