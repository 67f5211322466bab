// The binary layout of a program's version block: nested nodes of
//   wLength, wValueLength, wType, key (UTF-16, NUL, padded to 4 bytes), value, children,
// all little-endian and 4-byte aligned from the start of the block. The root value is the
// fixed file information; "StringFileInfo" holds string tables named after a translation
// ("040904b0"), "VarFileInfo\Translation" the list of translations.
// The writer is constexpr so that the build can embed a block computed at compile time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace srctally {

/// The fixed part of a version block: 13 little-endian 32-bit fields.
struct VsFixedFileInfo {
  std::uint32_t dwSignature = 0;
  std::uint32_t dwStrucVersion = 0;
  std::uint32_t dwFileVersionMS = 0;
  std::uint32_t dwFileVersionLS = 0;
  std::uint32_t dwProductVersionMS = 0;
  std::uint32_t dwProductVersionLS = 0;
  std::uint32_t dwFileFlagsMask = 0;
  std::uint32_t dwFileFlags = 0;
  std::uint32_t dwFileOS = 0;
  std::uint32_t dwFileType = 0;
  std::uint32_t dwFileSubtype = 0;
  std::uint32_t dwFileDateMS = 0;
  std::uint32_t dwFileDateLS = 0;
};

namespace version {
inline constexpr std::uint32_t kSignature = 0xFEEF04BD;
inline constexpr std::uint32_t kStrucVersion = 0x00010000;
inline constexpr std::size_t kFixedInfoBytes = 13 * 4;
inline constexpr std::uint32_t kFlagPrerelease = 0x00000002;
inline constexpr std::uint32_t kFlagsMask = 0x0000003F;
inline constexpr std::uint32_t kOsNtWindows32 = 0x00040004;
inline constexpr std::uint32_t kTypeApplication = 0x00000001;
inline constexpr std::uint16_t kTypeBinary = 0;  // wValueLength counts bytes
inline constexpr std::uint16_t kTypeText = 1;    // wValueLength counts UTF-16 units
}  // namespace version

/// Packs four 16-bit version parts into the MS/LS pair of the fixed part.
constexpr std::uint32_t VersionHigh(std::uint16_t a, std::uint16_t b) {
  return (std::uint32_t{a} << 16) | b;
}

/// One translation entry: language identifier and code page.
struct VersionTranslation {
  std::uint16_t language = 0;
  std::uint16_t codePage = 0;
};

/// One named string value.
struct VersionString {
  std::u16string_view name;
  std::u16string_view value;
};

/// Builds a version block node by node. Nodes nest: BeginNode, its value, its children,
/// EndNode. Every node starts 4-byte aligned; wLength excludes the trailing padding.
class VersionBlockWriter {
 public:
  /// Starts a node and returns its offset, which Value*/EndNode take.
  constexpr std::size_t BeginNode(std::u16string_view key, std::uint16_t type) {
    Pad();
    const std::size_t node = bytes_.size();
    Put16(0);
    Put16(0);
    Put16(type);
    for (const char16_t ch : key) Put16(ch);
    Put16(0);
    Pad();
    return node;
  }

  /// A binary value: wValueLength is its size in bytes.
  constexpr void BinaryValue(std::size_t node, std::span<const std::uint8_t> value) {
    Set16(node + 2, value.size());
    for (const std::uint8_t byte : value) bytes_.push_back(byte);
  }

  /// A text value with its terminating NUL: wValueLength counts the NUL too.
  constexpr void TextValue(std::size_t node, std::u16string_view text) {
    Set16(node + 2, text.size() + 1);
    for (const char16_t ch : text) Put16(ch);
    Put16(0);
  }

  constexpr void FixedValue(std::size_t node, const VsFixedFileInfo& info) {
    Set16(node + 2, version::kFixedInfoBytes);
    for (const std::uint32_t field :
         {info.dwSignature, info.dwStrucVersion, info.dwFileVersionMS, info.dwFileVersionLS,
          info.dwProductVersionMS, info.dwProductVersionLS, info.dwFileFlagsMask, info.dwFileFlags,
          info.dwFileOS, info.dwFileType, info.dwFileSubtype, info.dwFileDateMS,
          info.dwFileDateLS}) {
      Put16(static_cast<std::uint16_t>(field & 0xFFFF));
      Put16(static_cast<std::uint16_t>(field >> 16));
    }
  }

  constexpr void TranslationValue(std::size_t node, std::span<const VersionTranslation> list) {
    Set16(node + 2, list.size() * 4);
    for (const VersionTranslation& entry : list) {
      Put16(entry.language);
      Put16(entry.codePage);
    }
  }

  constexpr void EndNode(std::size_t node) { Set16(node, bytes_.size() - node); }

  constexpr std::vector<std::uint8_t> Take() { return std::move(bytes_); }

 private:
  constexpr void Put16(std::uint16_t value) {
    bytes_.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
  }
  constexpr void Set16(std::size_t offset, std::size_t value) {
    bytes_[offset] = static_cast<std::uint8_t>(value & 0xFF);
    bytes_[offset + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
  }
  constexpr void Pad() {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
  }

  std::vector<std::uint8_t> bytes_;
};

/// What a standard version block holds: the fixed part, one string table and the
/// translation list (which may be empty: a "Translation" value of length 0).
struct VersionBlockContents {
  VsFixedFileInfo fixed;
  std::u16string_view stringTable = u"040904b0";
  std::span<const VersionString> strings;
  std::span<const VersionTranslation> translations;
};

/// Lays out the standard block: VS_VERSION_INFO { StringFileInfo { table { strings } },
/// VarFileInfo { Translation } }.
constexpr std::vector<std::uint8_t> BuildVersionBlock(const VersionBlockContents& contents) {
  VersionBlockWriter writer;
  const std::size_t root = writer.BeginNode(u"VS_VERSION_INFO", version::kTypeBinary);
  writer.FixedValue(root, contents.fixed);
  const std::size_t stringInfo = writer.BeginNode(u"StringFileInfo", version::kTypeText);
  const std::size_t table = writer.BeginNode(contents.stringTable, version::kTypeText);
  for (const VersionString& entry : contents.strings) {
    const std::size_t node = writer.BeginNode(entry.name, version::kTypeText);
    writer.TextValue(node, entry.value);
    writer.EndNode(node);
  }
  writer.EndNode(table);
  writer.EndNode(stringInfo);
  const std::size_t varInfo = writer.BeginNode(u"VarFileInfo", version::kTypeText);
  const std::size_t translation = writer.BeginNode(u"Translation", version::kTypeBinary);
  writer.TranslationValue(translation, contents.translations);
  writer.EndNode(translation);
  writer.EndNode(varInfo);
  writer.EndNode(root);
  return writer.Take();
}

/// A value found in a version block.
struct VersionValue {
  std::size_t offset = 0;    ///< byte offset of the value in the block (even)
  std::size_t bytes = 0;     ///< its size in bytes, cut to what the node holds
  std::uint32_t length = 0;  ///< its length as the block reports it: UTF-16 units for a
                             ///< text value, bytes for a binary one
};

/// Looks up a value by its path of keys separated by backslashes, compared ignoring ASCII
/// case: "\\" is the root value (the fixed part), "\\VarFileInfo\\Translation", or
/// "\\StringFileInfo\\040904b0\\ProductName". False when a key is missing or the block is
/// malformed (lengths beyond the block or the enclosing node, a key without its NUL).
bool FindVersionValue(std::span<const std::uint8_t> block, WStringView path, VersionValue& value);

}  // namespace srctally
