// CTextFile over the platform's file: flags, marks, decoding on read, encoding on write.
#include "input/text_file.h"

#include <algorithm>

#include "platform/last_error.h"

namespace srctally {
namespace {

using platform::LastErrorResult;

// A big-endian UTF-16 mark has no system error of its own; this code says the data is not
// what the reader can take.
constexpr HResult kUnsupportedByteOrder = HResultFromWin32(win32err::kInvalidData);

constexpr std::uint32_t kKnownFlags =
    textfile::kAccessMask | textfile::kAppendToCreated | textfile::kEncodingMask |
    textfile::kNoInherit | textfile::kShareMask | textfile::kHintRandom | textfile::kHintSequential;

struct OpenChoice {
  platform::FileOpenMode mode;
  std::uint32_t access = 0;
  std::uint32_t encoding = 0;  // the encoding field, 0 to 3
};

// The flags word as open choices; false for a word with an invalid access or sharing value
// or an unknown bit.
bool ParseFlags(std::uint32_t flags, OpenChoice& choice) {
  if ((flags & ~kKnownFlags) != 0) return false;
  using platform::FileAccess;
  using platform::FileCreation;
  using platform::FileShare;
  platform::FileOpenMode& mode = choice.mode;
  choice.access = flags & textfile::kAccessMask;
  const bool appendToCreated = (flags & textfile::kAppendToCreated) != 0;
  if (appendToCreated && choice.access != textfile::kAccessCreate) return false;
  switch (choice.access) {
    case textfile::kAccessRead:
      mode.access = FileAccess::kRead;
      break;
    case textfile::kAccessAppend:
      mode.access = FileAccess::kWrite;
      mode.append = true;
      break;
    case textfile::kAccessReadWrite:
      mode.access = FileAccess::kReadWrite;
      break;
    case textfile::kAccessCreate:
      mode.access = FileAccess::kReadWrite;
      mode.creation =
          appendToCreated ? FileCreation::kOpenOrCreate : FileCreation::kCreateOrTruncate;
      mode.append = appendToCreated;
      break;
    default:
      return false;
  }
  switch (flags & textfile::kShareMask) {
    case textfile::kShareNone:
      mode.share = FileShare::kNone;
      break;
    case textfile::kShareRead:
      mode.share = FileShare::kRead;
      break;
    case textfile::kShareWrite:
      mode.share = FileShare::kWrite;
      break;
    case textfile::kShareReadWrite:
      mode.share = FileShare::kReadWrite;
      break;
    case textfile::kShareReadIfReadOnly:
      mode.share = mode.access == FileAccess::kRead ? FileShare::kRead : FileShare::kNone;
      break;
    default:
      return false;
  }
  choice.encoding = (flags & textfile::kEncodingMask) >> 4;
  mode.inheritable = (flags & textfile::kNoInherit) == 0;
  const bool random = (flags & textfile::kHintRandom) != 0;
  const bool sequential = (flags & textfile::kHintSequential) != 0;
  mode.hint = random && sequential ? platform::FileAccessHint::kBoth
              : random             ? platform::FileAccessHint::kRandom
              : sequential         ? platform::FileAccessHint::kSequential
                                   : platform::FileAccessHint::kNone;
  return true;
}

TextEncoding DefaultEncoding(std::uint32_t encodingField) {
  return encodingField == 1   ? TextEncoding::kUtf8
         : encodingField == 2 ? TextEncoding::kUtf16Le
                              : TextEncoding::kAnsi;
}

// Reads up to 3 bytes from the current position of file; false on a read failure.
bool ReadMarkBytes(platform::File& file, unsigned char (&bytes)[3], std::size_t& count) {
  count = 0;
  while (count < 3) {
    std::size_t got = 0;
    if (!file.Read(bytes + count, 3 - count, got)) return false;
    if (got == 0) break;
    count += got;
  }
  return true;
}

// Appends one character of text in encoding; a character the encoding cannot hold becomes
// '?' (ANSI) or U+FFFD (a lone surrogate in UTF-8).
void AppendEncoded(std::string& out, TextEncoding encoding, WStringView text, std::size_t& i) {
  const char16_t ch = text[i];
  switch (encoding) {
    case TextEncoding::kAnsi:
      out += static_cast<char>(ch <= 0xFF ? ch : u'?');
      break;
    case TextEncoding::kUtf16Le:
      out += static_cast<char>(ch & 0xFF);
      out += static_cast<char>(ch >> 8);
      break;
    case TextEncoding::kUtf8: {
      char bytes[kMaxUtf8CharBytes];
      std::size_t next = i;
      out.append(bytes, EncodeUtf8Char(text, next, bytes, RawBytes::kReplace));
      i = next - 1;  // the caller steps past the last unit taken
      break;
    }
  }
}

}  // namespace

// The open file as the decoder's byte source.
class CTextFile::FileSource final : public ByteSource {
 public:
  explicit FileSource(platform::File& file) : file_(file) {}
  HResult Read(unsigned char* buffer, std::size_t capacity, std::size_t& bytesRead) override {
    return file_.Read(buffer, capacity, bytesRead) ? hr::kOk : LastErrorResult();
  }

 private:
  platform::File& file_;
};

CTextFile::CTextFile(std::size_t blockSize) : decoder_(blockSize) {}

CTextFile::~CTextFile() { Close(); }

void CTextFile::Close() {
  file_.Close();
  decoder_.Reset(TextEncoding::kAnsi);
  pending_.clear();
  pendingUsed_ = 0;
  markLength_ = 0;
  canRead_ = false;
  canWrite_ = false;
}

HResult CTextFile::Open(const platform::FileLocation& location, std::uint32_t flags) {
  Close();
  OpenChoice choice;
  if (!ParseFlags(flags, choice)) return hr::kInvalidArg;
  const bool readable = choice.access != textfile::kAccessAppend;
  const bool writable = choice.access != textfile::kAccessRead;
  TextEncoding encoding = DefaultEncoding(choice.encoding);
  unsigned char mark[3] = {};
  std::size_t markBytes = 0;

  // A write-only append still honours the mark of a file that has one: look at it through
  // a brief read-only open. If that open fails, the real one below reports why.
  if (choice.encoding != 0 && !readable) {
    platform::File peek;
    platform::FileOpenMode peekMode;
    peekMode.share = platform::FileShare::kReadWrite;
    if (peek.Open(location, peekMode) && ReadMarkBytes(peek, mark, markBytes)) {
      const ByteOrderMark found = DetectByteOrderMark(mark, markBytes);
      if (found == ByteOrderMark::kUtf16Be) return kUnsupportedByteOrder;
      if (found == ByteOrderMark::kUtf8) encoding = TextEncoding::kUtf8;
      if (found == ByteOrderMark::kUtf16Le) encoding = TextEncoding::kUtf16Le;
    }
  }

  if (!file_.Open(location, choice.mode)) return LastErrorResult();

  decoder_.Reset(encoding);
  if (choice.encoding != 0 && readable) {
    const unsigned char* first = mark;
    std::size_t available = 0;
    if (writable) {
      // Read and write: the position must stay where the caller's reading stands.
      if (!ReadMarkBytes(file_, mark, available)) {
        const HResult result = LastErrorResult();
        Close();
        return result;
      }
    } else {
      // Read only: the mark is looked at in the decoder's first block, which reading then
      // goes on from, so the file is neither read twice nor repositioned.
      FileSource source(file_);
      const HResult peeked = decoder_.Peek(source, 3, first, available);
      if (Failed(peeked)) {
        Close();
        return peeked;
      }
    }
    const ByteOrderMark found = DetectByteOrderMark(first, available);
    if (found == ByteOrderMark::kUtf16Be) {
      Close();
      return kUnsupportedByteOrder;
    }
    if (found == ByteOrderMark::kUtf8) encoding = TextEncoding::kUtf8;
    if (found == ByteOrderMark::kUtf16Le) encoding = TextEncoding::kUtf16Le;
    const std::size_t markLength = ByteOrderMarkLength(found);
    markLength_ = static_cast<std::int64_t>(markLength);
    if (writable) {
      // Reading goes on right after the mark, or from the start without one.
      if (!file_.Seek(markLength_, platform::SeekOrigin::kBegin, nullptr)) {
        const HResult result = LastErrorResult();
        Close();
        return result;
      }
      decoder_.Reset(encoding);
    } else {
      decoder_.Begin(encoding, markLength);
    }
  }

  // A UTF-8 or UTF-16 file written from its start gets the mark of its encoding.
  if (writable && (choice.encoding == 1 || choice.encoding == 2)) {
    std::int64_t size = 0;
    if (!file_.GetSize(size)) {
      const HResult result = LastErrorResult();
      Close();
      return result;
    }
    if (size == 0) {
      static constexpr unsigned char kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
      static constexpr unsigned char kUtf16Mark[] = {0xFF, 0xFE};
      const bool utf8 = encoding == TextEncoding::kUtf8;
      if (!file_.Write(utf8 ? kUtf8Mark : kUtf16Mark, utf8 ? 3 : 2)) {
        const HResult result = LastErrorResult();
        Close();
        return result;
      }
      markLength_ = utf8 ? 3 : 2;
    }
  }

  canRead_ = readable;
  canWrite_ = writable;
  return hr::kOk;
}

HResult CTextFile::DropReadAhead() {
  const std::size_t ahead = decoder_.BufferedBytes();
  decoder_.Discard();
  pending_.clear();
  pendingUsed_ = 0;
  if (ahead > 0 &&
      !file_.Seek(-static_cast<std::int64_t>(ahead), platform::SeekOrigin::kCurrent, nullptr)) {
    return LastErrorResult();
  }
  return hr::kOk;
}

HResult CTextFile::Flush() {
  if (!file_.IsOpen()) return hr::kHandle;
  return file_.Flush() ? hr::kOk : LastErrorResult();
}

HResult CTextFile::Seek(std::int64_t* position, int origin) {
  if (!file_.IsOpen()) return hr::kHandle;
  if (origin < 0 || origin > 2) return hr::kInvalidArg;
  // The current position is where the caller's reading stands, not the read-ahead; and
  // reading continues from the new position.
  const HResult dropped = DropReadAhead();
  if (Failed(dropped)) return dropped;
  std::int64_t moved = 0;
  if (!file_.Seek(0, static_cast<platform::SeekOrigin>(origin), &moved)) return LastErrorResult();
  if (moved < markLength_) {
    if (!file_.Seek(markLength_, platform::SeekOrigin::kBegin, &moved)) return LastErrorResult();
  }
  if (position != nullptr) *position = moved;
  return hr::kOk;
}

HResult CTextFile::Truncate() {
  if (!file_.IsOpen()) return hr::kHandle;
  decoder_.Discard();
  pending_.clear();
  pendingUsed_ = 0;
  if (!file_.Seek(0, platform::SeekOrigin::kBegin, nullptr)) return LastErrorResult();
  markLength_ = 0;  // the mark goes with the rest of the file
  return file_.SetEnd() ? hr::kOk : LastErrorResult();
}

HResult CTextFile::GetSize(std::int64_t* size) {
  if (!file_.IsOpen()) return hr::kHandle;
  if (size == nullptr) return hr::kInvalidArg;
  return file_.GetSize(*size) ? hr::kOk : LastErrorResult();
}

HResult CTextFile::WriteString(const char16_t* text) {
  if (!file_.IsOpen()) return hr::kPointer;
  if (text == nullptr) return hr::kInvalidArg;
  if (!canWrite_) return HResultFromWin32(win32err::kAccessDenied);
  const HResult dropped = DropReadAhead();
  if (Failed(dropped)) return dropped;
  const WStringView view(text);
  const TextEncoding encoding = decoder_.encoding();
  encoded_.clear();
  for (std::size_t i = 0; i < view.size(); ++i) {
    if (view[i] == u'\n') {
      std::size_t at = 0;
      AppendEncoded(encoded_, encoding, u"\r", at);
    }
    AppendEncoded(encoded_, encoding, view, i);
  }
  return file_.Write(encoded_.data(), encoded_.size()) ? hr::kOk : LastErrorResult();
}

HResult CTextFile::ReadLine(WString& line) {
  if (!file_.IsOpen()) return hr::kPointer;
  if (!canRead_) return HResultFromWin32(win32err::kAccessDenied);
  if (pendingUsed_ < pending_.size()) {
    // The rest of a line that ReadString began.
    line.assign(pending_, pendingUsed_);
    if (!line.empty() && line.back() == u'\n') line.pop_back();
    pending_.clear();
    pendingUsed_ = 0;
    return hr::kOk;
  }
  FileSource source(file_);
  return decoder_.ReadLine(source, line);
}

HResult CTextFile::ReadRun(TextRun& run) {
  if (!file_.IsOpen()) return hr::kPointer;
  if (!canRead_) return HResultFromWin32(win32err::kAccessDenied);
  FileSource source(file_);
  return decoder_.ReadRun(source, run);
}

HResult CTextFile::ReadString(char16_t* buffer, std::size_t count) {
  if (!file_.IsOpen()) return hr::kPointer;
  if (buffer == nullptr || count == 0) return hr::kInvalidArg;
  if (count == 1) {
    // Room for the terminator alone: no read could make progress, and answering success
    // would keep a reading loop going for ever.
    buffer[0] = u'\0';
    return hr::kInvalidArg;
  }
  if (!canRead_) return HResultFromWin32(win32err::kAccessDenied);
  if (pendingUsed_ >= pending_.size()) {
    pending_.clear();
    pendingUsed_ = 0;
    FileSource source(file_);
    bool lineFeed = false;
    const HResult status = decoder_.ReadLine(source, pending_, &lineFeed);
    if (status != hr::kOk) {
      buffer[0] = u'\0';
      return status;
    }
    if (lineFeed) pending_ += u'\n';
  }
  const std::size_t take = std::min(count - 1, pending_.size() - pendingUsed_);
  std::copy_n(pending_.data() + pendingUsed_, take, buffer);
  buffer[take] = u'\0';
  pendingUsed_ += take;
  return hr::kOk;
}

}  // namespace srctally
