// The user's exclude patterns, driven over a tree in memory.
#include "walk/exclude_filter.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <set>
#include <string>

#include "testing/filter_walk.h"
#include "testing/name_case.h"

namespace srctally {
namespace {

using testing::FilesOf;
using testing::KeptPaths;
using testing::MemoryTree;

const MemoryTree kTree = {
    {"Main.C", ""},
    {"build/x.c", ""},
    {"src/a.c", ""},
    {"src/a.h", ""},
    {"src/build/y.c", ""},
    {"src/net/core.c", ""},
    {"arch/x86/boot/b.c", ""},
    {"arch/x86/k.c", ""},
    {"arch/arm/boot/c.c", ""},
    {"docs/readme.txt", ""},
};

std::set<std::string> AllFiles() {
  std::set<std::string> files;
  for (const auto& [path, bytes] : kTree) files.insert(path);
  return files;
}

std::set<std::string> AllFilesBut(std::initializer_list<const char*> gone) {
  std::set<std::string> files = AllFiles();
  for (const char* path : gone) files.erase(path);
  return files;
}

std::set<std::string> KeptFiles(std::initializer_list<const char16_t*> patterns,
                                bool ignoreCase = false, bool backslashSeparates = false) {
  CExcludeFilter filter(ignoreCase ? testing::TestNameCase() : GlobCase(), backslashSeparates);
  for (const char16_t* pattern : patterns) EXPECT_TRUE(filter.Add(pattern)) << ToUtf8(pattern);
  return FilesOf(KeptPaths(kTree, filter));
}

TEST(ExcludeFilterTest, NamesMatchAtAnyDepthPathsBelowTheSource) {
  const struct {
    std::initializer_list<const char16_t*> patterns;
    std::set<std::string> kept;
  } rows[] = {
      {{u"build"}, AllFilesBut({"build/x.c", "src/build/y.c"})},
      {{u"/build"}, AllFilesBut({"build/x.c"})},
      {{u"./build"}, AllFilesBut({"build/x.c"})},
      {{u"src/build"}, AllFilesBut({"src/build/y.c"})},
      {{u"*.h"}, AllFilesBut({"src/a.h"})},
      {{u"arch/*/boot"}, AllFilesBut({"arch/x86/boot/b.c", "arch/arm/boot/c.c"})},
      {{u"arch/**/b.c"}, AllFilesBut({"arch/x86/boot/b.c"})},
      {{u"**/net"}, AllFilesBut({"src/net/core.c"})},
      {{u"src/*.c"}, AllFilesBut({"src/a.c"})},
      {{u"build/"}, AllFilesBut({"build/x.c", "src/build/y.c"})},
      {{u"Main.C/"}, AllFiles()},  // a folder pattern leaves the file alone
      {{u"main.c"}, AllFiles()},   // case counts here
      {{u"docs", u"*.h", u"[a-b]*"},
       AllFilesBut({"docs/readme.txt", "src/a.h", "src/a.c", "build/x.c", "src/build/y.c",
                    "arch/x86/boot/b.c", "arch/x86/k.c", "arch/arm/boot/c.c"})},
      {{u"arch", u"src", u"build", u"docs", u"*.?"}, {}},
  };
  for (const auto& row : rows) {
    std::string label;
    for (const char16_t* pattern : row.patterns) label += ToUtf8(pattern) + " ";
    SCOPED_TRACE(label);
    EXPECT_EQ(KeptFiles(row.patterns), row.kept);
  }
}

TEST(ExcludeFilterTest, WindowsRulesFoldCaseAndTakeBackslashes) {
  EXPECT_EQ(KeptFiles({u"main.c", u"SRC\\BUILD"}, true, true),
            AllFilesBut({"Main.C", "src/build/y.c"}));
  EXPECT_EQ(KeptFiles({u"arch\\*\\boot\\"}, true, true),
            AllFilesBut({"arch/x86/boot/b.c", "arch/arm/boot/c.c"}));
  // Where '\' escapes, "src\\build" is one name with a literal 'b' and no folder in it.
  EXPECT_EQ(KeptFiles({u"src\\build"}), AllFiles());
}

TEST(ExcludeFilterTest, AnExcludedFolderIsNeverEntered) {
  struct CountingFilter : IWalkFilter {
    CExcludeFilter inner{GlobCase{}, false};
    std::set<std::string> entered;
    void EnterFolder(WStringView path, ReadFolderFile read, void* context) override {
      entered.insert(ToUtf8(path));
      inner.EnterFolder(path, read, context);
    }
    void LeaveFolder() override { inner.LeaveFolder(); }
    bool Excludes(WStringView name, bool isFolder) override {
      return inner.Excludes(name, isFolder);
    }
  } filter;
  ASSERT_TRUE(filter.inner.Add(u"arch/x86"));
  KeptPaths(kTree, filter);
  EXPECT_EQ(filter.entered, (std::set<std::string>{"", "arch", "arch/arm", "arch/arm/boot", "build",
                                                   "docs", "src", "src/build", "src/net"}));
}

TEST(ExcludeFilterTest, PatternsThatNameNothingAreRefused) {
  CExcludeFilter filter(GlobCase{}, true);
  for (const char16_t* pattern : {u"", u"/", u"./", u"\\", u".", u"//"}) {
    EXPECT_FALSE(filter.Add(pattern)) << ToUtf8(pattern);
  }
  EXPECT_TRUE(filter.Empty());
}

TEST(ExcludeFilterTest, PairAsksBothAndFollowsEveryFolder) {
  CExcludeFilter first(GlobCase{}, false);
  CExcludeFilter second(GlobCase{}, false);
  ASSERT_TRUE(first.Add(u"*.h"));
  ASSERT_TRUE(second.Add(u"arch/*/boot"));
  CFilterPair pair(first, second);
  EXPECT_EQ(FilesOf(KeptPaths(kTree, pair)),
            AllFilesBut({"src/a.h", "arch/x86/boot/b.c", "arch/arm/boot/c.c"}));
}

}  // namespace
}  // namespace srctally
