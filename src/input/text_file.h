// CTextFile: a text file read line by line as UTF-16, or written from UTF-16, in ANSI,
// UTF-8 or UTF-16 little-endian, with byte-order-mark detection and CR LF translation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/status.h"
#include "base/text.h"
#include "input/text_decoder.h"
#include "platform/file.h"

namespace srctally {

/// Bits of the flags word of CTextFile::Open.
namespace textfile {
inline constexpr std::uint32_t kAccessMask = 0x7;
inline constexpr std::uint32_t kAccessRead = 0x0;       ///< read an existing file
inline constexpr std::uint32_t kAccessAppend = 0x1;     ///< append to an existing file, write only
inline constexpr std::uint32_t kAccessReadWrite = 0x2;  ///< read and write an existing file
inline constexpr std::uint32_t kAccessCreate = 0x4;     ///< read and write, created or emptied
inline constexpr std::uint32_t kAppendToCreated = 0x8;  ///< with kAccessCreate: keep and append
inline constexpr std::uint32_t kEncodingMask = 0x30;
inline constexpr std::uint32_t kEncodingAnsi = 0x00;  ///< no byte-order mark looked for
inline constexpr std::uint32_t kEncodingUtf8 = 0x10;
inline constexpr std::uint32_t kEncodingUtf16 = 0x20;   ///< little-endian
inline constexpr std::uint32_t kEncodingDetect = 0x30;  ///< from the mark, ANSI without one
inline constexpr std::uint32_t kNoInherit = 0x80;       ///< child processes do not inherit it
inline constexpr std::uint32_t kShareMask = 0x700;
inline constexpr std::uint32_t kShareNone = 0x100;            ///< others may neither read nor write
inline constexpr std::uint32_t kShareRead = 0x200;            ///< others may read, not write
inline constexpr std::uint32_t kShareWrite = 0x300;           ///< others may write, not read
inline constexpr std::uint32_t kShareReadWrite = 0x400;       ///< others may read and write
inline constexpr std::uint32_t kShareReadIfReadOnly = 0x500;  ///< others read a read-only open
inline constexpr std::uint32_t kHintRandom = 0x1000;
inline constexpr std::uint32_t kHintSequential = 0x2000;
/// How source files are opened for counting: read, encoding from the mark, writers denied.
inline constexpr std::uint32_t kCountingFlags = kAccessRead | kEncodingDetect | kShareRead;
}  // namespace textfile

/// A text file. Constructed closed; Open makes it open, Close (or destruction) closes it.
///
/// Reading delivers UTF-16 whatever the encoding: CR LF becomes LF (a lone CR stays), 0x1A
/// ends the file, malformed UTF-8 becomes U+FFFD; see TextDecoder. Writing encodes UTF-16
/// text in the file's encoding and writes each LF as CR LF; writes go straight to the
/// operating system, so nothing is lost at Close.
///
/// Results: hr::kOk, hr::kFalse (end of file), hr::kHandle (size or position operations on a
/// closed file), hr::kPointer (text operations on a closed file), hr::kInvalidArg (a null
/// required argument, an invalid flags word or origin), or the system error of a failure as
/// HResultFromWin32.
class CTextFile {
 public:
  /// blockSize: bytes read from the disk at a time (tests make it small).
  explicit CTextFile(std::size_t blockSize = TextDecoder::kDefaultBlockSize);
  /// Closes the file if the owner did not.
  virtual ~CTextFile();
  CTextFile(const CTextFile&) = delete;
  CTextFile& operator=(const CTextFile&) = delete;

  /// Closes the file; safe on a closed object.
  virtual void Close();
  /// Opens the file with the flags word (textfile::). With read access and an encoding
  /// other than ANSI, a byte-order mark at the start decides the encoding and is skipped;
  /// FE FF (big-endian UTF-16) is refused. A UTF-8 or UTF-16 file opened for writing that is
  /// empty gets its mark written first. An open object is closed first.
  virtual HResult Open(const platform::FileLocation& location, std::uint32_t flags);
  HResult Open(WStringView path, std::uint32_t flags) {
    return Open(platform::FileLocation{path}, flags);
  }
  /// Commits the written data to the storage device.
  virtual HResult Flush();
  /// Moves to origin (0 start, 1 current, 2 end) and stores the new position through
  /// position when it is not null. Reading continues from there; the start of the text is
  /// after the file's byte-order mark, so origin 0 lands behind the mark.
  virtual HResult Seek(std::int64_t* position, int origin);
  /// Empties the file.
  virtual HResult Truncate();
  /// The file's size in bytes as stored, byte-order mark included.
  virtual HResult GetSize(std::int64_t* size);
  /// Writes a NUL-terminated text.
  virtual HResult WriteString(const char16_t* text);
  /// Replaces line with the next line, without its LF: hr::kOk (a line, maybe empty),
  /// hr::kFalse at the end (line empty), negative on a read failure. Throws std::bad_alloc
  /// when line cannot grow.
  virtual HResult ReadLine(WString& line);
  /// The next run of the file's stored bytes after its mark, undecoded (see
  /// TextDecoder::ReadRun): hr::kOk, hr::kFalse at the end, negative on a read failure. For
  /// readers that work on the bytes directly; not to be mixed with ReadLine or ReadString.
  HResult ReadRun(TextRun& run);
  /// Reads at most count - 1 characters into buffer, stopping after the first LF (which
  /// stays), and terminates them: hr::kOk when something was read, hr::kFalse at the end.
  /// A count below 2 leaves no room for a character: hr::kInvalidArg, nothing is read.
  virtual HResult ReadString(char16_t* buffer, std::size_t count);

  bool IsOpen() const { return file_.IsOpen(); }
  TextEncoding encoding() const { return decoder_.encoding(); }

 private:
  class FileSource;
  // Puts the file position back to the first byte not yet delivered, so a write or a seek
  // follows what the caller has read rather than what was read ahead.
  HResult DropReadAhead();

  platform::File file_;
  TextDecoder decoder_;
  WString pending_;  // the rest of a line partly delivered by ReadString, LF included
  std::size_t pendingUsed_ = 0;
  std::int64_t markLength_ = 0;  // bytes of the byte-order mark at the file's start
  std::string encoded_;          // reused buffer for WriteString
  bool canRead_ = false;
  bool canWrite_ = false;
};

}  // namespace srctally
