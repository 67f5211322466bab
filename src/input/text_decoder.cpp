// Byte-to-UTF-16 line splitting with the text-mode translations of the reader.
#include "input/text_decoder.h"

#include <algorithm>
#include <cstring>

namespace srctally {
namespace {

constexpr unsigned char kLineFeed = 0x0A;
constexpr unsigned char kCarriageReturn = 0x0D;
constexpr unsigned char kEndOfText = 0x1A;  // Ctrl-Z
constexpr char16_t kReplacement = 0xFFFD;
// Room before a fresh block for the bytes held back from the previous one (at most 3).
constexpr std::size_t kCarryRoom = 4;

// Length of the UTF-8 sequence a lead byte starts; 1 for bytes that start none.
constexpr std::size_t Utf8SequenceLength(unsigned char lead) {
  return lead >= 0xC2 && lead <= 0xDF   ? 2
         : lead >= 0xE0 && lead <= 0xEF ? 3
         : lead >= 0xF0 && lead <= 0xF4 ? 4
                                        : 1;
}

constexpr char16_t Utf16Unit(const unsigned char* bytes) {
  return static_cast<char16_t>(bytes[0] | (bytes[1] << 8));
}

// Reads the sequence that lead (already taken from p) starts, up to e: advances p past its
// continuation bytes and answers how many of the length bytes it has, code getting the
// value. Malformed input ends the sequence early: one U+FFFD per maximal invalid part.
inline std::size_t TakeUtf8Sequence(unsigned char lead, std::size_t length, const unsigned char*& p,
                                    const unsigned char* e, std::uint32_t& code) {
  // The first continuation byte's range excludes overlong forms, surrogates and values
  // beyond U+10FFFF; later ones are always 80..BF.
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xED) high = 0x9F;
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;
  code = lead & (0xFFu >> (length + 1));
  std::size_t taken = 1;
  while (taken < length && p < e && *p >= low && *p <= high) {
    code = (code << 6) | (*p++ & 0x3Fu);
    ++taken;
    low = 0x80;
    high = 0xBF;
  }
  return taken;
}

// The characters of [p, e) appended into out, which has room for e - p characters; returns
// the end of what was written.
char16_t* DecodeUtf8(const unsigned char* p, const unsigned char* e, char16_t* out) {
  while (p < e) {
    const unsigned char lead = *p++;
    if (lead < 0x80) {
      *out++ = lead;
      continue;
    }
    const std::size_t length = Utf8SequenceLength(lead);
    if (length == 1) {
      *out++ = kReplacement;
      continue;
    }
    std::uint32_t code = 0;
    const std::size_t taken = TakeUtf8Sequence(lead, length, p, e, code);
    if (taken < length) {
      *out++ = kReplacement;
    } else if (code >= 0x10000) {
      code -= 0x10000;
      *out++ = static_cast<char16_t>(0xD800 + (code >> 10));
      *out++ = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      *out++ = static_cast<char16_t>(code);
    }
  }
  return out;
}

}  // namespace

std::size_t Utf8UnitCount(const unsigned char* p, const unsigned char* e) {
  // Most text is ASCII: one unit per byte, told eight bytes at a time.
  const unsigned char* ascii = p;
  for (; e - ascii >= 8; ascii += 8) {
    std::uint64_t word;
    std::memcpy(&word, ascii, 8);
    if ((word & 0x8080808080808080u) != 0) break;
  }
  std::size_t units = static_cast<std::size_t>(ascii - p);
  p = ascii;
  while (p < e) {
    const unsigned char lead = *p++;
    const std::size_t length = lead < 0x80 ? 1 : Utf8SequenceLength(lead);
    if (length > 1) {
      std::uint32_t code = 0;
      const std::size_t taken = TakeUtf8Sequence(lead, length, p, e, code);
      // A whole four-byte sequence lies beyond U+FFFF: a surrogate pair.
      if (taken == 4) ++units;
    }
    ++units;
  }
  return units;
}

ByteOrderMark DetectByteOrderMark(const unsigned char* bytes, std::size_t count) {
  if (count >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    return ByteOrderMark::kUtf8;
  }
  if (count >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return ByteOrderMark::kUtf16Le;
  if (count >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) return ByteOrderMark::kUtf16Be;
  return ByteOrderMark::kNone;
}

std::size_t ByteOrderMarkLength(ByteOrderMark mark) {
  switch (mark) {
    case ByteOrderMark::kUtf8:
      return 3;
    case ByteOrderMark::kUtf16Le:
    case ByteOrderMark::kUtf16Be:
      return 2;
    case ByteOrderMark::kNone:
      break;
  }
  return 0;
}

TextDecoder::TextDecoder(std::size_t blockSize) : blockSize_(blockSize > 0 ? blockSize : 1) {}

void TextDecoder::Reset(TextEncoding encoding) {
  encoding_ = encoding;
  Discard();
}

void TextDecoder::Discard() {
  pos_ = 0;
  end_ = 0;
  atEnd_ = false;
}

std::size_t TextDecoder::FindLineFeed() const {
  const unsigned char* const data = buffer_.get();
  if (encoding_ != TextEncoding::kUtf16Le) {
    const void* found = end_ > pos_ ? std::memchr(data + pos_, kLineFeed, end_ - pos_) : nullptr;
    return found != nullptr
               ? static_cast<std::size_t>(static_cast<const unsigned char*>(found) - data)
               : end_;
  }
  for (std::size_t at = pos_; at + 2 <= end_; at += 2) {
    if (data[at] == kLineFeed && data[at + 1] == 0) return at;
  }
  return end_;
}

std::size_t TextDecoder::FindEndMark(std::size_t from) const {
  const unsigned char* const data = buffer_.get();
  if (encoding_ != TextEncoding::kUtf16Le) {
    const void* found = end_ > from ? std::memchr(data + from, kEndOfText, end_ - from) : nullptr;
    return found != nullptr
               ? static_cast<std::size_t>(static_cast<const unsigned char*>(found) - data)
               : end_;
  }
  for (std::size_t at = from; at + 2 <= end_; at += 2) {
    if (data[at] == kEndOfText && data[at + 1] == 0) return at;
  }
  return end_;
}

std::size_t TextDecoder::HeldBack() const {
  const unsigned char* const data = buffer_.get();
  const std::size_t length = end_ - pos_;
  if (length == 0) return 0;
  if (encoding_ == TextEncoding::kUtf16Le) {
    const std::size_t odd = length % 2;
    const std::size_t last = end_ - odd - 2;  // start of the last whole unit, if any
    const bool endsWithCr = length - odd >= 2 && Utf16Unit(data + last) == kCarriageReturn;
    return odd + (endsWithCr ? 2 : 0);
  }
  if (data[end_ - 1] == kCarriageReturn) return 1;
  if (encoding_ == TextEncoding::kUtf8) {
    // Walk back over continuation bytes to the lead byte of the last sequence; hold the
    // sequence when the block ends before it is complete.
    std::size_t lead = end_ - 1;
    while (lead > pos_ && end_ - lead < 4 && (data[lead] & 0xC0) == 0x80) --lead;
    const std::size_t have = end_ - lead;
    if (Utf8SequenceLength(data[lead]) > have) return have;
  }
  return 0;
}

void TextDecoder::Decode(std::size_t from, std::size_t to, WString& line) const {
  if (to <= from) return;
  const unsigned char* p = buffer_.get() + from;
  const unsigned char* const e = buffer_.get() + to;
  const std::size_t old = line.size();
  switch (encoding_) {
    case TextEncoding::kAnsi: {
      line.resize(old + (to - from));
      char16_t* out = line.data() + old;
      while (p < e) *out++ = *p++;
      break;
    }
    case TextEncoding::kUtf8: {
      line.resize(old + (to - from));  // never more units than bytes
      const char16_t* const written = DecodeUtf8(p, e, line.data() + old);
      line.resize(static_cast<std::size_t>(written - line.data()));
      break;
    }
    case TextEncoding::kUtf16Le: {
      const std::size_t units = (to - from) / 2;  // an unpaired last byte is dropped
      line.resize(old + units);
      char16_t* out = line.data() + old;
      for (std::size_t i = 0; i < units; ++i, p += 2) *out++ = Utf16Unit(p);
      break;
    }
  }
}

HResult TextDecoder::ReadBlock(ByteSource& source) {
  if (!buffer_) {
    buffer_ = std::make_unique_for_overwrite<unsigned char[]>(blockSize_ + kCarryRoom +
                                                              TextRun::kPadding);
  }
  const std::size_t carried = end_ - pos_;
  if (carried > 0 && pos_ > 0) std::memmove(buffer_.get(), buffer_.get() + pos_, carried);
  pos_ = 0;
  end_ = carried;
  // The buffer holds a block and the carry room; Peek may carry more than the bytes held
  // back between blocks, so the read never goes past that room.
  const std::size_t room = std::min(blockSize_, blockSize_ + kCarryRoom - carried);
  std::size_t bytesRead = 0;
  const HResult status = source.Read(buffer_.get() + carried, room, bytesRead);
  if (Failed(status)) return status;
  if (bytesRead == 0) atEnd_ = true;
  end_ += bytesRead;
  return hr::kOk;
}

void TextDecoder::CutAtEndMark(std::size_t from) {
  const std::size_t mark = FindEndMark(from);
  if (mark < end_) {
    end_ = mark;
    atEnd_ = true;
  }
  std::memset(buffer_.get() + end_, 0, TextRun::kPadding);  // defined bytes after any run
}

HResult TextDecoder::Refill(ByteSource& source) {
  const std::size_t carried = end_ - pos_;
  const HResult status = ReadBlock(source);
  if (Failed(status)) return status;
  // Ctrl-Z ends the text: cut the block there and read no further. Looked for once per
  // block; the carried bytes were searched with the block before. Units stay aligned, as
  // the buffer holds whole units from its start apart from an unpaired last byte.
  CutAtEndMark(encoding_ == TextEncoding::kUtf16Le ? carried & ~std::size_t{1} : carried);
  return hr::kOk;
}

HResult TextDecoder::Peek(ByteSource& source, std::size_t count, const unsigned char*& bytes,
                          std::size_t& available) {
  Discard();
  count = std::min(count, blockSize_ + kCarryRoom);  // what the buffer holds
  while (end_ < count && !atEnd_) {
    const HResult status = ReadBlock(source);
    if (Failed(status)) {
      Discard();
      return status;
    }
  }
  bytes = buffer_.get();
  available = end_;
  return hr::kOk;
}

void TextDecoder::Begin(TextEncoding encoding, std::size_t skip) {
  encoding_ = encoding;
  pos_ = std::min(skip, end_);
  if (buffer_) CutAtEndMark(pos_);
}

HResult TextDecoder::ReadLine(ByteSource& source, WString& line, bool* endsWithLineFeed) {
  line.clear();
  if (endsWithLineFeed != nullptr) *endsWithLineFeed = false;
  const std::size_t unit = UnitSize();
  for (;;) {
    const std::size_t stop = FindLineFeed();
    if (stop < end_) {
      // A CR right before the LF is part of the line break; a CR at a block's end was held
      // back, so it is still in the buffer here.
      std::size_t textEnd = stop;
      if (textEnd - pos_ >= unit && buffer_[textEnd - unit] == kCarriageReturn &&
          (unit == 1 || buffer_[textEnd - 1] == 0)) {
        textEnd -= unit;
      }
      Decode(pos_, textEnd, line);
      pos_ = stop + unit;
      if (endsWithLineFeed != nullptr) *endsWithLineFeed = true;
      return hr::kOk;
    }
    if (atEnd_) {
      Decode(pos_, end_, line);
      pos_ = end_;
      return line.empty() ? hr::kFalse : hr::kOk;
    }
    const std::size_t held = HeldBack();
    Decode(pos_, end_ - held, line);
    pos_ = end_ - held;
    const HResult status = Refill(source);
    if (Failed(status)) {
      line.clear();
      return status;
    }
  }
}

HResult TextDecoder::ReadRun(ByteSource& source, TextRun& run) {
  for (;;) {
    // At the end only an unpaired UTF-16 byte is left out; before it, what may still join
    // the next block waits for it.
    const std::size_t held = atEnd_ ? (end_ - pos_) % UnitSize() : HeldBack();
    if (end_ - held > pos_) {
      run = {buffer_.get() + pos_, end_ - held - pos_};
      pos_ = end_ - held;
      return hr::kOk;
    }
    if (atEnd_) {
      pos_ = end_;
      run = {};
      return hr::kFalse;
    }
    const HResult status = Refill(source);
    if (Failed(status)) return status;
  }
}

}  // namespace srctally
