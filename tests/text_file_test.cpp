// CTextFile on real temporary files: marks, encodings, writing, and the closed-object codes.
#include "input/text_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "testing/temp_dir.h"
#include "testing/wide_path.h"

namespace srctally {
namespace {

using namespace std::string_literals;

using testing::WidePath;

std::string Contents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every line of a file opened for counting; the open result and the last result too.
struct Reading {
  HResult open = hr::kFail;
  std::int64_t size = -1;
  std::vector<WString> lines;
  HResult last = hr::kFail;
};

Reading ReadFile(const std::filesystem::path& path, std::size_t blockSize) {
  Reading reading;
  CTextFile file(blockSize);
  reading.open = file.Open(WidePath(path), textfile::kCountingFlags);
  if (Failed(reading.open)) return reading;
  file.GetSize(&reading.size);
  WString line;
  while ((reading.last = file.ReadLine(line)) == hr::kOk) reading.lines.push_back(line);
  EXPECT_EQ(file.ReadLine(line), hr::kFalse);
  file.Close();
  return reading;
}

TEST(TextFileTest, MarksDecideTheEncoding) {
  testing::TempDir dir;
  const struct {
    std::string bytes;
    std::vector<WString> lines;
  } rows[] = {
      {"", {}},
      {"\xEF\xBB\xBF", {}},
      {"\xFF\xFE", {}},
      {"\xEF\xBB\xBF"
       "caf\xC3\xA9\r\nx",
       {u"caf\u00E9", u"x"}},
      {"\xFF\xFE"
       "a\0\r\0\n\0b\0c"s,
       {u"a", u"b"}},                           // the odd last byte is dropped
      {"caf\xC3\xA9\n", {u"caf\u00C3\u00A9"}},  // no mark: ANSI, byte by byte
      {"\xEF\xBB"
       "a",
       {u"\u00EF\u00BB"
        u"a"}},  // half a mark is text
      {"a\rb\n\n", {u"a\rb", u""}},
      {"\xFF\xFE"
       "a\0\n\0\x1A\0b\0"s,
       {u"a"}},  // the end mark is found in the block the mark was read from
      {"\xFF\xFE\x1A\0"s, {}},
      {"\xFF", {u"\u00FF"}},  // a lone FF is text, not half a UTF-16 mark
      {"\xFF\n\xFE", {u"\u00FF", u"\u00FE"}},
  };
  for (const auto& row : rows) {
    const auto path = dir.Write("f.txt", row.bytes);
    for (const std::size_t block :
         {std::size_t{1}, std::size_t{3}, TextDecoder::kDefaultBlockSize}) {
      const Reading reading = ReadFile(path, block);
      EXPECT_EQ(reading.open, hr::kOk);
      EXPECT_EQ(reading.size, static_cast<std::int64_t>(row.bytes.size()));
      EXPECT_EQ(reading.lines, row.lines) << row.bytes;
      EXPECT_EQ(reading.last, hr::kFalse);
    }
  }
}

TEST(TextFileTest, RefusesWhatItCannotRead) {
  testing::TempDir dir;
  CTextFile file;
  EXPECT_LT(file.Open(WidePath(dir.Write("be.txt", "\xFE\xFF\0a"s)), textfile::kCountingFlags), 0);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Open(WidePath(dir.path() / "missing.c"), textfile::kCountingFlags),
            HResultFromWin32(win32err::kFileNotFound));
  EXPECT_LT(file.Open(WidePath(dir.MakeDir("folder.c")), textfile::kCountingFlags), 0);
  EXPECT_LT(file.Open(u"", textfile::kCountingFlags), 0);
  EXPECT_FALSE(file.IsOpen());
  // The mark is not looked for in ANSI: FE FF is then just text.
  EXPECT_EQ(file.Open(WidePath(dir.path() / "be.txt"), 0x200), hr::kOk);
  WString line;
  EXPECT_EQ(file.ReadLine(line), hr::kOk);
  EXPECT_EQ(line, WString(u"\u00FE\u00FF\0a", 4));
}

TEST(TextFileTest, InvalidFlagsWordsFail) {
  testing::TempDir dir;
  const WString path = WidePath(dir.Write("a.txt", "a"));
  CTextFile file;
  for (const std::uint32_t flags :
       {0x203u, 0x205u, 0x206u, 0x207u, 0x208u, 0x000u, 0x600u, 0x700u, 0x240u, 0x4200u}) {
    EXPECT_EQ(file.Open(path, flags), hr::kInvalidArg) << std::hex << flags;
    EXPECT_FALSE(file.IsOpen());
  }
  for (const std::uint32_t flags : {0x100u, 0x230u, 0x2B0u, 0x300u, 0x400u, 0x500u, 0x3230u}) {
    EXPECT_EQ(file.Open(path, flags), hr::kOk) << std::hex << flags;
    file.Close();
  }
}

TEST(TextFileTest, ClosedObjectCodes) {
  CTextFile file;
  std::int64_t value = 0;
  WString line;
  char16_t buffer[4];
  EXPECT_EQ(file.Flush(), hr::kHandle);
  EXPECT_EQ(file.Seek(&value, 0), hr::kHandle);
  EXPECT_EQ(file.Truncate(), hr::kHandle);
  EXPECT_EQ(file.GetSize(&value), hr::kHandle);
  EXPECT_EQ(file.WriteString(u"x"), hr::kPointer);
  EXPECT_EQ(file.ReadLine(line), hr::kPointer);
  EXPECT_EQ(file.ReadString(buffer, 4), hr::kPointer);
  file.Close();  // harmless on a closed object

  testing::TempDir dir;
  ASSERT_EQ(file.Open(WidePath(dir.Write("a.txt", "a")), 0x402), hr::kOk);
  EXPECT_EQ(file.GetSize(nullptr), hr::kInvalidArg);
  EXPECT_EQ(file.WriteString(nullptr), hr::kInvalidArg);
  EXPECT_EQ(file.ReadString(nullptr, 4), hr::kInvalidArg);
  EXPECT_EQ(file.Seek(&value, 3), hr::kInvalidArg);
}

TEST(TextFileTest, WritesEncodedTextWithCrLf) {
  testing::TempDir dir;
  const struct {
    std::uint32_t encoding;
    std::string bytes;
  } rows[] = {
      {textfile::kEncodingAnsi, "a\r\n\xE9?\r\n"},
      {textfile::kEncodingUtf8,
       "\xEF\xBB\xBF"
       "a\r\n\xC3\xA9\xC4\x80\r\n"},
      {textfile::kEncodingUtf16,
       "\xFF\xFE"
       "a\0\r\0\n\0\xE9\0\x00\x01\r\0\n\0"s},
      {textfile::kEncodingDetect, "a\r\n\xE9?\r\n"},  // a new file has no mark: ANSI
  };
  for (const auto& row : rows) {
    const auto path = dir.path() / "out.txt";
    CTextFile file;
    ASSERT_EQ(file.Open(WidePath(path), textfile::kAccessCreate | row.encoding | 0x100), hr::kOk);
    EXPECT_EQ(file.WriteString(u"a\n"), hr::kOk);
    EXPECT_EQ(file.WriteString(u"\u00E9\u0100\n"), hr::kOk);
    EXPECT_EQ(file.Flush(), hr::kOk);
    file.Close();
    EXPECT_EQ(Contents(path), row.bytes) << row.encoding;
  }
  // A supplementary character and a lone surrogate in UTF-8.
  const auto path = dir.path() / "u8.txt";
  CTextFile file;
  ASSERT_EQ(file.Open(WidePath(path), 0x414), hr::kOk);
  const char16_t text[] = {0xD83D, 0xDE00, 0xD800, u'x', 0};
  EXPECT_EQ(file.WriteString(text), hr::kOk);
  file.Close();
  EXPECT_EQ(Contents(path), "\xEF\xBB\xBF\xF0\x9F\x98\x80\xEF\xBF\xBDx");
}

TEST(TextFileTest, AppendKeepsTheFilesEncoding) {
  testing::TempDir dir;
  const auto path = dir.Write("log.txt",
                              "\xFF\xFE"
                              "a\0"s);
  CTextFile file;
  ASSERT_EQ(file.Open(WidePath(path), textfile::kAccessAppend | textfile::kEncodingDetect | 0x400),
            hr::kOk);
  EXPECT_EQ(file.encoding(), TextEncoding::kUtf16Le);
  EXPECT_EQ(file.WriteString(u"b"), hr::kOk);
  WString line;
  EXPECT_LT(file.ReadLine(line), 0) << "a write-only file cannot be read";
  file.Close();
  EXPECT_EQ(Contents(path),
            "\xFF\xFE"
            "a\0b\0"s);

  // Read and append: reading starts after the mark, writes go to the end.
  ASSERT_EQ(file.Open(WidePath(path), textfile::kAccessCreate | textfile::kAppendToCreated |
                                          textfile::kEncodingUtf8 | 0x400),
            hr::kOk);
  EXPECT_EQ(file.encoding(), TextEncoding::kUtf16Le);
  EXPECT_EQ(file.ReadLine(line), hr::kOk);
  EXPECT_EQ(line, u"ab");
  EXPECT_EQ(file.WriteString(u"c"), hr::kOk);
  file.Close();
  EXPECT_EQ(Contents(path),
            "\xFF\xFE"
            "a\0b\0c\0"s);
}

TEST(TextFileTest, PositionSizeAndTruncate) {
  testing::TempDir dir;
  const auto path = dir.Write("rw.txt", "one\ntwo\nthree\n");
  CTextFile file(4);
  ASSERT_EQ(file.Open(WidePath(path), textfile::kAccessReadWrite | 0x400), hr::kOk);
  WString line;
  EXPECT_EQ(file.ReadLine(line), hr::kOk);
  std::int64_t position = -1;
  EXPECT_EQ(file.Seek(&position, 1), hr::kOk);
  EXPECT_EQ(position, 4) << "the position follows what was read, not the read-ahead";
  EXPECT_EQ(file.WriteString(u"T"), hr::kOk);
  EXPECT_EQ(file.ReadLine(line), hr::kOk);
  EXPECT_EQ(line, u"wo");
  EXPECT_EQ(file.Seek(&position, 2), hr::kOk);
  EXPECT_EQ(position, 14);
  EXPECT_EQ(file.Seek(nullptr, 0), hr::kOk);
  EXPECT_EQ(file.ReadLine(line), hr::kOk);
  EXPECT_EQ(line, u"one");
  EXPECT_EQ(file.Truncate(), hr::kOk);
  EXPECT_EQ(file.GetSize(&position), hr::kOk);
  EXPECT_EQ(position, 0);
  EXPECT_EQ(file.ReadLine(line), hr::kFalse);
  file.Close();
  EXPECT_EQ(Contents(path), "");
}

TEST(TextFileTest, ReadOnlyPositionFollowsTheLinesRead) {
  testing::TempDir dir;
  const auto path = dir.Write("ro.txt", "\xEF\xBB\xBFone\ntwo\n");
  CTextFile file(4);
  ASSERT_EQ(file.Open(WidePath(path), textfile::kCountingFlags), hr::kOk);
  EXPECT_EQ(file.encoding(), TextEncoding::kUtf8);
  WString line;
  EXPECT_EQ(file.ReadLine(line), hr::kOk);
  std::int64_t position = -1;
  EXPECT_EQ(file.Seek(&position, 1), hr::kOk);
  EXPECT_EQ(position, 3 + 4);
  EXPECT_EQ(file.ReadLine(line), hr::kOk);
  EXPECT_EQ(line, u"two");
}

TEST(TextFileTest, SeekToStartSkipsTheMark) {
  testing::TempDir dir;
  const auto path = dir.path() / "new.txt";
  CTextFile file;
  ASSERT_EQ(file.Open(WidePath(path), textfile::kAccessCreate | textfile::kEncodingUtf8 | 0x100),
            hr::kOk);
  EXPECT_EQ(file.WriteString(u"\u00E9\n"), hr::kOk);
  std::int64_t position = -1;
  EXPECT_EQ(file.Seek(&position, 0), hr::kOk);
  EXPECT_EQ(position, 3);
  WString line;
  EXPECT_EQ(file.ReadLine(line), hr::kOk);
  EXPECT_EQ(line, u"\u00E9");
}

TEST(TextFileTest, ReadStringKeepsTheLineFeed) {
  testing::TempDir dir;
  const auto path = dir.Write("s.txt", "abcdef\r\nxy\nlast");
  CTextFile file(2);
  ASSERT_EQ(file.Open(WidePath(path), textfile::kCountingFlags), hr::kOk);
  char16_t buffer[4];
  // Room for the terminator only: refused, so a reading loop cannot spin without progress.
  buffer[0] = u'x';
  EXPECT_EQ(file.ReadString(buffer, 1), hr::kInvalidArg);
  EXPECT_EQ(buffer[0], u'\0');
  std::vector<WString> pieces;
  HResult status;
  while ((status = file.ReadString(buffer, 4)) == hr::kOk) pieces.emplace_back(buffer);
  EXPECT_EQ(status, hr::kFalse);
  EXPECT_EQ(buffer[0], u'\0');
  EXPECT_EQ(pieces, (std::vector<WString>{u"abc", u"def", u"\n", u"xy\n", u"las", u"t"}));

  // ReadLine after a partial ReadString finishes that line.
  ASSERT_EQ(file.Open(WidePath(path), textfile::kCountingFlags), hr::kOk);
  EXPECT_EQ(file.ReadString(buffer, 3), hr::kOk);
  WString line;
  EXPECT_EQ(file.ReadLine(line), hr::kOk);
  EXPECT_EQ(line, u"cdef");
  EXPECT_EQ(file.ReadLine(line), hr::kOk);
  EXPECT_EQ(line, u"xy");
}

}  // namespace
}  // namespace srctally
