// Full paths and library loading on Windows.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/full_path.h"
#include "platform/last_error.h"
#include "platform/module.h"
#include "testing/process_runner.h"
#include "testing/temp_dir.h"

namespace srctally {
namespace {

WString Env(const wchar_t* name) {
  wchar_t buffer[MAX_PATH] = {};
  ::GetEnvironmentVariableW(name, buffer, MAX_PATH);
  return reinterpret_cast<const char16_t*>(buffer);
}

WString CurrentDirectory() {
  wchar_t buffer[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, buffer);
  return reinterpret_cast<const char16_t*>(buffer);
}

TEST(FullPathWin32Test, ExpandsCanonicalisesAndJoins) {
  const WString root = Env(L"SystemRoot");
  ASSERT_FALSE(root.empty());
  WString cwd = CurrentDirectory();
  if (cwd.back() != u'\\') cwd += u'\\';
  const struct {
    WString name;
    WString expected;
  } rows[] = {
      {u"%SystemRoot%\\system32\\..\\x", root + u"\\x"},
      {u"C:\\a\\.\\b\\..\\c", u"C:\\a\\c"},
      {u"\\\\srv\\share\\a\\..\\b", u"\\\\srv\\share\\b"},
      {u"file.c", cwd + u"file.c"},
      {u".", cwd.size() > 3 ? cwd.substr(0, cwd.size() - 1) : cwd},
      {u"C:\\a\\.", u"C:\\a"},
      {u"C:\\.", u"C:\\"},
  };
  for (const auto& row : rows) {
    WString out;
    ASSERT_TRUE(platform::MakeFullPath(row.name, out, MAX_PATH)) << ToUtf8(row.name);
    EXPECT_EQ(out, row.expected) << ToUtf8(row.name);
  }
}

TEST(FullPathWin32Test, NeverOverrunsItsBuffers) {
  WString out;
  // A name beyond MAX_PATH: refused without room for it, made full with room.
  EXPECT_FALSE(platform::MakeFullPath(WString(300, u'a'), out, MAX_PATH));
  ASSERT_TRUE(platform::MakeFullPath(WString(300, u'a'), out, 32772));
  EXPECT_EQ(out.size(), CurrentDirectory().size() + (CurrentDirectory().size() > 3 ? 1 : 0) + 300);
  EXPECT_FALSE(platform::MakeFullPath(WString(300, u'a'), out, 300));
  EXPECT_FALSE(platform::MakeFullPath(u"C:\\abcdef", out, 5));
  EXPECT_TRUE(platform::MakeFullPath(u"C:\\abc", out, 7));
}

// The system's own full path of name, without a final separator unless a root needs it.
WString SystemFullPath(const WString& name) {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length =
      ::GetFullPathNameW(reinterpret_cast<const wchar_t*>(name.c_str()), MAX_PATH, buffer, nullptr);
  WString full(reinterpret_cast<const char16_t*>(buffer), length);
  if (full.size() > 3 && full.back() == u'\\') full.pop_back();
  return full;
}

// "src." and "src " name src wherever Windows reads a path; the full path says so, as the
// system's own does, while a separator at the end or the "\\?\" form keeps them.
TEST(FullPathWin32Test, TrailingDotsAndBlanksOfTheLastPartAreDropped) {
  const WString cases[] = {
      u"C:\\x\\src.",  u"C:\\x\\src ",   u"C:\\x\\src. .", u"C:\\x\\f.c.",
      u"C:\\x\\a.b..", u"C:\\x. \\y.",   u"C:\\x\\...",    u"\\\\srv\\share\\d.",
      u"C:\\x\\.a.",   u"C:\\x\\ . ",
  };
  for (const WString& name : cases) {
    WString out;
    ASSERT_TRUE(platform::MakeFullPath(name, out, MAX_PATH)) << ToUtf8(name);
    EXPECT_EQ(out, SystemFullPath(name)) << ToUtf8(name);
  }
  WString out;
  ASSERT_TRUE(platform::MakeFullPath(u"\\\\?\\C:\\x\\src.", out, MAX_PATH));
  EXPECT_EQ(out.back(), u'.');
}

std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// The path a user typed with a dot or blank at its end is counted as the folder or file
// Windows means; names with such ends found below it are counted as they are.
TEST(FullPathWin32Test, APathTypedWithTrailingDotsCountsWhatWindowsMeans) {
  testing::TempDir dir;
  dir.Write("src/a.c", "int a;\n");
  dir.Write("src/sub/b.c", "int b;\n");
  const std::filesystem::path tree = dir.path() / "src";
  // A folder name Windows' path rules cannot reach, made through the extended-length form.
  const std::wstring odd = L"\\\\?\\" + tree.wstring() + L"\\odd.";
  const std::wstring oddFile = odd + L"\\d.c";
  ASSERT_TRUE(::CreateDirectoryW(odd.c_str(), nullptr));
  const HANDLE file =
      ::CreateFileW(oddFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ::WriteFile(file, "x;\n", 3, &written, nullptr);
  ::CloseHandle(file);

  for (const char* typed : {".", " ", ". .", ".."}) {
    const testing::ProcessResult run =
        testing::RunProcess({SRCTALLY_EXE, Utf8(tree) + typed, "/subdir"});
    EXPECT_EQ(run.exitCode, 0) << typed << "\n" << run.stdoutBytes;
    EXPECT_NE(run.stdoutBytes.find("Source path: " + Utf8(tree) + ".\r\n"), std::string::npos)
        << typed << "\n" << run.stdoutBytes;
    EXPECT_NE(run.stdoutBytes.find("3 file(s) processed"), std::string::npos)
        << typed << "\n" << run.stdoutBytes;
  }
  const testing::ProcessResult single =
      testing::RunProcess({SRCTALLY_EXE, Utf8(tree / "a.c") + ". ", "/display", "verbose"});
  EXPECT_EQ(single.exitCode, 0) << single.stdoutBytes;
  EXPECT_NE(single.stdoutBytes.find("a.c (size: 7 bytes"), std::string::npos) << single.stdoutBytes;
  ::DeleteFileW(oddFile.c_str());
  ::RemoveDirectoryW(odd.c_str());
}

TEST(ModuleWin32Test, LoadsFreesAndKeepsTheLastError) {
  CModule module;
  ASSERT_TRUE(module.Load(u"kernel32.dll", false));
  EXPECT_NE(platform::FindSymbol(module.moduleHandle(), "GetTickCount"), nullptr);
  const platform::ModuleHandle held = module.moduleHandle();
  EXPECT_FALSE(module.Load(std::nullopt, false));
  EXPECT_EQ(module.moduleHandle(), held);
  ::SetLastError(1234);
  module.Free();
  EXPECT_EQ(::GetLastError(), 1234u);
  EXPECT_EQ(module.moduleHandle(), nullptr);
  EXPECT_TRUE(module.Load(u"kernel32.dll", true));
  EXPECT_FALSE(module.Load(u"no-such-library-here.dll", false));
  EXPECT_EQ(platform::LoadSystemLibrary(u"C:", false), nullptr);
  EXPECT_FALSE(platform::IsRunningOnWow64());  // a 64-bit test program
}

}  // namespace
}  // namespace srctally
