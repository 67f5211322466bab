// File counting: the reader feeds the file's bytes, a block at a time, to the classifier.
#include "counting/file_counting.h"

#include <new>

#include "counting/line_classifier.h"
#include "input/text_file.h"
#include "platform/last_error.h"

namespace srctally {
namespace {

// An open file as the decoder's byte source, which keeps count of the bytes read.
class ReadFileSource final : public ByteSource {
 public:
  explicit ReadFileSource(platform::IReadFile& file) : file_(file) {}
  HResult Read(unsigned char* buffer, std::size_t capacity, std::size_t& bytesRead) override {
    if (!file_.Read(buffer, capacity, bytesRead)) return platform::LastErrorResult();
    total_ += static_cast<std::int64_t>(bytesRead);
    if (bytesRead == 0) atEnd_ = true;
    return hr::kOk;
  }
  std::int64_t total() const { return total_; }
  /// Whether a read found the end of the file: total is then the file's size.
  bool atEnd() const { return atEnd_; }

 private:
  platform::IReadFile& file_;
  std::int64_t total_ = 0;
  bool atEnd_ = false;
};

// A big-endian UTF-16 mark has no system error of its own; this code says the data is not
// what the reader can take (as CTextFile says).
constexpr HResult kUnsupportedByteOrder = HResultFromWin32(win32err::kInvalidData);

}  // namespace

HResult CountFileLines(const platform::FileLocation& file, LineStats& stats) {
  CTextFile text;
  HResult status = text.Open(file, textfile::kCountingFlags);
  if (Failed(status)) return status;
  std::int64_t size = 0;
  status = text.GetSize(&size);
  if (Failed(status)) {
    text.Close();
    return status;
  }
  stats.size.value = size;
  // The lines are classified in the file's own bytes, a block at a time: no line is
  // decoded or gathered, so memory stays at the reader's block whatever the line length.
  CTextClassifier classifier(text.encoding());
  TextRun run;
  while ((status = text.ReadRun(run)) == hr::kOk) classifier.Add(run, stats);
  if (status == hr::kFalse) classifier.Finish(stats);
  text.Close();
  return status;
}

HResult CountFileLines(WStringView path, LineStats& stats) {
  platform::IDisk& disk = platform::SystemDisk();
  const std::unique_ptr<platform::IReadFile> file = disk.NewFile();
  if (!disk.OpenFile(path, *file)) return platform::LastErrorResult();
  CFileCounter counter;
  return counter.Count(*file, stats);
}

HResult CFileCounter::Count(platform::IReadFile& file, LineStats& stats) {
  // The reading buffer is made on first use, on whichever thread counts: a failure to get
  // it fails this file, as a failed read does, and never ends the process.
  try {
    return CountOpen(file, stats);
  } catch (const std::bad_alloc&) {
    file.Close();
    return hr::kOutOfMemory;
  }
}

HResult CFileCounter::CountOpen(platform::IReadFile& file, LineStats& stats) {
  ReadFileSource source(file);
  // The mark is looked at in the first block, which reading then goes on from.
  const unsigned char* first = nullptr;
  std::size_t available = 0;
  HResult status = decoder_.Peek(source, 3, first, available);
  if (Failed(status)) {
    file.Close();
    return status;
  }
  const ByteOrderMark mark = DetectByteOrderMark(first, available);
  if (mark == ByteOrderMark::kUtf16Be) {
    file.Close();
    return kUnsupportedByteOrder;
  }
  const TextEncoding encoding = mark == ByteOrderMark::kUtf8      ? TextEncoding::kUtf8
                                : mark == ByteOrderMark::kUtf16Le ? TextEncoding::kUtf16Le
                                                                  : TextEncoding::kAnsi;
  decoder_.Begin(encoding, ByteOrderMarkLength(mark));
  CTextClassifier classifier(encoding);
  TextRun run;
  while ((status = decoder_.ReadRun(source, run)) == hr::kOk) classifier.Add(run, stats);
  if (status == hr::kFalse) {
    classifier.Finish(stats);
    // A file read to its end has the size of the bytes read, which saves asking the file
    // system for each file; a text ended early by Ctrl-Z asks for the size stored.
    std::int64_t size = source.total();
    if (!source.atEnd() && !file.GetSize(size)) status = platform::LastErrorResult();
    stats.size.value = size;
  }
  file.Close();
  return status;
}

}  // namespace srctally
