// Memory-map line parsing and byte-to-UTF-16 decoding for the minidump writer; both run
// inside a crash handler, so they work on views and fixed buffers only.
#include "runtime/minidump_format.h"

namespace srctally::minidump {
namespace {

/// Reads hexadecimal digits at text[pos]; false when there are none.
bool ReadHex(std::string_view text, std::size_t& pos, std::uint64_t& value) {
  const std::size_t begin = pos;
  value = 0;
  while (pos < text.size()) {
    const char ch = text[pos];
    unsigned digit;
    if (ch >= '0' && ch <= '9') {
      digit = static_cast<unsigned>(ch - '0');
    } else if (ch >= 'a' && ch <= 'f') {
      digit = static_cast<unsigned>(ch - 'a' + 10);
    } else if (ch >= 'A' && ch <= 'F') {
      digit = static_cast<unsigned>(ch - 'A' + 10);
    } else {
      break;
    }
    value = (value << 4) | digit;
    ++pos;
  }
  return pos != begin && pos - begin <= 16;
}

bool ReadDecimal(std::string_view text, std::size_t& pos, std::uint64_t& value) {
  const std::size_t begin = pos;
  value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    value = value * 10 + static_cast<unsigned>(text[pos] - '0');
    ++pos;
  }
  return pos != begin;
}

bool Expect(std::string_view text, std::size_t& pos, char ch) {
  if (pos >= text.size() || text[pos] != ch) return false;
  ++pos;
  return true;
}

void SkipBlanks(std::string_view text, std::size_t& pos) {
  while (pos < text.size() && text[pos] == ' ') ++pos;
}

/// The length of the valid UTF-8 sequence at bytes[i] and its code point, or 0.
std::size_t DecodeSequence(std::string_view bytes, std::size_t i, char32_t& cp) {
  const auto b0 = static_cast<std::uint8_t>(bytes[i]);
  std::size_t len = 0;
  char32_t min = 0;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > bytes.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<std::uint8_t>(bytes[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

bool ParseMapsLine(std::string_view line, MapsEntry& entry) {
  std::size_t pos = 0;
  std::uint64_t ignored = 0;
  if (!ReadHex(line, pos, entry.start) || !Expect(line, pos, '-') ||
      !ReadHex(line, pos, entry.end) || !Expect(line, pos, ' ')) {
    return false;
  }
  if (pos + 4 > line.size()) return false;
  entry.readable = line[pos] == 'r';
  entry.executable = line[pos + 2] == 'x';
  pos += 4;
  if (!Expect(line, pos, ' ') || !ReadHex(line, pos, entry.offset) || !Expect(line, pos, ' ') ||
      !ReadHex(line, pos, ignored) || !Expect(line, pos, ':') || !ReadHex(line, pos, ignored) ||
      !Expect(line, pos, ' ') || !ReadDecimal(line, pos, entry.inode)) {
    return false;
  }
  if (entry.end < entry.start) return false;
  SkipBlanks(line, pos);
  entry.path = line.substr(pos);
  return true;
}

std::size_t DecodeUtf8(std::string_view bytes, char16_t* out, std::size_t capacity) {
  std::size_t used = 0;
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t cp = 0;
    std::size_t len = DecodeSequence(bytes, i, cp);
    if (len == 0) {
      cp = 0xDC00 + static_cast<std::uint8_t>(bytes[i]);  // keep the raw byte
      len = 1;
    }
    const std::size_t units = cp >= 0x10000 ? 2 : 1;
    if (used + units > capacity) return capacity + 1;
    if (units == 2) {
      out[used++] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out[used++] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out[used++] = static_cast<char16_t>(cp);
    }
    i += len;
  }
  return used;
}

}  // namespace srctally::minidump
