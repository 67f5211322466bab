// The version block reader on arbitrary bytes: LoadFromBlock, then the queries the banner
// makes, and FindVersionValue on a path taken from the input. Values found must lie inside
// the block.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "runtime/version_block.h"
#include "runtime/version_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace srctally;
  if (size < 1) return 0;
  // First byte: length in UTF-16 units of a lookup path that follows; then the block.
  const std::size_t pathUnits = std::min<std::size_t>(data[0] % 32, (size - 1) / 2);
  WString path(pathUnits, u'\0');
  if (pathUnits != 0) std::memcpy(path.data(), data + 1, pathUnits * 2);
  const std::span<const std::uint8_t> block(data + 1 + pathUnits * 2, size - 1 - pathUnits * 2);

  for (const WStringView lookup :
       {WStringView(path), WStringView(u"\\"), WStringView(u"\\VarFileInfo\\Translation"),
        WStringView(u"\\StringFileInfo\\040904b0\\ProductName")}) {
    VersionValue value;
    if (FindVersionValue(block, lookup, value)) {
      if (value.offset > block.size() || value.bytes > block.size() - value.offset) std::abort();
    }
  }

  CVersionInfo info;
  if (info.LoadFromBlock(block)) {
    WString text;
    for (const WStringView name :
         {WStringView(u"FileDescription"), WStringView(u"LegalCopyright"), WStringView(path)}) {
      (void)info.GetStringValue(name, text);
    }
    const char16_t* translations = info.translations();
    volatile char16_t sum = 0;
    for (std::uint32_t i = 0; translations != nullptr && i < info.translationCount() * 2; ++i)
      sum = sum + translations[i];
  }
  return 0;
}
