// The text helpers of base/text: names made safe to print.
#include "base/text.h"

#include <gtest/gtest.h>

namespace srctally {
namespace {

TEST(PrintableNameTest, ControlCharactersBecomeQuestionMarks) {
  const struct {
    WString name;
    WString shown;
  } rows[] = {
      {u"plain.c", u"plain.c"},
      {u"", u""},
      // A line feed would start a forged report line, ESC a terminal escape sequence.
      {u"a\nb.c", u"a?b.c"},
      {u"\x1b]0;title\x07.c", u"?]0;title?.c"},
      {WString(u"nul\0x", 5), u"nul?x"},
      {u"\r\t\x1f", u"???"},
      // DEL and the C1 range (CSI U+009B among them) are controls too; their neighbours not.
      {u"\x7e\x7f\x80\x9b\x9f\xa0", u"\x7e????\xa0"},
      {u"caf\u00e9 \u20ac", u"caf\u00e9 \u20ac"},
      // A raw byte of a name that is not UTF-8 stays for the console to show or keep.
      {WString(1, char16_t(0xDC9B)), WString(1, char16_t(0xDC9B))},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(PrintableName(row.name), row.shown) << ToUtf8(row.name);
    WString appended = u"x";
    AppendPrintableName(appended, row.name);
    EXPECT_EQ(appended, u"x" + row.shown) << ToUtf8(row.name);
  }
}

}  // namespace
}  // namespace srctally
