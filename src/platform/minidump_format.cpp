// Memory-map line parsing and byte-to-UTF-16 decoding for the minidump writer; both run
// inside a crash handler, so they work on views and fixed buffers only.
#include "platform/minidump_format.h"

#include "base/text.h"

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

}  // namespace srctally::minidump
