// The text decoder and the fast classifier on arbitrary file contents. The first input byte
// picks the encoding, the block size and how the text is started; the second the size of
// the source's reads; the rest is the file. Checks:
// - the decoder delivers the same lines at a small block size as at the default one;
// - CTextClassifier over ReadRun counts exactly what decoding, TrimWideSpace and
//   ClassifyLine count, at both block sizes;
// - runs are never empty and never larger than a block plus a held-back sequence.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "counting/line_classifier.h"
#include "input/text_decoder.h"
#include "platform/wide_space.h"

namespace srctally {
namespace {

class MemorySource final : public ByteSource {
 public:
  MemorySource(const unsigned char* data, std::size_t size, std::size_t chunk)
      : data_(data), size_(size), chunk_(chunk) {}
  HResult Read(unsigned char* buffer, std::size_t capacity, std::size_t& bytesRead) override {
    bytesRead = std::min({capacity, chunk_, size_ - offset_});
    if (bytesRead != 0) std::memcpy(buffer, data_ + offset_, bytesRead);
    offset_ += bytesRead;
    return hr::kOk;
  }

 private:
  const unsigned char* data_;
  std::size_t size_;
  std::size_t chunk_;
  std::size_t offset_ = 0;
};

struct Setup {
  TextEncoding encoding;
  bool peek;  // start with Peek and Begin instead of Reset
  std::size_t chunk;
};

void Start(TextDecoder& decoder, ByteSource& source, const Setup& setup) {
  if (!setup.peek) {
    decoder.Reset(setup.encoding);
    return;
  }
  const unsigned char* bytes = nullptr;
  std::size_t available = 0;
  if (decoder.Peek(source, 3, bytes, available) != hr::kOk) std::abort();
  (void)DetectByteOrderMark(bytes, available);
  decoder.Begin(setup.encoding, 0);
}

struct Decoded {
  std::vector<WString> lines;
  std::vector<bool> lineFeeds;
};

Decoded ReadLines(const unsigned char* data, std::size_t size, const Setup& setup,
                  std::size_t blockSize) {
  TextDecoder decoder(blockSize);
  MemorySource source(data, size, setup.chunk);
  Start(decoder, source, setup);
  Decoded result;
  WString line;
  bool lineFeed = false;
  HResult status;
  while ((status = decoder.ReadLine(source, line, &lineFeed)) == hr::kOk) {
    result.lines.push_back(line);
    result.lineFeeds.push_back(lineFeed);
  }
  if (status != hr::kFalse || !line.empty()) std::abort();
  return result;
}

LineStats ByLines(const Decoded& decoded) {
  LineStats stats;
  std::int32_t blockState = 0;
  for (const WString& line : decoded.lines) ClassifyLine(TrimWideSpace(line), blockState, stats);
  return stats;
}

LineStats ByRuns(const unsigned char* data, std::size_t size, const Setup& setup,
                 std::size_t blockSize) {
  TextDecoder decoder(blockSize);
  MemorySource source(data, size, setup.chunk);
  Start(decoder, source, setup);
  CTextClassifier classifier(setup.encoding);
  LineStats stats;
  TextRun run;
  HResult status;
  while ((status = decoder.ReadRun(source, run)) == hr::kOk) {
    if (run.size == 0 || run.size > blockSize + 3) std::abort();
    // The padding after the run must be readable.
    volatile unsigned char sink = 0;
    for (std::size_t i = 0; i < run.size + TextRun::kPadding; ++i) sink = sink ^ run.data[i];
    classifier.Add(run, stats);
  }
  if (status != hr::kFalse) std::abort();
  classifier.Finish(stats);
  return stats;
}

void Expect(bool same, const char* what, std::size_t blockSize) {
  if (same) return;
  std::fprintf(stderr, "mismatch: %s at block size %zu\n", what, blockSize);
  std::abort();
}

void Compare(const LineStats& a, const LineStats& b, std::size_t blockSize) {
  Expect(a.lines == b.lines && a.codeLines == b.codeLines && a.commentLines == b.commentLines &&
             a.emptyCommentLines == b.emptyCommentLines && a.emptyLines == b.emptyLines &&
             a.directiveLines == b.directiveLines && a.actual.value == b.actual.value,
         "classifier counts", blockSize);
}

}  // namespace
}  // namespace srctally

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace srctally;
  if (size < 2) return 0;
  static const TextEncoding kEncodings[] = {TextEncoding::kAnsi, TextEncoding::kUtf8,
                                            TextEncoding::kUtf16Le};
  const Setup setup{kEncodings[(data[0] & 3) % 3], (data[0] & 4) != 0,
                    std::size_t{1} + data[1] % 64 + (data[1] >= 192 ? 1 << 20 : 0)};
  const std::size_t smallBlock = std::size_t{1} + (data[0] >> 3);  // 1 .. 32
  const unsigned char* text = data + 2;
  const std::size_t textSize = size - 2;

  const Decoded reference = ReadLines(text, textSize, setup, TextDecoder::kDefaultBlockSize);
  const Decoded small = ReadLines(text, textSize, setup, smallBlock);
  Expect(small.lines == reference.lines, "decoded lines", smallBlock);
  Expect(small.lineFeeds == reference.lineFeeds, "line feed flags", smallBlock);

  const LineStats expected = ByLines(reference);
  Compare(ByRuns(text, textSize, setup, TextDecoder::kDefaultBlockSize), expected,
          TextDecoder::kDefaultBlockSize);
  Compare(ByRuns(text, textSize, setup, smallBlock), expected, smallBlock);
  return 0;
}
