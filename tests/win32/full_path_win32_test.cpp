// Full paths and library loading on Windows.
#include <gtest/gtest.h>
#include <windows.h>

#include "platform/full_path.h"
#include "platform/last_error.h"
#include "runtime/module.h"

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
