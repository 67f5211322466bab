// Ignore files: how their lines read, which rule wins, and the repository around the source
// folder.
#include "walk/git_ignore.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "testing/filter_walk.h"
#include "testing/name_case.h"
#include "testing/temp_dir.h"

namespace srctally {
namespace {

using testing::FilesOf;
using testing::KeptPaths;
using testing::MemoryTree;

std::set<std::string> KeptFiles(const MemoryTree& tree, bool ignoreCase = false) {
  CGitIgnoreFilter filter(ignoreCase ? testing::TestNameCase() : GlobCase());
  return FilesOf(KeptPaths(tree, filter));
}

// The files of tree that a top .gitignore holding bytes leaves to the walk.
std::set<std::string> KeptBelow(const std::string& bytes, MemoryTree tree) {
  tree[".gitignore"] = bytes;
  std::set<std::string> kept = KeptFiles(tree);
  kept.erase(".gitignore");
  return kept;
}

TEST(GitIgnoreTest, ReadsLinesLikeGit) {
  const struct {
    std::string bytes;
    MemoryTree tree;
    std::set<std::string> kept;
  } rows[] = {
      {"# comment\n\nfoo\n", {{"foo", ""}, {"# comment", ""}, {"x", ""}}, {"# comment", "x"}},
      {" #x\n", {{" #x", ""}, {"#x", ""}}, {"#x"}},
      {"\\#x\n", {{" #x", ""}, {"#x", ""}}, {" #x"}},
      // Trailing blanks go unless escaped; a tab is no blank.
      {"foo   \n", {{"foo", ""}, {"foo   ", ""}}, {"foo   "}},
      {"foo\\ \n", {{"foo", ""}, {"foo ", ""}}, {"foo"}},
      {"foo\\   \n", {{"foo ", ""}, {"foo    ", ""}}, {"foo    "}},
      {"foo\t\n", {{"foo", ""}, {"foo\t", ""}}, {"foo"}},
      // A lone trailing backslash matches nothing.
      {"foo\\\n", {{"foo", ""}, {"foo\\", ""}}, {"foo", "foo\\"}},
      {"\\!x\n", {{"!x", ""}, {"x", ""}}, {"x"}},
      // A leading or middle '/' anchors at the file's folder; a trailing one means folders.
      {"/a/b\n", {{"a/b", ""}, {"x/a/b", ""}, {"a/c", ""}}, {"x/a/b", "a/c"}},
      {"/a\n", {{"a", ""}, {"x/a", ""}}, {"x/a"}},
      {"a/\n", {{"a/x", ""}, {"y/a/x", ""}, {"b/a", ""}}, {"b/a"}},
      {"a/b/\n", {{"a/b/x", ""}, {"a/c/b", ""}, {"x/a/b/y", ""}}, {"a/c/b", "x/a/b/y"}},
      {"*.c\n!/keep.c\n", {{"x.c", ""}, {"keep.c", ""}, {"d/keep.c", ""}}, {"keep.c"}},
      // Lines that name nothing.
      {"!\n/\n!/\n   \n", {{"a", ""}, {"b/c", ""}}, {"a", "b/c"}},
      // A byte-order mark and CR LF line ends; the last line needs no end.
      {"\xEF\xBB\xBF"
       "a\r\nb\r\nc",
       {{"a", ""}, {"b", ""}, {"c", ""}, {"d", ""}},
       {"d"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.bytes);
    EXPECT_EQ(KeptBelow(row.bytes, row.tree), row.kept);
  }
}

TEST(GitIgnoreTest, RulesOfTheWalkedFolders) {
  const struct {
    const char* what;
    MemoryTree tree;
    std::set<std::string> kept;
  } rows[] = {
      {"a deeper file takes back in",
       {{".gitignore", "*.c\n"},
        {"a.c", ""},
        {"sub/.gitignore", "!keep.c\n"},
        {"sub/keep.c", ""},
        {"sub/x.c", ""}},
       {".gitignore", "sub/.gitignore", "sub/keep.c"}},
      {"a later rule wins",
       {{".gitignore", "!a.c\n*.c\n"}, {"a.c", ""}, {"b.h", ""}},
       {".gitignore", "b.h"}},
      {"nothing comes back below an ignored folder",
       {{".gitignore", "build/\n!build/keep.c\n"},
        {"build/keep.c", ""},
        {"build/.gitignore", "!keep.c\n"}},
       {".gitignore"}},
      {"a leading slash anchors at the file's folder",
       {{".gitignore", "/x.c\n"}, {"x.c", ""}, {"sub/x.c", ""}},
       {".gitignore", "sub/x.c"}},
      {"a middle slash anchors too, below the file's own folder",
       {{"sub/.gitignore", "a/x.c\n"}, {"a/x.c", ""}, {"sub/a/x.c", ""}, {"sub/b/a/x.c", ""}},
       {"a/x.c", "sub/.gitignore", "sub/b/a/x.c"}},
      {"folder-only rules leave files alone",
       {{".gitignore", "out/\n"}, {"out", ""}, {"sub/out/x.c", ""}},
       {".gitignore", "out"}},
      {"** forms",
       {{".gitignore", "**/gen\nlib/**\ndoc/**/*.h\n"},
        {"a/b/gen/x.c", ""},
        {"gen/y.c", ""},
        {"lib/z.c", ""},
        {"doc/x.h", ""},
        {"doc/a/b/y.h", ""},
        {"doc/a/y.c", ""}},
       {".gitignore", "doc/a/y.c"}},
      {"a .git folder is never walked",
       {{".git/config", ""}, {"sub/.git/x.c", ""}, {"x.c", ""}},
       {"x.c"}},
      {"a .gitignore of an ignored folder is not read",
       {{".gitignore", "a/\n"}, {"a/.gitignore", "!*\n"}, {"a/x.c", ""}, {"b.c", ""}},
       {".gitignore", "b.c"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(KeptFiles(row.tree), row.kept);
  }
}

// Rules match the bytes of UTF-8 names, as git does: a '?' or a one-member set never
// matches a character of two bytes, while literal characters and stars do.
TEST(GitIgnoreTest, WildcardsMatchBytesOfUtf8Names) {
  const MemoryTree tree = {{"\xC3\xA9/x.c", ""}, {"a/x.c", ""}, {"\xC3\xA9.h", ""}, {"ab.h", ""}};
  const struct {
    const char* rules;
    std::set<std::string> kept;
  } rows[] = {
      {"?\n", {"\xC3\xA9/x.c", "\xC3\xA9.h", "ab.h"}},
      {"[\xC3\xA9]\n", {"\xC3\xA9/x.c", "a/x.c", "\xC3\xA9.h", "ab.h"}},
      {"??\n", {"a/x.c", "\xC3\xA9.h", "ab.h"}},
      {"\xC3\xA9\n", {"a/x.c", "\xC3\xA9.h", "ab.h"}},
      {"??.h\n", {"\xC3\xA9/x.c", "a/x.c"}},
      {"?.h\n", {"\xC3\xA9/x.c", "a/x.c", "\xC3\xA9.h", "ab.h"}},
      {"/*/x.c\n", {"\xC3\xA9.h", "ab.h"}},
      {"/?/x.c\n", {"\xC3\xA9/x.c", "\xC3\xA9.h", "ab.h"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.rules);
    EXPECT_EQ(KeptBelow(row.rules, tree), row.kept);
  }
}

// A rule's leading run without wildcards is compared first and the rest matched on its
// own, so a "**" right after that run counts as a whole component, as in git.
TEST(GitIgnoreTest, DoubleStarAfterALiteralRunLikeGit) {
  const MemoryTree tree = {{"a/y/b.c", ""}, {"ax/y/b.c", ""}, {"a/b.c", ""}, {"ab.c", ""},
                           {"y/b.c", ""},   {"b.c", ""},      {"axb", ""},   {"a/x/b", ""}};
  EXPECT_EQ(KeptBelow("a**/b.c\n", tree), (std::set<std::string>{"y/b.c", "b.c", "axb", "a/x/b"}));
  EXPECT_EQ(KeptBelow("/a**b\n", tree), (std::set<std::string>{"a/y/b.c", "ax/y/b.c", "a/b.c",
                                                               "ab.c", "y/b.c", "b.c", "a/x/b"}));
  EXPECT_EQ(KeptBelow("a/**/b\n", tree),
            (std::set<std::string>{"a/y/b.c", "ax/y/b.c", "a/b.c", "ab.c", "y/b.c", "b.c", "axb"}));
}

TEST(GitIgnoreTest, CaseFoldsWhereThePlatformDoes) {
  const MemoryTree tree = {
      {".gitignore", "*.C\nBUILD/\n"}, {"a.c", ""}, {"build/b.h", ""}, {".GIT/x.c", ""}};
  EXPECT_EQ(KeptFiles(tree, false),
            (std::set<std::string>{".GIT/x.c", ".gitignore", "a.c", "build/b.h"}));
  EXPECT_EQ(KeptFiles(tree, true), (std::set<std::string>{".gitignore"}));
}

TEST(GitIgnoreTest, RulesFromAboveTheSourceFolder) {
  const MemoryTree tree = {{"x.h", ""},   {"y.c", ""},   {"dir2/z.c", ""},
                           {"t.tmp", ""}, {"k/x.h", ""}, {".gitignore", "!x.h\n"}};
  // The repository's root holds "*.h", its sub folder "dir2/" and "/sub/dir/y.c" would be
  // written there as "dir/y.c"; info/exclude has "*.tmp".
  const std::vector<std::string> above = {"*.h\n", "dir2/\ndir/y.c\n"};
  CGitIgnoreFilter filter(GlobCase{});
  filter.SetRepository(u"sub/dir", above, "*.tmp\n!k/\n");
  EXPECT_EQ(FilesOf(KeptPaths(tree, filter)),
            (std::set<std::string>{".gitignore", "k/x.h", "x.h"}));

  // A source folder that the rules above it ignore: nothing of it is counted.
  for (const auto& [prefix, files] : std::vector<std::pair<WString, std::vector<std::string>>>{
           {u"sub/dir", {"dir/\n"}},
           {u"sub/dir", {"", "dir\n"}},
           {u"sub/dir", {"sub\n", "!dir\n"}},  // nothing below an ignored folder comes back
           {u"a/.git/b", {}}}) {
    CGitIgnoreFilter ignored(GlobCase{});
    ignored.SetRepository(prefix, files, "");
    EXPECT_TRUE(KeptPaths(tree, ignored).empty()) << ToUtf8(prefix);
  }
  CGitIgnoreFilter negated(GlobCase{});
  const std::vector<std::string> backIn = {"dir\n", "!dir\n"};
  negated.SetRepository(u"sub/dir", backIn, "");
  EXPECT_FALSE(KeptPaths(tree, negated).empty());
}

// A source path below the root with empty parts (a doubled, leading or trailing '/') reads
// as the same folders without them.
TEST(GitIgnoreTest, EmptyPartsOfTheSourcePrefixNameNoFolder) {
  const MemoryTree tree = {{"x.h", ""}, {"y.c", ""}, {"k/z.c", ""}};
  const std::vector<std::string> above = {"*.h\n", "!x.h\nk/\n"};
  for (const WString& prefix :
       {WString(u"sub"), WString(u"/sub"), WString(u"sub/"), WString(u"//sub"), WString(u"/")}) {
    CGitIgnoreFilter filter(GlobCase{});
    filter.SetRepository(prefix, above, "");
    const std::set<std::string> kept = FilesOf(KeptPaths(tree, filter));
    if (prefix == u"/") {
      EXPECT_EQ(kept, (std::set<std::string>{"k/z.c", "y.c"}));
    } else {
      EXPECT_EQ(kept, (std::set<std::string>{"x.h", "y.c"})) << ToUtf8(prefix);
    }
  }
  // The rule "b" of folder "a" ignores "a//b", which is "a/b", but not "a//c".
  const std::vector<std::string> ignoring = {"", "b\n"};
  CGitIgnoreFilter doubled(GlobCase{});
  doubled.SetRepository(u"a//b", ignoring, "");
  EXPECT_TRUE(KeptPaths(tree, doubled).empty());
  doubled.SetRepository(u"a//c", ignoring, "");
  EXPECT_FALSE(KeptPaths(tree, doubled).empty());
}

WString WidePath(const std::filesystem::path& path) {
  return platform::PathSeparator() == u'/' ? FromUtf8Lossless(path.string()) : path.u16string();
}

TEST(GitIgnoreTest, FindsTheRepositoryAboveTheSourceFolder) {
  testing::TempDir dir;
  dir.Write("repo/.git/info/exclude", "*.tmp\n");
  dir.Write("repo/.gitignore", "root\n");
  dir.Write("repo/a/.gitignore", "middle\n");
  dir.Write("repo/a/b/.gitignore", "walked by the walk itself\n");
  const RepositoryIgnores below = LoadRepositoryIgnores(WidePath(dir.path() / "repo" / "a" / "b"));
  EXPECT_TRUE(below.found);
  EXPECT_EQ(below.sourcePrefix, u"a/b");
  EXPECT_EQ(below.ancestorIgnoreFiles, (std::vector<std::string>{"root\n", "middle\n"}));
  EXPECT_EQ(below.excludeFile, "*.tmp\n");

  const RepositoryIgnores atRoot = LoadRepositoryIgnores(WidePath(dir.path() / "repo"));
  EXPECT_TRUE(atRoot.found);
  EXPECT_EQ(atRoot.sourcePrefix, u"");
  EXPECT_TRUE(atRoot.ancestorIgnoreFiles.empty());
  EXPECT_EQ(atRoot.excludeFile, "*.tmp\n");

  // No repository anywhere above: nothing but the walked folders' own files.
  dir.MakeDir("plain/x");
  EXPECT_FALSE(LoadRepositoryIgnores(WidePath(dir.path() / "plain" / "x")).found);
}

TEST(GitIgnoreTest, FollowsAGitFileToTheSharedRepositoryFolder) {
  testing::TempDir dir;
  // A linked worktree: its ".git" file names a folder whose "commondir" leads back to the
  // main repository folder, where info/exclude lives.
  dir.Write("main/.git/info/exclude", "shared\n");
  dir.Write("main/.git/worktrees/wt/commondir", "../..\n");
  const std::string gitFolder = (dir.path() / "main" / ".git" / "worktrees" / "wt").string();
  dir.Write("wt/.git", "gitdir: " + gitFolder + "\n");
  dir.Write("wt/.gitignore", "top\n");
  const RepositoryIgnores worktree = LoadRepositoryIgnores(WidePath(dir.path() / "wt" / "src"));
  EXPECT_TRUE(worktree.found);
  EXPECT_EQ(worktree.sourcePrefix, u"src");
  EXPECT_EQ(worktree.ancestorIgnoreFiles, (std::vector<std::string>{"top\n"}));
  EXPECT_EQ(worktree.excludeFile, "shared\n");

  // A submodule's ".git" file with a relative path and no commondir.
  dir.Write("sup/.git/modules/m/info/exclude", "module\n");
  dir.Write("sup/m/.git", "gitdir: ../.git/modules/m\r\n");
  const RepositoryIgnores module = LoadRepositoryIgnores(WidePath(dir.path() / "sup" / "m"));
  EXPECT_TRUE(module.found);
  EXPECT_EQ(module.excludeFile, "module\n");
}

}  // namespace
}  // namespace srctally
