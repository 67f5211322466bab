// The program's version block, computed at compile time and placed in a section of its
// own, ".srctally_version", where the POSIX reader finds it in the program file. Linked
// into the program only, so other binaries (the tests) carry no version data.
#include <array>
#include <cstdint>

#include "app/product_info.h"
#include "runtime/version_block.h"
#include "version_numbers.h"

namespace srctally {
namespace {

#define SRCTALLY_WIDE2(text) u##text
#define SRCTALLY_WIDE(text) SRCTALLY_WIDE2(text)

constexpr VersionString kStrings[] = {
    {u"CompanyName", SRCTALLY_WIDE(SRCTALLY_COMPANY_NAME)},
    {u"FileDescription", SRCTALLY_WIDE(SRCTALLY_PRODUCT_NAME)},
    {u"FileVersion", SRCTALLY_WIDE(SRCTALLY_VERSION_TEXT)},
    {u"InternalName", SRCTALLY_WIDE(SRCTALLY_INTERNAL_NAME)},
    {u"LegalCopyright", SRCTALLY_WIDE(SRCTALLY_LEGAL_COPYRIGHT)},
    {u"OriginalFilename", SRCTALLY_WIDE(SRCTALLY_ORIGINAL_FILENAME)},
    {u"ProductName", SRCTALLY_WIDE(SRCTALLY_PRODUCT_NAME)},
    {u"ProductVersion", SRCTALLY_WIDE(SRCTALLY_VERSION_TEXT)},
};
constexpr VersionTranslation kTranslations[] = {{0x0409, 1200}};

constexpr VersionBlockContents Contents() {
  VersionBlockContents contents;
  contents.fixed.dwSignature = version::kSignature;
  contents.fixed.dwStrucVersion = version::kStrucVersion;
  contents.fixed.dwFileVersionMS = VersionHigh(SRCTALLY_VERSION_MAJOR, SRCTALLY_VERSION_MINOR);
  contents.fixed.dwFileVersionLS = VersionHigh(SRCTALLY_VERSION_BUILD, SRCTALLY_VERSION_REVISION);
  contents.fixed.dwProductVersionMS = contents.fixed.dwFileVersionMS;
  contents.fixed.dwProductVersionLS = contents.fixed.dwFileVersionLS;
  contents.fixed.dwFileFlagsMask = version::kFlagsMask;
  contents.fixed.dwFileFlags = SRCTALLY_PRERELEASE ? version::kFlagPrerelease : 0;
  contents.fixed.dwFileOS = version::kOsNtWindows32;
  contents.fixed.dwFileType = version::kTypeApplication;
  contents.strings = kStrings;
  contents.translations = kTranslations;
  return contents;
}

constexpr std::size_t kBlockBytes = BuildVersionBlock(Contents()).size();

constexpr std::array<std::uint8_t, kBlockBytes> MakeBlock() {
  const std::vector<std::uint8_t> bytes = BuildVersionBlock(Contents());
  std::array<std::uint8_t, kBlockBytes> block{};
  for (std::size_t i = 0; i < kBlockBytes; ++i) block[i] = bytes[i];
  return block;
}

// Kept although nothing refers to it: the reader opens the file, not the loaded image.
[[gnu::section(".srctally_version"), gnu::used,
  gnu::aligned(4)]] constexpr std::array<std::uint8_t, kBlockBytes>
    kVersionSection = MakeBlock();

}  // namespace
}  // namespace srctally
