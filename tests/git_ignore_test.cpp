// Ignore files: how their lines read, which rule wins, and the repository around the source
// folder.
#include "input/git_ignore.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "testing/filter_walk.h"
#include "testing/temp_dir.h"

namespace srctally {
namespace {

using testing::FilesOf;
using testing::KeptPaths;
using testing::MemoryTree;

std::string Describe(const std::vector<IgnoreRule>& rules) {
  std::string text;
  for (const IgnoreRule& rule : rules) {
    text.append(rule.negative ? "![" : "[");
    text.append(ToUtf8(rule.pattern.text()));
    text.append(rule.foldersOnly ? "]/" : "]");
    text.append(rule.nameOnly ? " name@" : " path@");
    text.append(std::to_string(rule.baseLength));
    text.push_back('\n');
  }
  return text;
}

TEST(GitIgnoreTest, ReadsLinesLikeGit) {
  const struct {
    std::string bytes;
    std::string rules;
  } rows[] = {
      {"# comment\n\nfoo\n", "[foo] name@3\n"},
      {" #x\n", "[ #x] name@3\n"},
      {"\\#x\n", "[\\#x] name@3\n"},
      {"foo   \n", "[foo] name@3\n"},
      {"foo\\ \n", "[foo\\ ] name@3\n"},
      {"foo\\   \n", "[foo\\ ] name@3\n"},
      {"foo\\\n", "[foo\\] name@3\n"},
      {"foo\t\n", "[foo\t] name@3\n"},
      {"!bar/\n", "![bar]/ name@3\n"},
      {"/a/b\n", "[a/b] path@3\n"},
      {"/a\n", "[a] path@3\n"},
      {"a/\n", "[a]/ name@3\n"},
      {"a/b/\n", "[a/b]/ path@3\n"},
      {"**/b\n", "[**/b] path@3\n"},
      {"\\!x\n", "[\\!x] name@3\n"},
      {"!\n/\n!/\n   \n", ""},
      {"\xEF\xBB\xBF"
       "a\r\nb\r\nc",
       "[a] name@3\n[b] name@3\n[c] name@3\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.bytes);
    std::vector<IgnoreRule> rules;
    ParseIgnoreFile(row.bytes, 3, GlobCase{}, rules);
    EXPECT_EQ(Describe(rules), row.rules);
  }
}

std::set<std::string> KeptFiles(const MemoryTree& tree, bool ignoreCase = false) {
  CGitIgnoreFilter filter(GlobCase{ignoreCase});
  return FilesOf(KeptPaths(tree, filter));
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
