// Windows: '\\' between folder names, CR LF line ends in every output mode, and narrow text
// in the ANSI code page.
#include <windows.h>

#include "testing/console_platform.h"

namespace srctally::testing {

const char kSep = '\\';
const char kEol[] = "\r\n";

namespace {

std::wstring Wide(UINT codePage, const std::string& bytes) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  const int length = ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), length);
  return wide;
}

std::string Narrow(UINT codePage, const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* fallback = codePage == CP_UTF8 ? nullptr : "?";
  const int length =
      ::WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, fallback, nullptr);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(codePage, flags, wide.data(), size, bytes.data(), length, fallback,
                        nullptr);
  return bytes;
}

}  // namespace

std::string ShownInNarrowText(const std::string& utf8) {
  return NarrowTextToUtf8(Narrow(CP_ACP, Wide(CP_UTF8, utf8)));
}

std::string NarrowTextToUtf8(const std::string& bytes) {
  return Narrow(CP_UTF8, Wide(CP_ACP, bytes));
}

}  // namespace srctally::testing
