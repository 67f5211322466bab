// The ignore filter against git itself: random trees with nested .gitignore files and an
// info/exclude in real repositories, every path asked of `git check-ignore` and compared
// with what the filter lets the walk reach.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "input/git_ignore.h"
#include "testing/filter_walk.h"
#include "testing/process_runner.h"
#include "testing/temp_dir.h"

namespace srctally {
namespace {

using testing::MemoryTree;

std::string FindGit() {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const std::string candidate = folder + "/git";
    if (!folder.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

const char* const kFileNames[] = {"a", "b", "ab", "x.c", "y.h", "a.c", "B.c", "gen", "build"};
const char* const kFolderNames[] = {"a", "b", "ab", "build", "gen", "x.c", "src"};
const char* const kRules[] = {
    "*.c",     "*.h",    "a",           "b/",     "/a",           "a/b",       "**/b",
    "a/**",    "!x.c",   "!*.h",        "b*",     "[ab]",         "?",         "a/**/x.c",
    "!build",  "build/", "*/b",         "/b/",    "x.c   ",       "#x.c",      "!/a/x.c",
    "**",      "!a",     "!b/",         "a/*",    "*.[ch]",       "[!a]*",     "build/**/*.c",
    "!**/y.h", "gen",    "!gen/",       "\\!x.c", "a?",           "**/a/**",   "/**/b",
    "x.*",     "!*",     "src/*.c",     "!src/",  "[[:upper:]]*", "**/src/a",  "*/",
    "!*/",     "a\\.c",  "!.gitignore", ".*",     "ab/**/",       "/src/**/b", "b/**/*",
};

template <typename T, std::size_t N>
const T& Pick(std::mt19937& random, const T (&items)[N]) {
  return items[std::uniform_int_distribution<std::size_t>(0, N - 1)(random)];
}

bool Chance(std::mt19937& random, int percent) {
  return std::uniform_int_distribution<int>(0, 99)(random) < percent;
}

std::string RandomRules(std::mt19937& random, int most) {
  std::string text;
  const int count = std::uniform_int_distribution<int>(1, most)(random);
  for (int i = 0; i < count; ++i) {
    text += Pick(random, kRules);
    text += '\n';
  }
  return text;
}

// Adds a random folder below folder ("" or "a/b/") to tree and lists the folders made.
void AddFolder(std::mt19937& random, MemoryTree& tree, const std::string& folder, int depth,
               std::vector<std::string>& folders) {
  std::set<std::string> used;
  if (Chance(random, 50)) {
    tree[folder + ".gitignore"] = RandomRules(random, 4);
    used.insert(".gitignore");
  }
  const int entries = std::uniform_int_distribution<int>(1, 5)(random);
  for (int i = 0; i < entries; ++i) {
    const bool makeFolder = depth < 3 && Chance(random, 40);
    const std::string name = makeFolder ? Pick(random, kFolderNames) : Pick(random, kFileNames);
    if (!used.insert(name).second) continue;
    if (makeFolder) {
      folders.push_back(folder + name + "/");
      AddFolder(random, tree, folder + name + "/", depth + 1, folders);
      if (tree.lower_bound(folder + name + "/") == tree.end() ||
          tree.lower_bound(folder + name + "/")->first.rfind(folder + name + "/", 0) != 0) {
        tree[folder + name + "/keep"] = "";  // git and the walk both need a non-empty folder
      }
    } else {
      tree[folder + name] = "";
    }
  }
}

// What git says is ignored among paths (relative to the repository root).
std::set<std::string> AskGit(const std::string& git, const testing::TempDir& home,
                             const std::filesystem::path& repo,
                             const std::vector<std::string>& paths) {
  std::vector<std::string> argv = {git, "-C", repo.string(), "check-ignore", "--no-index", "--"};
  argv.insert(argv.end(), paths.begin(), paths.end());
  const std::map<std::string, std::string> environment = {{"HOME", home.path().string()},
                                                          {"XDG_CONFIG_HOME", home.path().string()},
                                                          {"GIT_CONFIG_NOSYSTEM", "1"},
                                                          {"GIT_CONFIG_GLOBAL", "/dev/null"}};
  const testing::ProcessResult result = testing::RunProcess(argv, environment);
  EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 1) << result.exitCode;
  std::set<std::string> ignored;
  std::stringstream lines(result.stdoutBytes);
  std::string line;
  while (std::getline(lines, line)) ignored.insert(line);
  return ignored;
}

TEST(GitIgnoreCheckTest, AgreesWithGitOnRandomTrees) {
  const std::string git = FindGit();
  if (git.empty()) GTEST_SKIP() << "git is not installed";
  const testing::TempDir home;
  std::mt19937 random(20261209);
  std::size_t ignoredPaths = 0;
  std::size_t keptPaths = 0;
  for (int round = 0; round < 100; ++round) {
    MemoryTree tree;
    std::vector<std::string> folders;
    AddFolder(random, tree, "", 0, folders);
    const bool withExclude = Chance(random, 50);
    const std::string excludeRules = withExclude ? RandomRules(random, 3) : "";
    // The source folder: the root, or now and then a folder below it.
    std::string source;
    if (!folders.empty() && Chance(random, 30)) {
      source = folders[std::uniform_int_distribution<std::size_t>(0, folders.size() - 1)(random)];
    }

    const testing::TempDir dir;
    const std::filesystem::path repo = dir.path() / "repo";
    for (const auto& [path, bytes] : tree) dir.Write(std::filesystem::path("repo") / path, bytes);
    // The least git takes for a repository (a full "git init" costs far more per round).
    dir.Write("repo/.git/HEAD", "ref: refs/heads/main\n");
    dir.MakeDir("repo/.git/objects");
    dir.MakeDir("repo/.git/refs");
    dir.Write("repo/.git/info/exclude", excludeRules);

    // Every file and folder below the source folder, as git names it and as the walk does.
    std::set<std::string> below;
    for (const auto& [path, bytes] : tree) {
      for (std::size_t slash = path.find('/'); slash != std::string::npos;
           slash = path.find('/', slash + 1)) {
        below.insert(path.substr(0, slash + 1));
      }
      below.insert(path);
    }
    std::vector<std::string> asked;
    MemoryTree sourceTree;
    for (const std::string& path : below) {
      if (path.size() <= source.size() || path.rfind(source, 0) != 0) continue;
      asked.push_back(path.ends_with('/') ? path.substr(0, path.size() - 1) : path);
      if (!path.ends_with('/')) sourceTree[path.substr(source.size())] = tree[path];
    }
    const std::set<std::string> ignored = AskGit(git, home, repo, asked);
    ignoredPaths += ignored.size();
    keptPaths += asked.size() - ignored.size();

    const RepositoryIgnores repository =
        LoadRepositoryIgnores(FromUtf8Lossless((repo / source).lexically_normal().string()));
    ASSERT_TRUE(repository.found) << (repo / source).lexically_normal().string();
    CGitIgnoreFilter filter(GlobCase{});
    filter.SetRepository(repository.sourcePrefix, repository.ancestorIgnoreFiles,
                         repository.excludeFile);
    const std::set<std::string> kept = testing::KeptPaths(sourceTree, filter);

    std::string rules;
    for (const auto& [path, bytes] : tree) {
      if (path.ends_with(".gitignore")) rules += path + ":\n" + bytes;
    }
    for (const std::string& path : asked) {
      const bool isFolder = below.count(path + "/") != 0;
      const std::string walkPath = path.substr(source.size()) + (isFolder ? "/" : "");
      EXPECT_EQ(kept.count(walkPath) == 0, ignored.count(path) != 0)
          << "round " << round << ", source '" << source << "', path " << path << "\n"
          << rules << "info/exclude:\n"
          << excludeRules;
    }
  }
  // The rounds must have tried both outcomes many times to mean anything.
  EXPECT_GT(ignoredPaths, 150u);
  EXPECT_GT(keptPaths, 150u);
  std::printf("%zu ignored, %zu kept\n", ignoredPaths, keptPaths);
}

}  // namespace
}  // namespace srctally
