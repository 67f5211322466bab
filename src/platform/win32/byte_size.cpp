// Byte-size text on Windows: the shell's own formatter.
#include "platform/byte_size.h"

#include <shlwapi.h>
#include <windows.h>

namespace srctally::platform {

void FormatByteSizeText(std::int64_t value, char16_t (&text)[20]) {
  text[0] = u'\0';
  ::StrFormatByteSizeW(value, reinterpret_cast<wchar_t*>(text), 20);
  text[19] = u'\0';
}

}  // namespace srctally::platform
