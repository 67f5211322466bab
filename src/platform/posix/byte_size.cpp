// Byte-size text on POSIX: the program's own rendering of the shell style.
#include "platform/byte_size.h"

#include "base/byte_size_text.h"

namespace srctally::platform {

void FormatByteSizeText(std::int64_t value, char16_t (&text)[20]) {
  FormatShortByteSize(value, text);
}

}  // namespace srctally::platform
