// The program's own version information: the fixed part and string values of the version
// block of a program file, and the banner's title line made from them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/text.h"
#include "runtime/version_block.h"

namespace srctally {

/// Reads a version block and answers queries for its fixed part (the inherited fields)
/// and its string values under the first translation. Failures return false and leave the
/// reason in the last error: the platform's own codes, or 13 (invalid data), 14 (out of
/// memory), 259 (no more items) as documented per operation.
class CVersionInfo : public VsFixedFileInfo {
 public:
  CVersionInfo() = default;
  virtual ~CVersionInfo() = default;
  CVersionInfo(const CVersionInfo&) = delete;
  CVersionInfo& operator=(const CVersionInfo&) = delete;

  /// Loads the version block of the program file at path. Starts by clearing; on failure
  /// the object keeps no data (the fixed fields stay filled in only when the block lacked
  /// its translation list).
  bool LoadFromFile(WStringView path);
  /// LoadFromFile on the running program's own file; false without loading when the
  /// platform cannot name that file.
  bool LoadFromModule();
  /// Loads a block already in memory (copied): checks the fixed part's signature (13 when
  /// wrong or short), copies its fields, finds the translation list.
  bool LoadFromBlock(std::span<const std::uint8_t> block);
  /// Zeroes the fixed fields and drops the data and the translations.
  void Clear();

  /// Finds the string value name under the first translation. value points into the
  /// loaded data (valid while loaded); length is the value's length in UTF-16 units as the
  /// block reports it (usually counting a NUL). 13 when nothing is loaded, 259 when the
  /// translation list is empty.
  bool QueryStringValue(WStringView name, const char16_t*& value, std::uint32_t& length) const;
  /// The string value up to its NUL, white space trimmed at both ends. On failure text is
  /// left as it was.
  bool GetStringValue(WStringView name, WString& text) const;

  bool IsLoaded() const { return !versionData_.empty(); }
  /// Translation entries as pairs of 16-bit units (language, code page); null when none.
  const char16_t* translations() const { return translations_; }
  std::uint32_t translationCount() const { return translationCount_; }

  std::uint16_t MajorVersion() const { return static_cast<std::uint16_t>(dwFileVersionMS >> 16); }
  std::uint16_t MinorVersion() const { return static_cast<std::uint16_t>(dwFileVersionMS); }
  std::uint16_t BuildNumber() const { return static_cast<std::uint16_t>(dwFileVersionLS >> 16); }
  std::uint16_t RevisionNumber() const { return static_cast<std::uint16_t>(dwFileVersionLS); }

 private:
  std::span<const std::uint8_t> Bytes() const;

  std::vector<char16_t> versionData_;  // 16-bit storage keeps text values aligned
  const char16_t* translations_ = nullptr;
  std::uint32_t translationCount_ = 0;
};

/// The banner's view of the program's own version information, loaded on construction.
class CConsoleVersionInfo : public CVersionInfo {
 public:
  /// Loads the running program's own file; a failure shows in the later queries.
  CConsoleVersionInfo();

  /// "<FileDescription> - Version <major>.<minor> (build <build>)", then " [BETA]" when the
  /// pre-release flag is set (whatever the flags mask says) and ", 32-bit." for a 32-bit
  /// process on a 64-bit system. False, text untouched, without a FileDescription.
  bool GetTitleLine(WString& text) const;
  /// The trimmed "LegalCopyright" value.
  bool GetLegalNotice(WString& text) const;
};

}  // namespace srctally
