// The text helpers of base/text: the one UTF-8 encoder and decoder, names made safe to
// print.
#include "base/text.h"

#include <gtest/gtest.h>

#include <string>

namespace srctally {
namespace {

TEST(Utf8DecoderTest, AcceptsOnlyShortestWellFormedSequences) {
  const struct {
    std::string bytes;
    std::size_t length;  // 0: no valid sequence starts here
    char32_t cp;
  } rows[] = {
      {"A", 1, U'A'},
      {std::string(1, '\0'), 1, 0},
      {"\xC3\xA9", 2, 0xE9},
      {"\xE2\x82\xAC", 3, 0x20AC},
      {"\xF0\x9F\x98\x80", 4, 0x1F600},
      {"\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
      {"\xEF\xBF\xBF", 3, 0xFFFF},
      // Continuation bytes: alone, or missing, or replaced by another lead or by ASCII.
      {"\x80", 0, 0},
      {"\xBF", 0, 0},
      {"\xC3(", 0, 0},
      {"\xE2\x82(", 0, 0},
      {"\xE2\xC3\xA9", 0, 0},
      {"\xF0\x9F\x98\xC0", 0, 0},
      // Overlong forms of "/", NUL, U+07FF and U+FFFF.
      {"\xC0\xAF", 0, 0},
      {"\xC1\xBF", 0, 0},
      {"\xE0\x80\xAF", 0, 0},
      {"\xE0\x9F\xBF", 0, 0},
      {"\xF0\x8F\xBF\xBF", 0, 0},
      {"\xC0\x80", 0, 0},
      // UTF-16 surrogates are not characters; neither is anything above U+10FFFF.
      {"\xED\xA0\x80", 0, 0},
      {"\xED\xBF\xBF", 0, 0},
      {"\xED\x9F\xBF", 3, 0xD7FF},
      {"\xF4\x90\x80\x80", 0, 0},
      {"\xF5\x80\x80\x80", 0, 0},
      {"\xFF", 0, 0},
      // Truncated at the end of the text.
      {"\xC3", 0, 0},
      {"\xE2\x82", 0, 0},
      {"\xF0\x9F\x98", 0, 0},
  };
  for (const auto& row : rows) {
    char32_t cp = 0xBAD;
    EXPECT_EQ(DecodeUtf8At(row.bytes, 0, cp), row.length) << row.bytes;
    if (row.length != 0) {
      EXPECT_EQ(cp, row.cp) << row.bytes;
    }
    // A sequence cut short by the end of a longer text is no sequence either.
    if (row.length > 1) {
      std::string cut(1, 'x');
      cut.append(row.bytes, 0, row.length - 1);
      EXPECT_EQ(DecodeUtf8At(cut, 1, cp), 0u) << row.bytes;
    }
  }
}

TEST(Utf8DecoderTest, LosslessDecodingKeepsEveryByteAndReportsOverflow) {
  for (const std::string bytes : {"/usr/lib/libc.so.6", "caf\xc3\xa9", "\xf0\x9f\x98\x80",
                                  "bad\xff\xc3", "\xed\xa0\x80", "\xc0\xaf", "\xe2\x82"}) {
    const WString wide = FromUtf8Lossless(bytes);
    EXPECT_EQ(ToUtf8(wide), bytes);
    char16_t out[32];
    EXPECT_EQ(WString(out, DecodeUtf8Lossless(bytes, out, 32)), wide);
  }
  EXPECT_EQ(FromUtf8Lossless("a\xff\xed\xa0\x80"), WString(u"a\xDCFF\xDCED\xDCA0\xDC80"));
  char16_t out[2];
  EXPECT_EQ(DecodeUtf8Lossless("abc", out, 2), 3u);
  EXPECT_EQ(DecodeUtf8Lossless("a\xf0\x9f\x98\x80", out, 2), 3u);  // the pair does not fit
  EXPECT_EQ(DecodeUtf8Lossless("\xf0\x9f\x98\x80", out, 2), 2u);
}

TEST(Utf8EncoderTest, PairsRawBytesAndLoneSurrogates) {
  const WString raw(1, char16_t(0xDC81));
  const struct {
    WString text;
    std::string kept;
    std::string replaced;  // raw bytes as U+FFFD, for a terminal
  } rows[] = {
      {u"a\u00e9\u20ac", "a\xC3\xA9\xE2\x82\xAC", "a\xC3\xA9\xE2\x82\xAC"},
      {u"\U0001F600", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {raw + u"x", "\x81x", "\xEF\xBF\xBDx"},
      // A lone surrogate that stands for no byte is U+FFFD either way.
      {WString(1, char16_t(0xD800)) + u"x", "\xEF\xBF\xBDx", "\xEF\xBF\xBDx"},
      {WString(1, char16_t(0xDC7F)), "\xEF\xBF\xBD", "\xEF\xBF\xBD"},
      {WString(1, char16_t(0xDBFF)), "\xEF\xBF\xBD", "\xEF\xBF\xBD"},
      // Two high surrogates: each is alone.
      {WString{char16_t(0xD83D), char16_t(0xD83D), u'x'}, "\xEF\xBF\xBD\xEF\xBF\xBDx",
       "\xEF\xBF\xBD\xEF\xBF\xBDx"},
  };
  std::string appended = "p/";
  for (const auto& row : rows) {
    EXPECT_EQ(ToUtf8(row.text), row.kept);
    EXPECT_EQ(ToUtf8(row.text, RawBytes::kReplace), row.replaced);
    appended.resize(2);  // appending keeps what is there
    AppendUtf8(appended, row.text);
    EXPECT_EQ(appended, "p/" + row.kept);
  }
  // One character at a time, within the promised room.
  const WString pair = u"\U0001F600!";
  std::size_t i = 0;
  char out[kMaxUtf8CharBytes];
  EXPECT_EQ(EncodeUtf8Char(pair, i, out), 4u);
  EXPECT_EQ(i, 2u);
  EXPECT_EQ(EncodeUtf8Char(pair, i, out), 1u);
  EXPECT_EQ(i, 3u);
}

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
