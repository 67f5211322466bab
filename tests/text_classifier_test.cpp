// Classifying stored bytes run by run must count every line exactly as decoding it, trimming
// it and classifying the UTF-16 line does: random texts, every encoding, block sizes that cut
// lines, marks, UTF-8 sequences and CR LF at every place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "counting/line_classifier.h"
#include "input/text_decoder.h"

namespace srctally {
namespace {

class MemorySource final : public ByteSource {
 public:
  MemorySource(const std::string& bytes, std::size_t chunk) : bytes_(bytes), chunk_(chunk) {}
  HResult Read(unsigned char* buffer, std::size_t capacity, std::size_t& bytesRead) override {
    bytesRead = std::min({capacity, chunk_, bytes_.size() - offset_});
    std::memcpy(buffer, bytes_.data() + offset_, bytesRead);
    offset_ += bytesRead;
    return hr::kOk;
  }

 private:
  const std::string& bytes_;
  std::size_t chunk_;
  std::size_t offset_ = 0;
};

// The counts after each line, for comparing line by line.
struct Snapshot {
  std::int64_t lines, code, comment, emptyComment, empty, directive;
  std::int64_t actual;
  friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

Snapshot Take(const LineStats& stats) {
  return {stats.lines,      stats.codeLines,      stats.commentLines, stats.emptyCommentLines,
          stats.emptyLines, stats.directiveLines, stats.actual.value};
}

std::ostream& operator<<(std::ostream& out, const Snapshot& s) {
  return out << "{lines " << s.lines << " code " << s.code << " comment " << s.comment
             << " emptyComment " << s.emptyComment << " empty " << s.empty << " directive "
             << s.directive << " actual " << s.actual << "}";
}

// The reference: decoded lines, trimmed, through ClassifyLine.
std::vector<Snapshot> ByLines(const std::string& bytes, TextEncoding encoding) {
  TextDecoder decoder;
  decoder.Reset(encoding);
  MemorySource source(bytes, bytes.size() + 1);
  LineStats stats;
  std::int32_t blockState = 0;
  std::vector<Snapshot> result;
  WString line;
  while (decoder.ReadLine(source, line) == hr::kOk) {
    ClassifyLine(TrimWideSpace(line), blockState, stats);
    result.push_back(Take(stats));
  }
  return result;
}

Snapshot ByRuns(const std::string& bytes, TextEncoding encoding, std::size_t blockSize,
                std::size_t chunk) {
  TextDecoder decoder(blockSize);
  decoder.Reset(encoding);
  MemorySource source(bytes, chunk);
  CTextClassifier classifier(encoding);
  LineStats stats;
  TextRun run;
  HResult status;
  while ((status = decoder.ReadRun(source, run)) == hr::kOk) {
    EXPECT_GT(run.size, 0u);
    EXPECT_LE(run.size, blockSize + 3);
    classifier.Add(run, stats);
  }
  EXPECT_EQ(status, hr::kFalse);
  classifier.Finish(stats);
  return Take(stats);
}

// Every line of bytes counts the same both ways: the totals are compared after each line,
// at block sizes that cut the text everywhere.
void ExpectSameCounts(const std::string& bytes, TextEncoding encoding) {
  const std::vector<Snapshot> expected = ByLines(bytes, encoding);
  const Snapshot none = Take(LineStats{});
  ASSERT_EQ(ByRuns(bytes, encoding, 1 << 16, 1 << 16), expected.empty() ? none : expected.back());
  const std::size_t unit = encoding == TextEncoding::kUtf16Le ? 2 : 1;
  std::size_t line = 0;
  for (std::size_t end = 0; end + unit <= bytes.size() && line < expected.size(); end += unit) {
    if (bytes[end] != '\n' || (unit == 2 && bytes[end + 1] != 0)) continue;
    if (std::string_view(bytes).substr(0, end).find('\x1A') != std::string_view::npos) break;
    const std::string prefix = bytes.substr(0, end + unit);
    for (const std::size_t block : {1, 2, 3, 4, 5, 7, 16, 61, 1 << 16}) {
      for (const std::size_t chunk : {std::size_t{3}, std::size_t{1} << 16}) {
        ASSERT_EQ(ByRuns(prefix, encoding, block, chunk), expected[line])
            << "encoding " << static_cast<int>(encoding) << ", block " << block << ", reads of "
            << chunk << ", line " << line;
      }
    }
    ++line;
  }
  for (const std::size_t block : {1, 2, 3, 5, 16}) {
    ASSERT_EQ(ByRuns(bytes, encoding, block, 3), expected.empty() ? none : expected.back())
        << "encoding " << static_cast<int>(encoding) << ", block " << block;
  }
}

// Pieces of text the rules and the decoders care about, ASCII and not.
const char* const kTokens[] = {
    "/",
    "*",
    "\"",
    "\\",
    "#",
    " ",
    "\t",
    "\r",
    "\n",
    "\n",
    "\n",
    "\r\n",
    "\v",
    "\f",
    "a",
    "x = 1;",
    "//",
    "/*",
    "*/",
    "-",
    "=",
    "\\\"",
    "\xC2\xA7",
    "\xC2\xB0",
    "\xA7",
    "\xB0",
    "\xC2",
    "\xC3\xA9",
    "\xE2\x82\xAC",
    "\xF0\x9F\x98\x80",
    "\xED\xA0\x80",
    "\xE0\x80",
    "\xFF",
    "\x80",
    "\xF0\x9F",
    "\xE2\x82",
    "\xF4\x90\x80\x80",
    "\xC0\xAF",
};

std::string RandomText(std::mt19937& random) {
  std::string text;
  const std::size_t count = random() % 120;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t pick = random() % 1000;
    if (pick < 3) {
      text += '\0';
    } else if (pick < 5) {
      text += std::string(40 + random() % 100, "q -\t"[random() % 4]);  // runs past small blocks
    } else {
      text += kTokens[random() % std::size(kTokens)];
    }
  }
  if (random() % 20 == 0) text += "\x1A after the end mark\n";
  return text;
}

// UTF-16 little-endian with some units whose low byte looks like an ASCII special.
std::string RandomUtf16(std::mt19937& random, const std::string& latin1) {
  static const char16_t kWide[] = {0x00A7, 0x00B0, 0x01A7, 0x012F, 0x0122, 0x015C, 0x0A00,
                                   0x1A00, 0x2028, 0xD83D, 0xDE00, 0xFFFD, 0x0D0A, 0x3000};
  std::string bytes;
  for (const char ch : latin1) {
    char16_t unit = static_cast<unsigned char>(ch);
    if (random() % 8 == 0) unit = kWide[random() % std::size(kWide)];
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  if (random() % 4 == 0) bytes += 'z';  // an unpaired last byte
  return bytes;
}

TEST(TextClassifierTest, RandomTextsCountAsDecodedLines) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 300; ++round) {
    const std::string text = RandomText(random);
    ExpectSameCounts(text, TextEncoding::kAnsi);
    ExpectSameCounts(text, TextEncoding::kUtf8);
    ExpectSameCounts(RandomUtf16(random, text), TextEncoding::kUtf16Le);
    if (HasFatalFailure()) {
      ADD_FAILURE() << "round " << round;
      return;
    }
  }
}

TEST(TextClassifierTest, MarksAndBlanksAcrossRunBoundaries) {
  // Hand-picked lines where a boundary between runs must not change the verdict; every
  // block size cuts them at every place.
  const char* const rows[] = {
      "a /\n/ b\n",           // a slash and a slash with a blank between: no comment
      "x //\t\n",             // trailing tab after a line comment: trimmed, empty comment
      "//\tx\n",              // tab inside the comment counts as content
      "/* a */ b \t \n",      // code after a closed comment, blanks trimmed
      "\t\t#define X\n",      // directive after leading blanks
      "/*\n#x\n*/ #\n",       // no directive inside a block comment
      "\"a\\\"b\" // c\n",    // escaped quote inside a string
      "\"/*\" x\n",           // no comment inside a string
      "/*\"*/ y\n",           // a quote inside a comment does not hide */
      "\xC2\xA7 \xC2\xB0\n",  // decoration in UTF-8
      "\xA7 \xB0\n",          // decoration in ANSI, content in UTF-8
      "\xC2\n\xA7\n",         // the pair cut by a line break is content
      "a\t \t\n \t \n\t",
      "*/*/*/\n/*/*/\n",
  };
  for (const char* row : rows) {
    ExpectSameCounts(row, TextEncoding::kAnsi);
    ExpectSameCounts(row, TextEncoding::kUtf8);
  }
}

TEST(TextClassifierTest, LongLinesTakeNoMemoryOfTheirOwn) {
  // A line many blocks long arrives in block-sized runs and counts once.
  std::string text = "/* " + std::string(100000, 'x') + " */ " + std::string(100000, '\t') + "y" +
                     std::string(50000, ' ') + "\n";
  const Snapshot counted = ByRuns(text, TextEncoding::kAnsi, 4096, text.size());
  EXPECT_EQ(counted.lines, 1);
  EXPECT_EQ(counted.code, 1);
  EXPECT_EQ(counted.actual, 3 + 100000 + 4 + 100000 + 1);
}

TEST(TextClassifierTest, Utf8UnitCountMatchesTheDecoder) {
  std::mt19937 random(99);
  for (int round = 0; round < 500; ++round) {
    std::string bytes;
    const std::size_t count = random() % 40;
    for (std::size_t i = 0; i < count; ++i) {
      bytes += random() % 3 == 0 ? std::string(1, static_cast<char>(random() & 0xFF))
                                 : std::string(kTokens[random() % std::size(kTokens)]);
    }
    std::erase_if(bytes, [](char ch) { return ch == '\n' || ch == '\x1A'; });
    TextDecoder decoder;
    decoder.Reset(TextEncoding::kUtf8);
    MemorySource source(bytes, bytes.size() + 1);
    WString line;
    decoder.ReadLine(source, line);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    EXPECT_EQ(Utf8UnitCount(data, data + bytes.size()), line.size()) << round;
  }
}

}  // namespace
}  // namespace srctally
