// UTF-8 / UTF-16 conversions, lossless for byte strings that are not valid UTF-8.
#include "base/text.h"

#include <cstdint>

namespace srctally {
namespace {

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::size_t DecodeUtf8At(std::string_view bytes, std::size_t i, char32_t& cp) {
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

std::string ToUtf8(WStringView text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t ch = text[i];
    if (ch >= 0xD800 && ch <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((char32_t(ch) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
      ++i;
    } else if (ch >= 0xDC80 && ch <= 0xDCFF) {
      out += static_cast<char>(ch - 0xDC00);
    } else if (ch >= 0xD800 && ch <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, ch);
    }
  }
  return out;
}

WString FromUtf8Lossless(std::string_view bytes) {
  WString out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t cp = 0;
    const std::size_t len = DecodeUtf8At(bytes, i, cp);
    if (len == 0) {
      out += static_cast<char16_t>(0xDC00 + static_cast<std::uint8_t>(bytes[i]));
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += len;
  }
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

char16_t FoldNameCase(char16_t ch) {
  if (ch < 0x80) return AsciiToLower(ch);
  // Latin-1 capitals, except the multiplication sign.
  if (ch >= 0xC0 && ch <= 0xDE && ch != 0xD7) return static_cast<char16_t>(ch + 0x20);
  if (ch >= 0x100 && ch <= 0x17F) {
    // Latin Extended-A pairs capitals and small letters: even-odd below U+0138 and from
    // U+014A, odd-even between; U+0130, U+0131 and U+0138 have no partner in this scheme.
    if (ch == 0x178) return 0xFF;
    if (ch == 0x130 || ch == 0x131 || ch == 0x138 || ch == 0x149 || ch == 0x17F) return ch;
    const bool evenCapitals = ch < 0x138 || (ch >= 0x14A && ch < 0x178);
    return ((ch % 2 == 0) == evenCapitals) ? static_cast<char16_t>(ch + 1) : ch;
  }
  if (ch >= 0x391 && ch <= 0x3AB && ch != 0x3A2) return static_cast<char16_t>(ch + 0x20);
  if (ch >= 0x410 && ch <= 0x42F) return static_cast<char16_t>(ch + 0x20);
  if (ch >= 0x400 && ch <= 0x40F) return static_cast<char16_t>(ch + 0x50);
  return ch;
}

char16_t UpperNameCase(char16_t ch) {
  if (ch < 0x80) return (ch >= u'a' && ch <= u'z') ? static_cast<char16_t>(ch - 0x20) : ch;
  if (ch >= 0xE0 && ch <= 0xFE && ch != 0xF7) return static_cast<char16_t>(ch - 0x20);
  if (ch == 0xFF) return 0x178;
  if (ch >= 0x100 && ch <= 0x17F) {
    if (ch == 0x130 || ch == 0x131 || ch == 0x138 || ch == 0x149 || ch == 0x17F) return ch;
    const bool evenCapitals = ch < 0x138 || (ch >= 0x14A && ch < 0x178);
    return ((ch % 2 == 0) == evenCapitals) ? ch : static_cast<char16_t>(ch - 1);
  }
  if (ch >= 0x3B1 && ch <= 0x3CB && ch != 0x3C2) return static_cast<char16_t>(ch - 0x20);
  if (ch >= 0x430 && ch <= 0x44F) return static_cast<char16_t>(ch - 0x20);
  if (ch >= 0x450 && ch <= 0x45F) return static_cast<char16_t>(ch - 0x50);
  return ch;
}

bool EqualsIgnoreAsciiCase(WStringView a, WStringView b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiToLower(a[i]) != AsciiToLower(b[i])) return false;
  }
  return true;
}

WStringView TrimWideSpace(WStringView text) {
  std::size_t end = text.size();
  while (end > 0 && IsWideSpace(text[end - 1])) --end;
  std::size_t begin = 0;
  while (begin < end && IsWideSpace(text[begin])) ++begin;
  return text.substr(begin, end - begin);
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
