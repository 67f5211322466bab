// The Windows dump path: folders under the user's local application data, the 260-character
// guard, and the failure when the program cannot tell who it is.
#include <windows.h>
// The shell folder declarations need the base declarations above.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <filesystem>
#include <random>
#include <string>

#include "platform/crash_dump.h"
#include "platform/win32/crash_dump_filter.h"

namespace srctally::platform {
namespace {

namespace fs = std::filesystem;

CrashIdentity testIdentity;

bool ProvideTestIdentity(CrashIdentity& identity) {
  identity = testIdentity;
  return true;
}

bool FailToProvideIdentity(CrashIdentity&) {
  ::SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return false;
}

fs::path LocalAppData() {
  wchar_t folder[MAX_PATH];
  EXPECT_EQ(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder),
            S_OK);
  return fs::path(folder);
}

class BuildDumpFileNameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    product_ = u"Source Tally Test " + FromLatin1(std::to_string(std::random_device{}()));
    testIdentity = CrashIdentity{};
    testIdentity.companyName = u"   ";
    testIdentity.productName = product_;
    testIdentity.programFileName = u"srctally.exe";
    testIdentity.hasVersion = true;
    testIdentity.version[0] = 10;
    testIdentity.version[2] = 65535;
    SetCrashIdentityProvider(ProvideTestIdentity);
  }
  void TearDown() override {
    SetCrashIdentityProvider(nullptr);
    std::error_code error;
    fs::remove_all(ProductFolder(), error);
  }
  fs::path ProductFolder() const {
    return LocalAppData() / std::wstring(product_.begin(), product_.end());
  }

  WString product_;
};

TEST_F(BuildDumpFileNameTest, BlankCompanyPutsTheDumpInTheProductFolder) {
  DumpPath path;
  ASSERT_TRUE(BuildDumpFileName(path));
  const fs::path file(reinterpret_cast<const wchar_t*>(path.text));
  EXPECT_EQ(file.parent_path(), ProductFolder());
  EXPECT_TRUE(fs::is_directory(ProductFolder()));
  const std::wstring name = file.filename().wstring();
  EXPECT_EQ(name.rfind(L"srctally.exe_10.0.65535.0_x64_", 0), 0u);
  EXPECT_EQ(name.substr(name.size() - 4), L".dmp");
}

TEST_F(BuildDumpFileNameTest, APathPastTheLimitFailsWithoutCreatingFolders) {
  testIdentity.productName = product_ + WString(200, u'p');
  DumpPath path;
  ::SetLastError(0);
  EXPECT_FALSE(BuildDumpFileName(path));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(path.length, 0u);
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(LocalAppData(), error)) {
    EXPECT_NE(
        entry.path().filename().wstring().rfind(std::wstring(product_.begin(), product_.end()), 0),
        0u);
  }
}

TEST_F(BuildDumpFileNameTest, WithoutIdentityNoPathIsMade) {
  SetCrashIdentityProvider(FailToProvideIdentity);
  DumpPath path;
  EXPECT_FALSE(BuildDumpFileName(path));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  SetCrashIdentityProvider(nullptr);
  EXPECT_FALSE(BuildDumpFileName(path));
  EXPECT_FALSE(fs::exists(ProductFolder()));
}

}  // namespace
}  // namespace srctally::platform
