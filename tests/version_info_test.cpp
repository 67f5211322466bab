// Version blocks: layout lookups, the loaded object's queries, the banner's title line, and
// the version data the built program carries.
#include "runtime/version_info.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "base/format.h"
#include "base/status.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/library.h"
#include "testing/temp_dir.h"

namespace srctally {
namespace {

constexpr VersionTranslation kUsEnglish[] = {{0x0409, 0x04B0}};

VsFixedFileInfo Fixed(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d) {
  VsFixedFileInfo fixed;
  fixed.dwSignature = version::kSignature;
  fixed.dwStrucVersion = version::kStrucVersion;
  fixed.dwFileVersionMS = VersionHigh(a, b);
  fixed.dwFileVersionLS = VersionHigh(c, d);
  fixed.dwFileFlagsMask = version::kFlagsMask;
  return fixed;
}

std::vector<std::uint8_t> Block(const VsFixedFileInfo& fixed,
                                std::span<const VersionString> strings,
                                std::span<const VersionTranslation> translations = kUsEnglish) {
  VersionBlockContents contents;
  contents.fixed = fixed;
  contents.strings = strings;
  contents.translations = translations;
  return BuildVersionBlock(contents);
}

// A CConsoleVersionInfo holding a block built here (the test binary has no version data).
struct LoadedConsoleInfo : CConsoleVersionInfo {
  explicit LoadedConsoleInfo(std::span<const std::uint8_t> block) {
    EXPECT_TRUE(LoadFromBlock(block));
  }
};

std::u16string Suffix32Bit() { return platform::IsRunningOnWow64() ? u", 32-bit." : u""; }

TEST(VersionInfoTest, TitleLineFromDescriptionVersionAndFlags) {
  struct Row {
    const char16_t* description;
    VsFixedFileInfo fixed;
    std::uint32_t flagsMask;
    std::uint32_t flags;
    const char16_t* expected;
  };
  const Row rows[] = {
      {u"Source Tally", Fixed(1, 2, 3, 4), version::kFlagsMask, 0,
       u"Source Tally - Version 1.2 (build 3)"},
      {u"  Source Tally \t", Fixed(1, 2, 3, 4), version::kFlagsMask, 0,
       u"Source Tally - Version 1.2 (build 3)"},
      {u"Source Tally", Fixed(10, 0, 65535, 1), version::kFlagsMask, 0,
       u"Source Tally - Version 10.0 (build 65535)"},
      {u"Source Tally", Fixed(1, 2, 3, 4), 0, version::kFlagPrerelease,
       u"Source Tally - Version 1.2 (build 3) [BETA]"},
  };
  for (const Row& row : rows) {
    VsFixedFileInfo fixed = row.fixed;
    fixed.dwFileFlagsMask = row.flagsMask;
    fixed.dwFileFlags = row.flags;
    const VersionString strings[] = {{u"FileDescription", row.description}};
    LoadedConsoleInfo info(Block(fixed, strings));
    WString line = u"unchanged";
    ASSERT_TRUE(info.GetTitleLine(line));
    EXPECT_EQ(line, row.expected + Suffix32Bit());
  }
}

TEST(VersionInfoTest, LoadsFixedPartAndStringValues) {
  const VersionString strings[] = {
      {u"CompanyName", u"Acme"}, {u"LegalCopyright", u" (C) Acme\n"}, {u"Comments", u""}};
  CVersionInfo info;
  ASSERT_TRUE(info.LoadFromBlock(Block(Fixed(10, 0, 65535, 1), strings)));
  EXPECT_EQ(info.dwSignature, version::kSignature);
  EXPECT_EQ(info.dwFileVersionMS, 0x000A0000u);
  EXPECT_EQ(info.dwFileVersionLS, 0xFFFF0001u);
  EXPECT_EQ(info.translationCount(), 1u);
  EXPECT_EQ(info.translations()[0], 0x0409);
  EXPECT_EQ(info.translations()[1], 0x04B0);

  const char16_t* value = nullptr;
  std::uint32_t length = 0;
  ASSERT_TRUE(info.QueryStringValue(u"companyname", value, length));  // keys ignore case
  EXPECT_EQ(WStringView(value, length), WStringView(u"Acme", 5));     // NUL counted
  WString text;
  ASSERT_TRUE(info.GetStringValue(u"Comments", text));
  EXPECT_EQ(text, u"");
  ASSERT_TRUE(info.GetStringValue(u"LegalCopyright", text));
  EXPECT_EQ(text, u"(C) Acme");

  text = u"kept";
  EXPECT_FALSE(info.GetStringValue(u"ProductName", text));
  EXPECT_EQ(text, u"kept");

  info.Clear();
  EXPECT_EQ(info.dwSignature, 0u);
  EXPECT_FALSE(info.IsLoaded());
  EXPECT_FALSE(info.QueryStringValue(u"CompanyName", value, length));
  EXPECT_EQ(platform::GetLastErrorCode(), win32err::kInvalidData);
}

TEST(VersionInfoTest, FailuresAndTheirLastErrors) {
  const VersionString strings[] = {{u"FileDescription", u"Source Tally"}};
  const char16_t* value = nullptr;
  std::uint32_t length = 0;

  // An empty translation list loads, but no string can be looked up.
  CVersionInfo empty;
  ASSERT_TRUE(empty.LoadFromBlock(Block(Fixed(1, 0, 0, 0), strings, {})));
  EXPECT_EQ(empty.translationCount(), 0u);
  EXPECT_FALSE(empty.QueryStringValue(u"FileDescription", value, length));
  EXPECT_EQ(platform::GetLastErrorCode(), win32err::kNoMoreItems);

  // A wrong signature is invalid data.
  VsFixedFileInfo unsigned_ = Fixed(1, 0, 0, 0);
  unsigned_.dwSignature = 0xFEEF04BC;
  CVersionInfo wrong;
  EXPECT_FALSE(wrong.LoadFromBlock(Block(unsigned_, strings)));
  EXPECT_EQ(platform::GetLastErrorCode(), win32err::kInvalidData);
  EXPECT_FALSE(wrong.IsLoaded());

  // Without VarFileInfo the fixed fields are read, but nothing is kept.
  VersionBlockWriter writer;
  const std::size_t root = writer.BeginNode(u"VS_VERSION_INFO", version::kTypeBinary);
  writer.FixedValue(root, Fixed(3, 1, 0, 0));
  writer.EndNode(root);
  CVersionInfo bare;
  EXPECT_FALSE(bare.LoadFromBlock(writer.Take()));
  EXPECT_EQ(bare.dwFileVersionMS, 0x00030001u);
  EXPECT_FALSE(bare.IsLoaded());
  EXPECT_FALSE(bare.QueryStringValue(u"FileDescription", value, length));
  EXPECT_EQ(platform::GetLastErrorCode(), win32err::kInvalidData);
}

TEST(VersionInfoTest, TruncatedOrDamagedBlocksNeverReadOutside) {
  const VersionString strings[] = {{u"FileDescription", u"Source Tally"}};
  const std::vector<std::uint8_t> whole = Block(Fixed(1, 0, 0, 0), strings);
  for (std::size_t size = 0; size < whole.size(); ++size) {
    CVersionInfo info;
    WString text;
    // A cut block may still load (the outer lengths are checked against the block); it
    // just must not read past it.
    if (info.LoadFromBlock(std::span(whole).first(size)))
      info.GetStringValue(u"FileDescription", text);
  }
  for (std::size_t at = 0; at < whole.size(); ++at) {
    std::vector<std::uint8_t> damaged = whole;
    damaged[at] = 0xFF;
    CVersionInfo info;
    WString text;
    if (info.LoadFromBlock(damaged)) info.GetStringValue(u"FileDescription", text);
  }
}

TEST(VersionInfoTest, FilesWithoutVersionData) {
  testing::TempDir dir;
  const WString missing = FromUtf8Lossless((dir.path() / "missing.exe").string());
  CVersionInfo info;
  EXPECT_FALSE(info.LoadFromFile(missing));
  EXPECT_NE(platform::GetLastErrorCode(), 0u);

  const WString text = FromUtf8Lossless(dir.Write("notes.txt", "not a program").string());
  EXPECT_FALSE(info.LoadFromFile(text));
  EXPECT_FALSE(info.IsLoaded());

  // The test binary itself carries no version data: the banner would lose exactly the
  // title and legal lines.
  CConsoleVersionInfo own;
  EXPECT_FALSE(own.IsLoaded());
  WString line = u"unchanged";
  EXPECT_FALSE(own.GetTitleLine(line));
  EXPECT_EQ(platform::GetLastErrorCode(), win32err::kInvalidData);
  EXPECT_FALSE(own.GetLegalNotice(line));
  EXPECT_EQ(line, u"unchanged");
}

TEST(VersionInfoTest, BuiltProgramCarriesVersionData) {
  CVersionInfo info;
  ASSERT_TRUE(info.LoadFromFile(FromUtf8Lossless(SRCTALLY_EXE))) << platform::GetLastErrorCode();
  WString text;
  ASSERT_TRUE(info.GetStringValue(u"FileDescription", text));
  EXPECT_EQ(text, u"Source Tally");
  ASSERT_TRUE(info.GetStringValue(u"ProductName", text));
  EXPECT_EQ(text, u"Source Tally");
  ASSERT_TRUE(info.GetStringValue(u"LegalCopyright", text));
  EXPECT_FALSE(text.empty());
  ASSERT_TRUE(info.GetStringValue(u"CompanyName", text));
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(info.MajorVersion(), 1);
  EXPECT_EQ(info.MinorVersion(), 0);
  ASSERT_TRUE(info.GetStringValue(u"FileVersion", text));
  EXPECT_EQ(text, Format(u"1.0.%hu.%hu", info.BuildNumber(), info.RevisionNumber()));
}

}  // namespace
}  // namespace srctally
