// Our lookups agree with the version library's own on the built program's resource.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "platform/version_resource.h"
#include "runtime/version_info.h"

namespace srctally {
namespace {

TEST(VersionQueryTest, MatchesVerQueryValue) {
  const WString path = FromUtf8Lossless(SRCTALLY_EXE);
  std::vector<std::uint8_t> block;
  ASSERT_TRUE(platform::ReadVersionBlock(path, block));
  CVersionInfo info;
  ASSERT_TRUE(info.LoadFromBlock(block));

  for (const char16_t* name : {u"FileDescription", u"LegalCopyright", u"FileVersion"}) {
    const WString subBlock = WString(u"\\StringFileInfo\\040904b0\\") + name;
    void* expected = nullptr;
    UINT expectedLength = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), reinterpret_cast<const wchar_t*>(subBlock.c_str()),
                                 &expected, &expectedLength));
    const char16_t* value = nullptr;
    std::uint32_t length = 0;
    ASSERT_TRUE(info.QueryStringValue(name, value, length));
    EXPECT_EQ(length, expectedLength);
    EXPECT_EQ(WStringView(value, length),
              WStringView(static_cast<const char16_t*>(expected), expectedLength));
  }

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedLength = 0;
  ASSERT_TRUE(
      ::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedLength));
  EXPECT_EQ(info.dwFileVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(info.dwFileVersionLS, fixed->dwFileVersionLS);
  EXPECT_EQ(info.dwFileFlags, fixed->dwFileFlags);
}

}  // namespace
}  // namespace srctally
