// Classifying stored bytes run by run must count every line exactly as decoding it, trimming
// it and classifying the UTF-16 line does: random texts, every encoding, block sizes that cut
// lines, marks, UTF-8 sequences and CR LF at every place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "counting/line_classifier.h"
#include "input/text_decoder.h"
#include "platform/wide_space.h"

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
                std::size_t chunk, ScanPath path) {
  TextDecoder decoder(blockSize);
  decoder.Reset(encoding);
  MemorySource source(bytes, chunk);
  CTextClassifier classifier(encoding, path);
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
void ExpectSameCounts(const std::string& bytes, TextEncoding encoding, ScanPath path) {
  const std::vector<Snapshot> expected = ByLines(bytes, encoding);
  const Snapshot none = Take(LineStats{});
  ASSERT_EQ(ByRuns(bytes, encoding, 1 << 16, 1 << 16, path),
            expected.empty() ? none : expected.back());
  const std::size_t unit = encoding == TextEncoding::kUtf16Le ? 2 : 1;
  std::size_t line = 0;
  for (std::size_t end = 0; end + unit <= bytes.size() && line < expected.size(); end += unit) {
    if (bytes[end] != '\n' || (unit == 2 && bytes[end + 1] != 0)) continue;
    if (std::string_view(bytes).substr(0, end).find('\x1A') != std::string_view::npos) break;
    const std::string prefix = bytes.substr(0, end + unit);
    for (const std::size_t block : {1, 2, 3, 4, 5, 7, 16, 61, 1 << 16}) {
      for (const std::size_t chunk : {std::size_t{3}, std::size_t{1} << 16}) {
        ASSERT_EQ(ByRuns(prefix, encoding, block, chunk, path), expected[line])
            << "encoding " << static_cast<int>(encoding) << ", block " << block << ", reads of "
            << chunk << ", line " << line;
      }
    }
    ++line;
  }
  for (const std::size_t block : {1, 2, 3, 5, 16}) {
    ASSERT_EQ(ByRuns(bytes, encoding, block, 3, path), expected.empty() ? none : expected.back())
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
    // White space beyond ASCII (trimmed at a line's ends, content inside) and look-alikes
    // that are not white space: U+00A0, U+3000, U+200A, U+1680, U+2028, U+202F in UTF-8; a
    // lone A0 (no-break space in ANSI, malformed in UTF-8); U+0085, U+200B, U+FEFF; a U+3000
    // cut short.
    "\xC2\xA0",
    "\xC2\xA0",
    "\xE3\x80\x80",
    "\xE2\x80\x8A",
    "\xE1\x9A\x80",
    "\xE2\x80\xA8",
    "\xE2\x80\xAF",
    "\xA0",
    "\xC2\x85",
    "\xE2\x80\x8B",
    "\xEF\xBB\xBF",
    "\xE3\x80",
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
                                   0x1A00, 0x2028, 0xD83D, 0xDE00, 0xFFFD, 0x0D0A, 0x3000,
                                   0x00A0, 0x1680, 0x2000, 0x200A, 0x202F, 0x205F, 0x0085,
                                   0x200B, 0xFEFF, 0x2020, 0x0920};
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

// The totals of bytes come out the same both ways, at block sizes that make runs of one
// slice, of more than one, and of a slice and a bit.
void ExpectSameTotals(const std::string& bytes, TextEncoding encoding, ScanPath path) {
  const std::vector<Snapshot> lines = ByLines(bytes, encoding);
  const Snapshot expected = lines.empty() ? Take(LineStats{}) : lines.back();
  for (const std::size_t block : {std::size_t{1} << 16, std::size_t{4099}, std::size_t{9001}}) {
    ASSERT_EQ(ByRuns(bytes, encoding, block, 4097, path), expected)
        << "encoding " << static_cast<int>(encoding) << ", block " << block;
  }
}

// Every scan path the build has is held to the same comparisons; a path this processor
// cannot run is skipped.
class TextClassifierPathTest : public testing::TestWithParam<ScanPath> {
 protected:
  void SetUp() override {
    if (GetScanFunction(GetParam(), ScanUnit::kByte) == nullptr) {
      GTEST_SKIP() << "this build or processor has no such path";
    }
  }
};

std::string PathName(const testing::TestParamInfo<ScanPath>& path) {
  switch (path.param) {
    case ScanPath::kPlain:
      return "Plain";
    case ScanPath::kSse2:
      return "Sse2";
    case ScanPath::kAvx2:
      return "Avx2";
  }
  return "Unknown";
}

INSTANTIATE_TEST_SUITE_P(Paths, TextClassifierPathTest,
                         testing::Values(ScanPath::kPlain, ScanPath::kSse2, ScanPath::kAvx2),
                         PathName);

TEST_P(TextClassifierPathTest, RandomTextsCountAsDecodedLines) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 300; ++round) {
    const std::string text = RandomText(random);
    ExpectSameCounts(text, TextEncoding::kAnsi, GetParam());
    ExpectSameCounts(text, TextEncoding::kUtf8, GetParam());
    ExpectSameCounts(RandomUtf16(random, text), TextEncoding::kUtf16Le, GetParam());
    if (HasFatalFailure()) {
      ADD_FAILURE() << "round " << round;
      return;
    }
  }
}

// Texts long enough to be classified in many slices, so that lines, marks, blanks and UTF-8
// sequences fall on the slice boundaries as well as on run boundaries.
TEST_P(TextClassifierPathTest, LongTextsCountAsDecodedLines) {
  std::mt19937 random(7);
  for (int round = 0; round < 12; ++round) {
    std::string text;
    while (text.size() < 30000) text += RandomText(random);
    std::erase(text, '\x1A');
    const std::string utf16 = RandomUtf16(random, text);
    const std::pair<const std::string*, TextEncoding> samples[] = {
        {&text, TextEncoding::kAnsi},
        {&text, TextEncoding::kUtf8},
        {&utf16, TextEncoding::kUtf16Le}};
    for (const auto& [bytes, encoding] : samples) {
      ExpectSameTotals(*bytes, encoding, GetParam());
      ASSERT_FALSE(HasFatalFailure()) << "round " << round;
    }
  }
}

TEST_P(TextClassifierPathTest, SpacesOnSliceBoundaries) {
  // Multi-byte spaces and marks placed on every byte around the first slice boundary.
  for (std::size_t lead = 4085; lead < 4100; ++lead) {
    for (const char* tail : {" \xE3\x80\x80 \xC2\xA0\n\xE3\x80\x80 /", "/ x\n",
                             "\xC2\xA0\xC2\xA0\n", "\xE2\x80\x8A*/ a\n", "\xC2\xA7\xC2\xB0\n"}) {
      std::string text = std::string(lead, 'a') + "\n" + std::string(lead, ' ') + tail;
      ExpectSameTotals(text, TextEncoding::kUtf8, GetParam());
      ExpectSameTotals(text, TextEncoding::kAnsi, GetParam());
      ASSERT_FALSE(HasFatalFailure()) << "lead " << lead << ", tail " << tail;
    }
  }
}

TEST_P(TextClassifierPathTest, MarksAndBlanksAcrossRunBoundaries) {
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
      "\xC2\xA0\xE3\x80\x80#x\xE2\x80\x8A\n",  // spaces beyond ASCII before a directive
      "/*\xC2\xA0*/\n// \xC2\xA0\n",           // a no-break space inside is content
  };
  for (const char* row : rows) {
    ExpectSameCounts(row, TextEncoding::kAnsi, GetParam());
    ExpectSameCounts(row, TextEncoding::kUtf8, GetParam());
  }
}

TEST_P(TextClassifierPathTest, LongLinesTakeNoMemoryOfTheirOwn) {
  // A line many blocks long arrives in block-sized runs and counts once.
  std::string text = "/* " + std::string(100000, 'x') + " */ " + std::string(100000, '\t') + "y" +
                     std::string(50000, ' ') + "\n";
  const Snapshot counted = ByRuns(text, TextEncoding::kAnsi, 4096, text.size(), GetParam());
  EXPECT_EQ(counted.lines, 1);
  EXPECT_EQ(counted.code, 1);
  EXPECT_EQ(counted.actual, 3 + 100000 + 4 + 100000 + 1);
}

// Short lines are taken whole from the masks: lines of every length around a mask word
// (64 characters), starting at every place in a word, made of the characters that matter
// (every ASCII blank, the specials, '#', decoration and content), count as decoded lines.
TEST_P(TextClassifierPathTest, ShortLinesAtEveryPlaceInAWord) {
  static const char kAlphabet[] = " \t\v\f\r\r ab#/*\"\\-.=";
  std::mt19937 random(4242);
  for (int round = 0; round < 40; ++round) {
    std::string text(static_cast<std::size_t>(round), 'x');  // moves every line along
    text += '\n';
    while (text.size() < 9000) {
      const std::size_t length = random() % 4 == 0 ? 60 + random() % 8 : random() % 70;
      for (std::size_t i = 0; i < length; ++i) {
        text += kAlphabet[random() % (std::size(kAlphabet) - 1)];
      }
      text += '\n';
    }
    ExpectSameTotals(text, TextEncoding::kAnsi, GetParam());
    ExpectSameTotals(text, TextEncoding::kUtf8, GetParam());
    ASSERT_FALSE(HasFatalFailure()) << "round " << round;
  }
  std::string text;
  for (int line = 0; line < 30; ++line) {
    for (std::size_t i = random() % 66; i > 0; --i) {
      text += kAlphabet[random() % (std::size(kAlphabet) - 1)];
    }
    text += '\n';
  }
  ExpectSameCounts(text, TextEncoding::kAnsi, GetParam());
}

// A scan writes only the words of its own characters; what an earlier slice left in the
// words after them must not end a line. Here the first slice has a line feed at 128 and the
// second slice is 128 characters long, ending inside a line that the next run goes on with.
TEST_P(TextClassifierPathTest, MaskWordsPastASliceMeanNothing) {
  std::string text = std::string(128, 'a') + "\n" + std::string(4096 - 130, 'b') + "\n";
  text += std::string(99, 'c') + "\n" + std::string(28, 'd');  // second slice: 128 characters
  text += "d /* e */\n";                                       // the next run
  ASSERT_EQ(ByRuns(text, TextEncoding::kAnsi, 4096 + 128, text.size(), GetParam()),
            ByLines(text, TextEncoding::kAnsi).back());
}

// The scans mark as blank exactly the characters below 0x80 that the white-space table
// holds, in bytes and in 16-bit units, wherever they stand in a word.
TEST_P(TextClassifierPathTest, BlanksAreTheWhiteSpaceBelow0x80) {
  ASSERT_TRUE(ScanBlanksExact());
  const std::uint64_t* const spaces = platform::WideSpaceBits();
  const auto isSpace = [&](unsigned ch) { return ((spaces[ch / 64] >> (ch % 64)) & 1) != 0; };
  for (const ScanUnit unit : {ScanUnit::kByte, ScanUnit::kUtf16}) {
    const ScanFunction scan = GetScanFunction(GetParam(), unit);
    ASSERT_NE(scan, nullptr);
    for (const unsigned shift : {0u, 37u}) {
      std::vector<unsigned> chars;
      std::string bytes;
      for (unsigned i = 0; i < 300; ++i) {
        const unsigned ch =
            unit == ScanUnit::kByte ? (i + shift) % 256 : (i * 0x1F + shift) % 0x4000;
        chars.push_back(ch);
        bytes += static_cast<char>(ch & 0xFF);
        if (unit == ScanUnit::kUtf16) bytes += static_cast<char>(ch >> 8);
      }
      ScanMasks masks{};
      scan(reinterpret_cast<const unsigned char*>(bytes.data()), chars.size(), masks);
      for (std::size_t i = 0; i < chars.size(); ++i) {
        const bool blank = ((masks.blanks[i / 64] >> (i % 64)) & 1) != 0;
        EXPECT_EQ(blank, chars[i] < 0x80 && isSpace(chars[i]))
            << "unit " << static_cast<int>(unit) << ", character " << chars[i];
      }
    }
  }
}

// White space is what the C runtime calls space, beyond ASCII too, in every encoding: a
// line of only such spaces is empty, and the spaces at a line's ends are not counted.
TEST(TextClassifierTest, SpacesBeyondAsciiAreTrimmed) {
  struct Case {
    const char* name;
    std::string bytes;
    TextEncoding encoding;
    Snapshot counts;  // lines, code, comment, emptyComment, empty, directive, actual
  };
  const auto utf16 = [](std::u16string_view units) {
    std::string bytes;
    for (const char16_t unit : units) {
      bytes += static_cast<char>(unit & 0xFF);
      bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
  };
  const Case cases[] = {
      {"no-break space alone, UTF-8", "\xC2\xA0\n", TextEncoding::kUtf8, {1, 0, 0, 0, 1, 0, 0}},
      {"no-break space alone, ANSI", "\xA0\n", TextEncoding::kAnsi, {1, 0, 0, 0, 1, 0, 0}},
      {"no-break space alone, UTF-16",
       utf16(u"\u00A0\n"),
       TextEncoding::kUtf16Le,
       {1, 0, 0, 0, 1, 0, 0}},
      {"ideographic spaces around code",
       "\xE3\x80\x80x;\xE3\x80\x80\xE2\x80\xAF\n",
       TextEncoding::kUtf8,
       {1, 1, 0, 0, 0, 0, 2}},
      {"directive after spaces",
       utf16(u"\u2000\u3000#if X\u205F\u1680"),
       TextEncoding::kUtf16Le,
       {1, 1, 0, 0, 0, 1, 5}},
      {"no-break space inside a comment",
       "/*\xC2\xA0*/\n",
       TextEncoding::kUtf8,
       {1, 0, 1, 0, 0, 0, 5}},
      {"next line is no space", "\xC2\x85x\xC2\x85\n", TextEncoding::kUtf8, {1, 1, 0, 0, 0, 0, 3}},
      {"A0 is no space in UTF-8", "\xA0\n", TextEncoding::kUtf8, {1, 1, 0, 0, 0, 0, 1}},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(ByRuns(test.bytes, test.encoding, 1 << 16, 1 << 16, FastestScanPath()), test.counts)
        << test.name;
    const std::vector<Snapshot> lines = ByLines(test.bytes, test.encoding);
    ASSERT_FALSE(lines.empty()) << test.name;
    EXPECT_EQ(lines.back(), test.counts) << test.name;
  }
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
