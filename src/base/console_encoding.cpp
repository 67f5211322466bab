// Console text to bytes: UTF-8, Latin-1 with "?" for the rest, or UTF-16LE, with LF or CR LF.
#include "base/console_encoding.h"

namespace srctally {
namespace {

// Most bytes EncodeConsoleChar writes: a CR and a line feed in UTF-16, or one character in
// UTF-8.
constexpr std::size_t kMaxCharBytes = 8;

bool IsHighSurrogate(char16_t ch) { return ch >= 0xD800 && ch <= 0xDBFF; }
bool IsLowSurrogate(char16_t ch) { return ch >= 0xDC00 && ch <= 0xDFFF; }

std::size_t PutUtf16Le(char16_t ch, char* out) noexcept {
  out[0] = static_cast<char>(ch & 0xFF);
  out[1] = static_cast<char>(ch >> 8);
  return 2;
}

// Encodes the character at text[i] (a surrogate pair is one) into out, which has room for
// kMaxCharBytes, advances i past it and answers the number of bytes. Allocates nothing.
std::size_t EncodeConsoleChar(WStringView text, std::size_t& i, const ConsoleEncoding& encoding,
                              char* out) noexcept {
  std::size_t count = 0;
  const char16_t ch = text[i];
  if (ch == u'\n' && encoding.crlf) {
    count =
        encoding.charset == ConsoleCharset::kUtf16Le ? PutUtf16Le(u'\r', out) : (*out = '\r', 1);
  }
  char* const at = out + count;
  switch (encoding.charset) {
    case ConsoleCharset::kUtf8:
      return count +
             EncodeUtf8Char(text, i, at,
                            encoding.replaceRawBytes ? RawBytes::kReplace : RawBytes::kKeep);
    case ConsoleCharset::kLatin1:
      ++i;
      if (ch <= 0xFF) {
        *at = static_cast<char>(ch);
      } else if (IsRawByteUnit(ch) && !encoding.replaceRawBytes) {
        *at = static_cast<char>(ch - 0xDC00);  // a file-name byte goes back out unchanged
      } else {
        if (IsHighSurrogate(ch) && i < text.size() && IsLowSurrogate(text[i])) ++i;
        *at = '?';
      }
      return count + 1;
    case ConsoleCharset::kUtf16Le:
      ++i;
      if (IsHighSurrogate(ch) && i < text.size() && IsLowSurrogate(text[i])) {
        PutUtf16Le(ch, at);  // a pair stays whole
        return count + 2 + PutUtf16Le(text[i++], at + 2);
      }
      return count + PutUtf16Le(encoding.replaceRawBytes && IsRawByteUnit(ch) ? u'\uFFFD' : ch, at);
  }
  ++i;
  return count;
}

}  // namespace

ConsoleEncoding EncodingForMode(std::uint32_t translationMode, ConsoleCharset narrowCharset,
                                bool crlf) {
  switch (translationMode) {
    case translation::kUnicode:
      return {ConsoleCharset::kUtf16Le, crlf};
    case translation::kUtf8:
      return {ConsoleCharset::kUtf8, crlf};
    default:
      return {narrowCharset, crlf};
  }
}

void AppendConsoleBytes(std::string& out, WStringView text, const ConsoleEncoding& encoding) {
  // ASCII is its own byte in UTF-8 and Latin-1: a run of it is copied as it stands, which
  // is nearly all of a report. A line feed that becomes CR LF ends the run.
  const bool narrow = encoding.charset != ConsoleCharset::kUtf16Le;
  const char16_t stop = encoding.crlf ? u'\n' : char16_t{0x80};
  char bytes[kMaxCharBytes];
  for (std::size_t i = 0; i < text.size();) {
    std::size_t end = i;
    if (narrow) {
      while (end < text.size() && text[end] < 0x80 && text[end] != stop) ++end;
    }
    if (end == i) {
      out.append(bytes, EncodeConsoleChar(text, i, encoding, bytes));
      continue;
    }
    const std::size_t at = out.size();
    out.resize(at + (end - i));
    for (std::size_t k = at; i < end; ++i, ++k) out[k] = static_cast<char>(text[i]);
  }
}

std::size_t EncodeConsoleBytes(WStringView text, const ConsoleEncoding& encoding, char* out,
                               std::size_t capacity) noexcept {
  std::size_t used = 0;
  char bytes[kMaxCharBytes];
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t count = EncodeConsoleChar(text, i, encoding, bytes);
    if (count > capacity - used) break;  // whole characters only
    for (std::size_t b = 0; b < count; ++b) out[used++] = bytes[b];
  }
  return used;
}

std::string EncodeConsoleText(WStringView text, const ConsoleEncoding& encoding) {
  std::string out;
  AppendConsoleBytes(out, text, encoding);
  return out;
}

}  // namespace srctally
