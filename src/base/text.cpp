// UTF-8 / UTF-16 conversions, lossless for byte strings that are not valid UTF-8.
#include "base/text.h"

#include <cstdint>

namespace srctally {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

std::size_t EncodeCodePoint(char32_t cp, char* out) noexcept {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

}  // namespace

std::size_t EncodeUtf8Char(WStringView text, std::size_t& i, char* out,
                           RawBytes rawBytes) noexcept {
  const char16_t ch = text[i++];
  if (ch < 0xD800 || ch > 0xDFFF) return EncodeCodePoint(ch, out);
  if (ch <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
    const char32_t cp = 0x10000 + ((char32_t(ch) - 0xD800) << 10) + (char32_t(text[i]) - 0xDC00);
    ++i;
    return EncodeCodePoint(cp, out);
  }
  if (IsRawByteUnit(ch) && rawBytes == RawBytes::kKeep) {
    out[0] = static_cast<char>(ch - 0xDC00);
    return 1;
  }
  return EncodeCodePoint(kReplacement, out);
}

void AppendUtf8(std::string& out, WStringView text, RawBytes rawBytes) {
  out.reserve(out.size() + text.size());
  char bytes[kMaxUtf8CharBytes];
  for (std::size_t i = 0; i < text.size();) {
    out.append(bytes, EncodeUtf8Char(text, i, bytes, rawBytes));
  }
}

std::string ToUtf8(WStringView text, RawBytes rawBytes) {
  std::string out;
  AppendUtf8(out, text, rawBytes);
  return out;
}

std::size_t DecodeUtf8At(std::string_view bytes, std::size_t i, char32_t& cp) noexcept {
  const auto lead = static_cast<std::uint8_t>(bytes[i]);
  const std::size_t len = Utf8LeadLength(lead);
  if (len == 1) {
    cp = lead;
    return 1;
  }
  if (len == 0 || len > bytes.size() - i) return 0;
  constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  cp = lead & (0x7F >> len);
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<std::uint8_t>(bytes[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < kSmallest[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

std::size_t DecodeUtf8Lossless(std::string_view bytes, char16_t* out,
                               std::size_t capacity) noexcept {
  std::size_t used = 0;
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t cp = 0;
    std::size_t len = DecodeUtf8At(bytes, i, cp);
    if (len == 0) {
      cp = 0xDC00 + static_cast<std::uint8_t>(bytes[i]);  // keep the raw byte
      len = 1;
    }
    const std::size_t units = cp >= 0x10000 ? 2 : 1;
    if (units > capacity - used) return capacity + 1;
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

WString FromUtf8Lossless(std::string_view bytes) {
  WString out(bytes.size(), u'\0');  // never more units than bytes
  out.resize(DecodeUtf8Lossless(bytes, out.data(), out.size()));
  return out;
}

WString FromLatin1(std::string_view text) {
  WString out(text.size(), u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) out[i] = static_cast<std::uint8_t>(text[i]);
  return out;
}

char16_t AsciiToLower(char16_t ch) {
  return (ch >= u'A' && ch <= u'Z') ? static_cast<char16_t>(ch - u'A' + u'a') : ch;
}

bool EqualsIgnoreAsciiCase(WStringView a, WStringView b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiToLower(a[i]) != AsciiToLower(b[i])) return false;
  }
  return true;
}

void AppendPrintableName(WString& out, WStringView name) {
  const std::size_t start = out.size();
  out.append(name);
  for (std::size_t i = start; i < out.size(); ++i) {
    if (IsControlChar(out[i])) out[i] = u'?';
  }
}

WString PrintableName(WStringView name) {
  WString out;
  AppendPrintableName(out, name);
  return out;
}

}  // namespace srctally
