// Names fold case on Windows as the system compares file names: the table the globs and
// ignore rules look up agrees with the system's ordinal case-insensitive comparison for
// every UTF-16 unit, and the letters beyond the first few blocks fold too.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "testing/filter_walk.h"
#include "walk/exclude_filter.h"
#include "walk/git_ignore.h"

namespace srctally {
namespace {

bool SystemSame(char16_t a, char16_t b) {
  const auto* x = reinterpret_cast<const wchar_t*>(&a);
  const auto* y = reinterpret_cast<const wchar_t*>(&b);
  return ::CompareStringOrdinal(x, 1, y, 1, TRUE) == CSTR_EQUAL;
}

TEST(Win32NameCaseTest, TableAgreesWithTheSystemForEveryUnit) {
  const platform::NameCaseTable* table = platform::NameCaseFolding();
  ASSERT_NE(table, nullptr);
  const GlobCase nameCase(table);
  std::vector<std::uint32_t> wrong;
  int folding = 0;
  for (std::uint32_t unit = 0; unit <= 0xFFFF; ++unit) {
    const auto ch = static_cast<char16_t>(unit);
    if (table->upper[ch] != ch) ++folding;
    // Each unit is the same as its two forms and, where the system says so, as its
    // neighbours (the partners of most pairs sit next to each other).
    for (const char16_t other : {table->upper[ch], table->lower[ch], static_cast<char16_t>(ch + 1),
                                 static_cast<char16_t>(ch - 1), static_cast<char16_t>(ch + 0x20),
                                 static_cast<char16_t>(ch + 0x50)}) {
      if (nameCase.Same(ch, other) != SystemSame(ch, other)) wrong.push_back(unit);
    }
  }
  EXPECT_EQ(wrong, std::vector<std::uint32_t>{});
  EXPECT_GT(folding, 900);  // ASCII, Latin, Greek, Cyrillic, Armenian, full width, ...
}

TEST(Win32NameCaseTest, ExcludePatternsAndIgnoreRulesFoldEveryScript) {
  const GlobCase nameCase(platform::NameCaseFolding());
  const struct {
    const char16_t* pattern;
    const char* name;  // UTF-8
  } rows[] = {
      {u"\u0491a",
       "\xD2\x90"
       "a"},  // ґ and Ґ
      {u"\uFF41b",
       "\xEF\xBC\xA1"
       "b"},  // full width ａ and Ａ
      {u"\u0561c",
       "\xD4\xB1"
       "c"},  // Armenian ա and Ա
      {u"\u01C6d",
       "\xC7\x84"
       "d"},  // ǆ and Ǆ
      {u"\u03AC*",
       "\xCE\x86"
       "x"},  // ά and Ά
      {u"\u1F00?",
       "\xE1\xBC\x88"
       "x"},  // ἀ and Ἀ
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const WString name = FromUtf8Lossless(row.name);
    EXPECT_TRUE(MatchGlob(row.pattern, name, true, nameCase));
    EXPECT_FALSE(MatchGlob(row.pattern, name, true, GlobCase()));

    const testing::MemoryTree tree = {{std::string(row.name) + "/x.c", ""}, {"keep.c", ""}};
    CExcludeFilter exclude(nameCase, true);
    ASSERT_TRUE(exclude.Add(row.pattern));
    EXPECT_EQ(testing::FilesOf(testing::KeptPaths(tree, exclude)), std::set<std::string>{"keep.c"});

    testing::MemoryTree ignoring = tree;
    ignoring[".gitignore"] = ToUtf8(row.pattern) + "\n";
    CGitIgnoreFilter ignore(nameCase);
    EXPECT_EQ(testing::FilesOf(testing::KeptPaths(ignoring, ignore)),
              (std::set<std::string>{".gitignore", "keep.c"}));
  }
}

}  // namespace
}  // namespace srctally
