// Console text to bytes: UTF-8, Latin-1 with "?" for the rest, or UTF-16LE, with LF or CR LF.
#include "console/console_encoding.h"

#include "console/message_writer.h"
#include "runtime/crash_dump.h"

namespace srctally {
namespace {

bool IsHighSurrogate(char16_t ch) { return ch >= 0xD800 && ch <= 0xDBFF; }
bool IsLowSurrogate(char16_t ch) { return ch >= 0xDC00 && ch <= 0xDFFF; }
bool IsEscapedByte(char16_t ch) { return ch >= 0xDC80 && ch <= 0xDCFF; }

void AppendUtf16Le(std::string& out, WStringView text) {
  for (char16_t ch : text) {
    out += static_cast<char>(ch & 0xFF);
    out += static_cast<char>(ch >> 8);
  }
}

void AppendLatin1(std::string& out, WStringView text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t ch = text[i];
    if (ch <= 0xFF) {
      out += static_cast<char>(ch);
    } else if (IsEscapedByte(ch)) {
      out += static_cast<char>(ch - 0xDC00);  // a file-name byte goes back out unchanged
    } else {
      if (IsHighSurrogate(ch) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) ++i;
      out += '?';
    }
  }
}

void AppendPiece(std::string& out, WStringView piece, ConsoleCharset charset) {
  switch (charset) {
    case ConsoleCharset::kUtf8:
      out += ToUtf8(piece);
      break;
    case ConsoleCharset::kLatin1:
      AppendLatin1(out, piece);
      break;
    case ConsoleCharset::kUtf16Le:
      AppendUtf16Le(out, piece);
      break;
  }
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
  if (!encoding.crlf) {
    AppendPiece(out, text, encoding.charset);
    return;
  }
  // Each "\n" becomes "\r\n", as the C runtime's text modes write it.
  std::size_t start = 0;
  for (std::size_t lf = text.find(u'\n'); lf != WStringView::npos; lf = text.find(u'\n', start)) {
    AppendPiece(out, text.substr(start, lf - start), encoding.charset);
    AppendPiece(out, u"\r\n", encoding.charset);
    start = lf + 1;
  }
  AppendPiece(out, text.substr(start), encoding.charset);
}

std::size_t EncodeConsoleBytes(WStringView text, const ConsoleEncoding& encoding, char* out,
                               std::size_t capacity) noexcept {
  std::size_t used = 0;
  // Puts one character (one unit, or a surrogate pair, NUL-terminated) into out; false
  // when it does not fit.
  const auto put = [&](const char16_t* character) {
    char bytes[8];
    std::size_t count = 0;
    switch (encoding.charset) {
      case ConsoleCharset::kUtf8:
        count = EncodeUtf8(character, bytes, sizeof(bytes));  // the crash-safe encoder
        break;
      case ConsoleCharset::kLatin1:
        bytes[count++] = character[0] <= 0xFF          ? static_cast<char>(character[0])
                         : IsEscapedByte(character[0]) ? static_cast<char>(character[0] - 0xDC00)
                                                       : '?';
        break;
      case ConsoleCharset::kUtf16Le:
        for (std::size_t u = 0; u < 2 && character[u] != 0; ++u) {
          bytes[count++] = static_cast<char>(character[u] & 0xFF);
          bytes[count++] = static_cast<char>(character[u] >> 8);
        }
        break;
    }
    if (count > capacity - used) return false;
    for (std::size_t b = 0; b < count; ++b) out[used++] = bytes[b];
    return true;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t character[3] = {text[i], 0, 0};
    if (IsHighSurrogate(character[0]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      character[1] = text[++i];
    }
    if (character[0] == u'\n' && encoding.crlf) {
      const char16_t cr[] = {u'\r', 0};
      if (!put(cr)) break;
    }
    if (!put(character)) break;
  }
  return used;
}

std::string EncodeConsoleText(WStringView text, const ConsoleEncoding& encoding) {
  std::string out;
  AppendConsoleBytes(out, text, encoding);
  return out;
}

}  // namespace srctally
