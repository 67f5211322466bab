// A path longer than MAX_PATH given on the command line: made full, checked and counted
// through its extended-length form, as the walk lists and opens long paths.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/full_path.h"
#include "testing/process_runner.h"
#include "testing/temp_dir.h"

namespace srctally {
namespace {

const wchar_t* Wide(const WString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// A chain of folders below root whose file path is far beyond MAX_PATH, made and removed
// through "\\?\" paths (the C runtime's own calls stop at MAX_PATH).
class LongTree {
 public:
  explicit LongTree(const WString& root) {
    WString folder = root;
    for (int level = 0; level < 6; ++level) {
      folder += u"\\" + WString(48, static_cast<char16_t>(u'a' + level));
      folders_.push_back(folder);
      EXPECT_TRUE(::CreateDirectoryW(Wide(u"\\\\?\\" + folder), nullptr)) << ::GetLastError();
    }
    file_ = folder + u"\\long.c";
    const HANDLE handle = ::CreateFileW(Wide(u"\\\\?\\" + file_), GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE) << ::GetLastError();
    const char text[] = "int a;\n// c\n";
    DWORD written = 0;
    ::WriteFile(handle, text, sizeof(text) - 1, &written, nullptr);
    ::CloseHandle(handle);
  }
  ~LongTree() {
    ::DeleteFileW(Wide(u"\\\\?\\" + file_));
    for (auto folder = folders_.rbegin(); folder != folders_.rend(); ++folder) {
      ::RemoveDirectoryW(Wide(u"\\\\?\\" + *folder));
    }
  }
  LongTree(const LongTree&) = delete;
  LongTree& operator=(const LongTree&) = delete;

  const WString& file() const { return file_; }
  const WString& folder() const { return folders_.back(); }

 private:
  std::vector<WString> folders_;
  WString file_;
};

WString Root(const testing::TempDir& dir) {
  const std::wstring text = dir.path().wstring();
  return WString(text.begin(), text.end());
}

TEST(LongCommandLinePathTest, FullPathExistenceAndFolderTest) {
  testing::TempDir dir;
  const LongTree tree(Root(dir));
  ASSERT_GT(tree.file().size(), 313u);

  WString full;
  ASSERT_TRUE(platform::MakeFullPath(tree.file(), full, 32772));
  EXPECT_EQ(full, tree.file());
  ASSERT_TRUE(platform::MakeFullPath(
      tree.folder() + u"\\..\\.\\" + WString(platform::FindFileName(tree.folder())) + u"\\long.c",
      full, 32772));
  EXPECT_EQ(full, tree.file());
  EXPECT_FALSE(platform::MakeFullPath(tree.file(), full, MAX_PATH));  // no room for it

  EXPECT_TRUE(platform::PathExists(tree.file()));
  EXPECT_FALSE(platform::IsDirectory(tree.file()));
  EXPECT_TRUE(platform::PathExists(tree.folder()));
  EXPECT_TRUE(platform::IsDirectory(tree.folder()));
  EXPECT_FALSE(platform::PathExists(tree.folder() + u"\\missing.c"));
}

TEST(LongCommandLinePathTest, FileAndFolderAreCounted) {
  testing::TempDir dir;
  const LongTree tree(Root(dir));
  for (const WString& path : {tree.file(), tree.folder()}) {
    const testing::ProcessResult result = testing::RunProcess({SRCTALLY_EXE, ToUtf8(path)});
    EXPECT_EQ(result.exitCode, 0) << result.stdoutBytes;
    EXPECT_NE(result.stdoutBytes.find("Source path: " + ToUtf8(path) + "."), std::string::npos)
        << result.stdoutBytes;
    EXPECT_NE(result.stdoutBytes.find("1 file(s) processed in "), std::string::npos)
        << result.stdoutBytes;
    EXPECT_NE(result.stdoutBytes.find("Total number of lines:          2"), std::string::npos)
        << result.stdoutBytes;
  }
}

}  // namespace
}  // namespace srctally
