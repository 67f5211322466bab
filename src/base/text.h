// UTF-16 string types and the conversions used at the program's edges.
#pragma once

#include <string>
#include <string_view>

namespace srctally {

/// Every text inside the program is UTF-16, whatever the platform.
using WString = std::u16string;
using WStringView = std::u16string_view;

// The program's one UTF-8 encoder and decoder. The functions that take or fill caller
// buffers allocate nothing and call nothing outside this file, so the crash path may use
// them; the string-returning ones are built on them.

/// Whether ch is a lone surrogate U+DC80..U+DCFF standing for a raw byte 0x80..0xFF of a
/// name that is not UTF-8 (see FromUtf8Lossless).
constexpr bool IsRawByteUnit(char16_t ch) { return ch >= 0xDC80 && ch <= 0xDCFF; }

/// How a raw-byte unit (IsRawByteUnit) is encoded.
enum class RawBytes : unsigned char {
  kKeep,     ///< written back as the byte itself, so a name's bytes come out unchanged
  kReplace,  ///< written as U+FFFD, for a terminal, which must get valid text
};

/// Most bytes EncodeUtf8Char writes for one character.
inline constexpr std::size_t kMaxUtf8CharBytes = 4;

/// Encodes the character at text[i] (i < text.size(); a surrogate pair is one character)
/// into out, which has room for kMaxUtf8CharBytes, advances i past it and answers the
/// number of bytes written. A raw-byte unit is written as rawBytes says; any other lone
/// surrogate becomes U+FFFD.
std::size_t EncodeUtf8Char(WStringView text, std::size_t& i, char* out,
                           RawBytes rawBytes = RawBytes::kKeep) noexcept;

/// Encodes UTF-16 as UTF-8; raw-byte units go back to their bytes unless rawBytes says
/// otherwise.
std::string ToUtf8(WStringView text, RawBytes rawBytes = RawBytes::kKeep);
/// ToUtf8(text, rawBytes) appended to out.
void AppendUtf8(std::string& out, WStringView text, RawBytes rawBytes = RawBytes::kKeep);

/// The length of the UTF-8 sequence that the byte lead starts: 1 for ASCII, 2 to 4 for the
/// lead bytes C2..F4, 0 for a byte that starts none (a continuation byte, C0, C1, F5..FF).
constexpr std::size_t Utf8LeadLength(unsigned char lead) {
  return lead < 0x80                    ? 1
         : lead >= 0xC2 && lead <= 0xDF ? 2
         : lead >= 0xE0 && lead <= 0xEF ? 3
         : lead >= 0xF0 && lead <= 0xF4 ? 4
                                        : 0;
}

/// Length of the valid UTF-8 sequence at bytes[i] (i < bytes.size()) and its code point in
/// cp, or 0 when the bytes there form none: truncated sequences, bad continuation bytes,
/// overlong forms, surrogates and values above U+10FFFF are not valid.
std::size_t DecodeUtf8At(std::string_view bytes, std::size_t i, char32_t& cp) noexcept;

/// Decodes UTF-8 without losing anything into out: each byte that is not part of a valid
/// sequence becomes the raw-byte unit U+DC00 + byte, so ToUtf8 restores the bytes exactly.
/// Answers the units written, or capacity + 1 when they do not fit. Never more units than
/// bytes.
std::size_t DecodeUtf8Lossless(std::string_view bytes, char16_t* out,
                               std::size_t capacity) noexcept;

/// DecodeUtf8Lossless into a string. Used for file names and arguments, which on POSIX are
/// arbitrary bytes.
WString FromUtf8Lossless(std::string_view bytes);

/// Widens 7-bit ASCII text (literals, numbers); bytes above 0x7F are taken as Latin-1.
WString FromLatin1(std::string_view text);

/// Lower-cases the ASCII letters A to Z only.
char16_t AsciiToLower(char16_t ch);

/// Compares the first n characters of two texts ignoring the case of A to Z only.
bool EqualsIgnoreAsciiCase(WStringView a, WStringView b);

/// Whether ch is a control character: U+0000..U+001F (C0), U+007F (DEL) and U+0080..U+009F
/// (C1). Printed, such a character could move the cursor, start an escape sequence or end a
/// line of the report early.
constexpr bool IsControlChar(char16_t ch) { return ch < 0x20 || (ch >= 0x7F && ch <= 0x9F); }

/// Appends name (a file or folder name, a path) with each control character shown as '?',
/// so that a name can neither drive a terminal nor forge lines of the report.
void AppendPrintableName(WString& out, WStringView name);

/// name with each control character shown as '?'.
WString PrintableName(WStringView name);

}  // namespace srctally
