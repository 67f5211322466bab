// How console text becomes bytes: the encodings a console sink writes, as a pure function.
#pragma once

#include <cstdint>
#include <string>

#include "base/text.h"

namespace srctally {

/// Output translation modes of standard output (the C runtime's _setmode constants).
namespace translation {
inline constexpr std::uint32_t kText = 0x4000;
inline constexpr std::uint32_t kUnicode = 0x20000;
inline constexpr std::uint32_t kUtf8 = 0x40000;
}  // namespace translation

/// The byte encoding of console output.
enum class ConsoleCharset {
  kUtf8,     ///< UTF-8
  kLatin1,   ///< one byte per character up to U+00FF, "?" for anything else
  kUtf16Le,  ///< UTF-16 little endian
};

/// An encoding plus the line end a "\n" turns into. The raw bytes of a name that is not
/// UTF-8 (IsRawByteUnit) are written back as those bytes, so redirected output keeps names
/// byte for byte; a terminal gets U+FFFD ("?" in Latin-1) for them instead.
struct ConsoleEncoding {
  ConsoleCharset charset = ConsoleCharset::kUtf8;
  bool crlf = false;             ///< "\n" is written as "\r\n"
  bool replaceRawBytes = false;  ///< raw name bytes become U+FFFD (a terminal)
};

/// The encoding of an output translation mode (translation::k*): text is the narrow
/// encoding (narrowCharset), unicode UTF-16LE, utf8 UTF-8. Unknown modes count as text.
ConsoleEncoding EncodingForMode(std::uint32_t translationMode, ConsoleCharset narrowCharset,
                                bool crlf);

/// Appends the bytes of text in encoding to out.
void AppendConsoleBytes(std::string& out, WStringView text, const ConsoleEncoding& encoding);

/// The bytes of text in encoding.
std::string EncodeConsoleText(WStringView text, const ConsoleEncoding& encoding);

/// The bytes of text in encoding written into out, as many whole characters as capacity
/// bytes hold; answers the number of bytes. Allocates nothing and takes no lock, so a
/// signal handler may use it.
std::size_t EncodeConsoleBytes(WStringView text, const ConsoleEncoding& encoding, char* out,
                               std::size_t capacity) noexcept;

}  // namespace srctally
