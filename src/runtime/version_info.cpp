// Loading and querying a version block; the banner's title line.
#include "runtime/version_info.h"

#include <cstring>
#include <new>

#include "base/format.h"
#include "base/status.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/library.h"
#include "platform/version_resource.h"
#include "platform/wide_space.h"

namespace srctally {
namespace {

// VerQueryValue's answer for a key that is not there.
constexpr std::uint32_t kResourceTypeNotFound = 1813;

std::uint32_t Read32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(bytes[offset]) |
         static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

}  // namespace

bool CVersionInfo::LoadFromFile(WStringView path) {
  Clear();
  std::vector<std::uint8_t> block;
  if (!platform::ReadVersionBlock(path, block)) return false;
  return LoadFromBlock(block);
}

bool CVersionInfo::LoadFromModule() {
  WString path;
  if (!platform::GetModuleFilePath(path)) return false;
  return LoadFromFile(path);
}

bool CVersionInfo::LoadFromBlock(std::span<const std::uint8_t> block) {
  Clear();
  std::vector<char16_t> data;
  try {
    data.resize((block.size() + 1) / 2);
  } catch (const std::bad_alloc&) {
    platform::SetLastErrorCode(win32err::kOutOfMemory);
    return false;
  }
  if (!block.empty()) std::memcpy(data.data(), block.data(), block.size());
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(data.data()),
                                            block.size());

  VersionValue fixed;
  if (!FindVersionValue(bytes, u"\\", fixed) || fixed.bytes < version::kFixedInfoBytes ||
      Read32(bytes, fixed.offset) != version::kSignature) {
    platform::SetLastErrorCode(win32err::kInvalidData);
    return false;
  }
  std::uint32_t* const fields[] = {&dwSignature,     &dwStrucVersion,     &dwFileVersionMS,
                                   &dwFileVersionLS, &dwProductVersionMS, &dwProductVersionLS,
                                   &dwFileFlagsMask, &dwFileFlags,        &dwFileOS,
                                   &dwFileType,      &dwFileSubtype,      &dwFileDateMS,
                                   &dwFileDateLS};
  for (std::size_t i = 0; i < std::size(fields); ++i)
    *fields[i] = Read32(bytes, fixed.offset + 4 * i);

  VersionValue translation;
  if (!FindVersionValue(bytes, u"\\VarFileInfo\\Translation", translation)) {
    platform::SetLastErrorCode(kResourceTypeNotFound);
    return false;
  }
  versionData_ = std::move(data);  // the buffer moves, so pointers into it stay valid
  translations_ = versionData_.data() + translation.offset / 2;
  translationCount_ = static_cast<std::uint32_t>(translation.bytes / 4);
  return true;
}

void CVersionInfo::Clear() {
  static_cast<VsFixedFileInfo&>(*this) = VsFixedFileInfo{};
  versionData_.clear();
  versionData_.shrink_to_fit();
  translations_ = nullptr;
  translationCount_ = 0;
}

std::span<const std::uint8_t> CVersionInfo::Bytes() const {
  return {reinterpret_cast<const std::uint8_t*>(versionData_.data()), versionData_.size() * 2};
}

bool CVersionInfo::QueryStringValue(WStringView name, const char16_t*& value,
                                    std::uint32_t& length) const {
  if (translations_ == nullptr) {
    platform::SetLastErrorCode(win32err::kInvalidData);
    return false;
  }
  if (translationCount_ == 0) {
    platform::SetLastErrorCode(win32err::kNoMoreItems);
    return false;
  }
  const WString path =
      Format(u"\\StringFileInfo\\%04x%04x\\%s", translations_[0], translations_[1], name);
  VersionValue found;
  if (!FindVersionValue(Bytes(), path, found)) {
    platform::SetLastErrorCode(kResourceTypeNotFound);
    return false;
  }
  value = versionData_.data() + found.offset / 2;
  length = found.length;
  return true;
}

bool CVersionInfo::GetStringValue(WStringView name, WString& text) const {
  const char16_t* value = nullptr;
  std::uint32_t length = 0;
  if (!QueryStringValue(name, value, length)) return false;
  // The reported length usually counts the NUL; the text ends at the first NUL either way.
  WStringView raw(value, length);
  raw = raw.substr(0, raw.find(u'\0'));
  text.assign(TrimWideSpace(raw));
  return true;
}

CConsoleVersionInfo::CConsoleVersionInfo() { LoadFromModule(); }

bool CConsoleVersionInfo::GetTitleLine(WString& text) const {
  WString line;
  if (!GetStringValue(u"FileDescription", line)) return false;
  line += u" - ";
  line += Format(u"Version %hu.%hu (build %hu)", MajorVersion(), MinorVersion(), BuildNumber());
  if ((dwFileFlags & version::kFlagPrerelease) != 0) line += u" [BETA]";
  if (platform::IsRunningOnWow64()) line += u", 32-bit.";
  text = std::move(line);
  return true;
}

bool CConsoleVersionInfo::GetLegalNotice(WString& text) const {
  return GetStringValue(u"LegalCopyright", text);
}

}  // namespace srctally
