// Full paths and library loading on POSIX.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/full_path.h"
#include "platform/last_error.h"
#include "platform/module.h"

namespace srctally {
namespace {

WString CurrentDirectory() {
  char buffer[4096];
  EXPECT_NE(::getcwd(buffer, sizeof buffer), nullptr);
  return FromUtf8Lossless(buffer);
}

TEST(FullPathPosixTest, ResolvesLexically) {
  const WString cwd = CurrentDirectory();
  const struct {
    WString name;
    WString expected;
  } rows[] = {
      {u"/a/./b/../c/", u"/a/c"},
      {u"//a//b", u"/a/b"},
      {u"/..", u"/"},
      {u"/", u"/"},
      {u"x.c", cwd + u"/x.c"},
      {u"", cwd},
      {u".", cwd},
      {u"$HOME/src", cwd + u"/$HOME/src"},  // the shell's business, not ours
  };
  for (const auto& row : rows) {
    WString out = u"old";
    ASSERT_TRUE(platform::MakeFullPath(row.name, out, 4096)) << ToUtf8(row.name);
    EXPECT_EQ(out, row.expected) << ToUtf8(row.name);
  }
}

TEST(FullPathPosixTest, CapacityCountsTheTerminator) {
  WString out;
  EXPECT_TRUE(platform::MakeFullPath(u"/abc", out, 5));
  EXPECT_FALSE(platform::MakeFullPath(u"/abcd", out, 5));
  EXPECT_EQ(platform::GetLastErrorCode(), 206u);
}

TEST(ModulePosixTest, LoadsFreesAndKeepsTheLastError) {
  CModule module;
  ASSERT_TRUE(module.Load(u"libc.so.6", false));  // not in the current folder: system search
  EXPECT_TRUE(module.ownsHandle());
  EXPECT_NE(platform::FindSymbol(module.moduleHandle(), "strlen"), nullptr);
  const platform::ModuleHandle held = module.moduleHandle();
  EXPECT_FALSE(module.Load(std::nullopt, false));
  EXPECT_EQ(module.moduleHandle(), held);  // no name: the module is kept

  platform::SetLastErrorCode(1234);
  module.Free();
  EXPECT_EQ(platform::GetLastErrorCode(), 1234u);
  EXPECT_EQ(module.moduleHandle(), nullptr);
  EXPECT_FALSE(module.ownsHandle());

  EXPECT_FALSE(module.Load(u"no-such-library-here.so", true));
  EXPECT_EQ(platform::GetLastErrorCode(), 126u);
  EXPECT_FALSE(platform::IsRunningOnWow64() && sizeof(void*) == 8);
}

}  // namespace
}  // namespace srctally
