// Turns the bytes of a text file into UTF-16 lines: decoding, CR LF translation and the
// Ctrl-Z end mark, over large blocks read from any byte source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/status.h"
#include "base/text.h"

namespace srctally {

/// The encodings a text file can be read in.
enum class TextEncoding : std::uint8_t {
  kAnsi,     ///< one character per byte, the byte's value (ISO 8859-1)
  kUtf8,     ///< malformed sequences become U+FFFD
  kUtf16Le,  ///< 16-bit little-endian units as stored; an unpaired last byte is dropped
};

/// UTF-16 units that the UTF-8 bytes [begin, end) decode into, malformed parts counted as
/// the U+FFFD each becomes: what TextDecoder delivers for them, without decoding.
std::size_t Utf8UnitCount(const unsigned char* begin, const unsigned char* end);

/// The byte-order mark a text starts with.
enum class ByteOrderMark : std::uint8_t { kNone, kUtf8, kUtf16Le, kUtf16Be };

/// Looks at the first count (at most 3 needed) bytes of a file: EF BB BF is UTF-8 (only
/// when all three are there), FF FE UTF-16 little-endian, FE FF UTF-16 big-endian.
ByteOrderMark DetectByteOrderMark(const unsigned char* bytes, std::size_t count);

/// Bytes of a mark: 3, 2, 2, or 0 for none.
std::size_t ByteOrderMarkLength(ByteOrderMark mark);

/// Where the decoder takes its bytes from.
class ByteSource {
 public:
  /// Reads up to capacity bytes into buffer. hr::kOk with bytesRead 0 means the end; a
  /// short read is not the end. A negative result is a read failure.
  virtual HResult Read(unsigned char* buffer, std::size_t capacity, std::size_t& bytesRead) = 0;

 protected:
  ~ByteSource() = default;
};

/// A run of a text's stored bytes, in the decoder's encoding, with whole characters only: a
/// UTF-8 sequence or UTF-16 unit is never cut. Line feeds and CRs stay in it as stored.
/// kPadding more bytes after the run can be read (their values mean nothing), so a scan
/// may look at a whole vector of bytes where fewer are left.
struct TextRun {
  static constexpr std::size_t kPadding = 16;
  const unsigned char* data = nullptr;
  std::size_t size = 0;
};

/// Splits a byte stream into lines of UTF-16 text.
///
/// Rules, for ANSI and UTF-8 on the bytes and for UTF-16 on the 16-bit units: CR directly
/// followed by LF is one LF, also when a block boundary falls between them; any other CR
/// is an ordinary character; LF ends a line; 0x1A ends the text (it and all after it are
/// never delivered). A UTF-8 sequence cut by a block boundary is completed from the next
/// block before it is decoded. U+0000 is an ordinary character: a line ends only at LF or
/// at the end of the text, so no line content is lost to it.
///
/// Bytes are read in blocks of blockSize into a buffer the decoder owns; memory beyond
/// that is only the caller's line, so it is bounded by the longest line.
class TextDecoder {
 public:
  static constexpr std::size_t kDefaultBlockSize = 64 * 1024;

  explicit TextDecoder(std::size_t blockSize = kDefaultBlockSize);

  /// Starts a new text in encoding, dropping whatever was buffered.
  void Reset(TextEncoding encoding);

  /// Starts a new text whose encoding is not known yet: reads its first block and shows
  /// the first available bytes, at least count unless the text is shorter, but never more
  /// than the decoder's buffer holds (a block and 4 bytes), so that a
  /// caller can tell the encoding from a byte-order mark without reading the mark twice.
  /// Begin must follow. Negative: the source failed; nothing is buffered.
  HResult Peek(ByteSource& source, std::size_t count, const unsigned char*& bytes,
               std::size_t& available);
  /// After Peek: takes the buffered bytes as the text in encoding, from skip bytes on.
  void Begin(TextEncoding encoding, std::size_t skip);
  TextEncoding encoding() const { return encoding_; }

  /// Replaces line with the next line, without its LF. hr::kOk: a line was delivered (it may
  /// be empty); endsWithLineFeed, when given, tells whether an LF ended it (else the text
  /// ended). hr::kFalse: no further line; line is empty. Negative: the source failed; the
  /// text gathered for that line is dropped. Throws std::bad_alloc when line cannot grow.
  HResult ReadLine(ByteSource& source, WString& line, bool* endsWithLineFeed = nullptr);

  /// The next run of the text's stored bytes, undecoded, as much as one block holds: the
  /// runs joined are the text up to its end mark (0x1A), less an unpaired last UTF-16 byte,
  /// and ReadLine would split them into the same lines. For readers that work on the bytes
  /// themselves; memory stays at one block whatever the line length. The run's bytes stay
  /// valid until the next call. hr::kOk: a run was delivered (never empty); hr::kFalse: the
  /// text has ended; negative: the source failed. Not to be mixed with ReadLine.
  HResult ReadRun(ByteSource& source, TextRun& run);

  /// Bytes taken from the source and not yet delivered, for a caller that wants to move
  /// the source's position back to the first undelivered byte.
  std::size_t BufferedBytes() const { return end_ - pos_; }

  /// Forgets buffered bytes and any end seen, keeping the encoding: reading continues with
  /// whatever the source delivers next.
  void Discard();

 private:
  std::size_t UnitSize() const { return encoding_ == TextEncoding::kUtf16Le ? 2 : 1; }
  // The first LF at or after pos_, or end_ when there is none.
  std::size_t FindLineFeed() const;
  // The first 0x1A at or after from, or end_ when there is none.
  std::size_t FindEndMark(std::size_t from) const;
  // Bytes at the end of the buffer that must wait for the next block: a CR that may precede
  // an LF, an unfinished UTF-8 sequence, an unpaired UTF-16 byte.
  std::size_t HeldBack() const;
  // Appends the characters of [from, to) to line; an unfinished sequence at the end is
  // malformed, an unpaired UTF-16 byte is dropped.
  void Decode(std::size_t from, std::size_t to, WString& line) const;
  HResult Refill(ByteSource& source);
  // Moves the undelivered bytes to the buffer's start and reads a block after them.
  HResult ReadBlock(ByteSource& source);
  // Ends the text at the first 0x1A at or after from, if there is one.
  void CutAtEndMark(std::size_t from);

  std::size_t blockSize_;
  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool atEnd_ = false;  // no more bytes will be read: the source is exhausted, or 0x1A was seen
  TextEncoding encoding_ = TextEncoding::kAnsi;
};

}  // namespace srctally
