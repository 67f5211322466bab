// Decoding and line splitting over in-memory bytes, at many block and read sizes, so every
// boundary (CR before LF, a cut UTF-8 sequence, an odd UTF-16 byte) falls between blocks.
#include "input/text_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace srctally {
namespace {

using namespace std::string_literals;

// Bytes handed out at most `chunk` at a time; fails with `failure` after `failAfter` bytes.
class MemorySource final : public ByteSource {
 public:
  MemorySource(std::string bytes, std::size_t chunk) : bytes_(std::move(bytes)), chunk_(chunk) {}
  void FailAfter(std::size_t offset) { failAfter_ = offset; }
  HResult Read(unsigned char* buffer, std::size_t capacity, std::size_t& bytesRead) override {
    if (offset_ >= failAfter_) return hr::kFail;
    bytesRead = std::min({capacity, chunk_, bytes_.size() - offset_});
    std::memcpy(buffer, bytes_.data() + offset_, bytesRead);
    offset_ += bytesRead;
    return hr::kOk;
  }

 private:
  std::string bytes_;
  std::size_t chunk_;
  std::size_t offset_ = 0;
  std::size_t failAfter_ = static_cast<std::size_t>(-1);
};

std::vector<WString> ReadAll(const std::string& bytes, TextEncoding encoding, std::size_t blockSize,
                             std::size_t chunk) {
  TextDecoder decoder(blockSize);
  decoder.Reset(encoding);
  MemorySource source(bytes, chunk);
  std::vector<WString> lines;
  WString line;
  HResult status;
  while ((status = decoder.ReadLine(source, line)) == hr::kOk) lines.push_back(line);
  EXPECT_EQ(status, hr::kFalse);
  EXPECT_TRUE(line.empty());
  EXPECT_EQ(decoder.ReadLine(source, line), hr::kFalse) << "the end stays the end";
  return lines;
}

// The lines of bytes, checked to be the same for every block and read size.
std::vector<WString> Lines(const std::string& bytes, TextEncoding encoding) {
  const std::vector<WString> expected = ReadAll(bytes, encoding, 1 << 16, 1 << 16);
  for (const std::size_t block : {1, 2, 3, 4, 5, 7, 128}) {
    for (const std::size_t chunk : {1, 3, 1 << 16}) {
      EXPECT_EQ(ReadAll(bytes, encoding, block, chunk), expected)
          << "block " << block << ", reads of " << chunk;
    }
  }
  return expected;
}

using L = std::vector<WString>;

std::string Utf16(const WString& text) {
  std::string bytes;
  for (const char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

TEST(TextDecoderTest, LineBreaksAndEndMark) {
  const struct {
    std::string bytes;
    L expected;
  } rows[] = {
      {"", L{}},
      {"a", L{u"a"}},
      {"a\n\n", L{u"a", u""}},
      {"\n", L{u""}},
      {"a\r\nb\r\n", L{u"a", u"b"}},
      {"a\rb\n", L{u"a\rb"}},
      {"a\r\r\n", L{u"a\r"}},
      {"a\r", L{u"a\r"}},
      {"\r\n\r\n", L{u"", u""}},
      {"ab\x1A"
       "cd\nef\n",
       L{u"ab"}},
      {"\x1A"
       "abc",
       L{}},
      {"a\n\x1A\nb", L{u"a"}},
      {"a\r\x1A", L{u"a\r"}},
      {"x\0y\n\0"s, L{WString(u"x\0y", 3), WString(1, u'\0')}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Lines(row.bytes, TextEncoding::kAnsi), row.expected) << row.bytes;
    EXPECT_EQ(Lines(row.bytes, TextEncoding::kUtf8), row.expected) << row.bytes;
    EXPECT_EQ(Lines(Utf16(FromLatin1(row.bytes)), TextEncoding::kUtf16Le), row.expected)
        << row.bytes;
  }
}

TEST(TextDecoderTest, LongLinesAreDeliveredWhole) {
  for (const std::size_t length : {127, 128, 129, 256, 300, 70000}) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += static_cast<char>('a' + i % 26);
    const WString wide = FromLatin1(text);
    EXPECT_EQ(Lines(text, TextEncoding::kAnsi), L{wide}) << length;
    EXPECT_EQ(Lines(text + "\n" + text + "\r\n", TextEncoding::kUtf8), (L{wide, wide})) << length;
    EXPECT_EQ(Lines(Utf16(wide + u"\n"), TextEncoding::kUtf16Le), L{wide}) << length;
  }
}

TEST(TextDecoderTest, EncodingsAndMalformedInput) {
  const WString fffd(1, u'\uFFFD');
  const struct {
    std::string bytes;
    TextEncoding encoding;
    WString expected;
  } rows[] = {
      {"\xC3\xA9", TextEncoding::kAnsi, u"\u00C3\u00A9"},  // no mark: one character per byte
      {"\xE9\xFF", TextEncoding::kAnsi, u"\u00E9\u00FF"},
      {"\xC3\xA9", TextEncoding::kUtf8, u"\u00E9"},
      {"\xE2\x82\xAC", TextEncoding::kUtf8, u"\u20AC"},
      {"\xF0\x9F\x98\x80", TextEncoding::kUtf8, u"\U0001F600"},
      {"a\xFF"
       "b",
       TextEncoding::kUtf8,
       u"a\uFFFD"
       u"b"},
      {"\xE2\x82", TextEncoding::kUtf8, fffd},  // cut off by the end
      {"\xF0\x9F\x98", TextEncoding::kUtf8, fffd},
      {"\xE2\x82"
       "a",
       TextEncoding::kUtf8,
       u"\uFFFD"
       u"a"},                                                        // the breaking byte is kept
      {"\xC0\xAF", TextEncoding::kUtf8, u"\uFFFD\uFFFD"},            // overlong
      {"\xED\xA0\x80", TextEncoding::kUtf8, u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"\xF4\x90\x80\x80", TextEncoding::kUtf8, u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // > U+10FFFF
      {"\x80\xBF", TextEncoding::kUtf8, u"\uFFFD\uFFFD"},
      {"a\0b\0\x0A\x01"s, TextEncoding::kUtf16Le, u"ab\u010A"},    // U+010A is no line feed
      {"a\0\x1A\x01"s, TextEncoding::kUtf16Le, u"a\u011A"},        // nor U+011A an end mark
      {"a\0\x0D\x01\x0A\0"s, TextEncoding::kUtf16Le, u"a\u010D"},  // nor U+010D a CR
      {"a\0b"s, TextEncoding::kUtf16Le, u"a"},                     // odd last byte dropped
      {"=\xD8\x00\xDE"s, TextEncoding::kUtf16Le, u"\U0001F600"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Lines(row.bytes, row.encoding), L{row.expected}) << row.bytes;
  }
  // A UTF-8 sequence before a line break is complete or malformed, never carried on.
  EXPECT_EQ(Lines("\xE2\x82\n\xAC", TextEncoding::kUtf8), (L{fffd, fffd}));
}

TEST(TextDecoderTest, ReadFailureDropsThePartialLine) {
  TextDecoder decoder(4);
  decoder.Reset(TextEncoding::kAnsi);
  MemorySource source("one\ntwo three\n", 4);
  source.FailAfter(8);
  WString line;
  EXPECT_EQ(decoder.ReadLine(source, line), hr::kOk);
  EXPECT_EQ(line, u"one");
  EXPECT_EQ(decoder.ReadLine(source, line), hr::kFail);
  EXPECT_TRUE(line.empty());
}

// Peek gathers short reads until it has the bytes asked for, but never past its buffer:
// a count beyond one block and its carry room of 4 bytes shows what that buffer holds.
TEST(TextDecoderTest, PeekStaysInsideItsBuffer) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += static_cast<char>('a' + i % 26);
  for (const std::size_t count :
       {std::size_t{3}, std::size_t{8}, std::size_t{64}, std::size_t{1000}}) {
    TextDecoder decoder(8);
    MemorySource source(text, 1);
    const unsigned char* bytes = nullptr;
    std::size_t available = 0;
    ASSERT_EQ(decoder.Peek(source, count, bytes, available), hr::kOk);
    EXPECT_GE(available, std::min<std::size_t>(count, 12)) << count;
    EXPECT_LE(available, 12u) << count;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), available),
              text.substr(0, available));
    // Reading goes on from the peeked bytes without losing or repeating any.
    decoder.Begin(TextEncoding::kAnsi, 0);
    WString line;
    ASSERT_EQ(decoder.ReadLine(source, line), hr::kOk);
    EXPECT_EQ(ToUtf8(line), text) << count;
  }
}

TEST(TextDecoderTest, ByteOrderMarks) {
  const struct {
    std::string bytes;
    ByteOrderMark expected;
  } rows[] = {
      {"\xEF\xBB\xBF", ByteOrderMark::kUtf8},
      {"\xEF\xBB", ByteOrderMark::kNone},
      {"\xFF\xFE", ByteOrderMark::kUtf16Le},
      {"\xFF\xFE\x41", ByteOrderMark::kUtf16Le},
      {"\xFE\xFF\x00", ByteOrderMark::kUtf16Be},
      {"\xFF", ByteOrderMark::kNone},
      {"", ByteOrderMark::kNone},
      {"abc", ByteOrderMark::kNone},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(DetectByteOrderMark(reinterpret_cast<const unsigned char*>(row.bytes.data()),
                                  row.bytes.size()),
              row.expected)
        << row.bytes;
  }
  // Only the bytes counted are looked at: a lone FF is no UTF-16 mark, whatever follows it
  // in memory.
  const unsigned char marks[] = {0xFF, 0xFE, 0xFE, 0xFF, 0xEF, 0xBB, 0xBF};
  EXPECT_EQ(DetectByteOrderMark(marks, 1), ByteOrderMark::kNone);
  EXPECT_EQ(DetectByteOrderMark(marks + 2, 1), ByteOrderMark::kNone);
  EXPECT_EQ(DetectByteOrderMark(marks + 4, 2), ByteOrderMark::kNone);
}

}  // namespace
}  // namespace srctally
