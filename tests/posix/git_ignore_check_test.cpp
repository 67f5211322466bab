// The ignore filter against git itself: random trees with nested .gitignore files (some of
// them symbolic links, which git does not read) and an info/exclude in real repositories,
// with names and rules beyond ASCII; every path asked of `git check-ignore` and compared
// with what the filter lets a walk reach, in memory and in a real walk of the disk.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/disk.h"
#include "testing/filter_walk.h"
#include "testing/process_runner.h"
#include "testing/temp_dir.h"
#include "walk/git_ignore.h"
#include "walk/tree_walk.h"

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

// "é" is two bytes in UTF-8 and "€" three; "\xFF" is no UTF-8 at all.
const char* const kFileNames[] = {"a",          "b",        "ab",          "x.c",
                                  "y.h",        "a.c",      "B.c",         "gen",
                                  "build",      "\xC3\xA9", "a\xC3\xA9.c", "\xE2\x82\xAC.h",
                                  "\xC3\x89.c", "\xFF.c"};
const char* const kFolderNames[] = {"a",   "b",   "ab",       "build",       "gen",
                                    "x.c", "src", "\xC3\xA9", "\xE2\x82\xAC"};
const char* const kRules[] = {
    "*.c",
    "*.h",
    "a",
    "b/",
    "/a",
    "a/b",
    "**/b",
    "a/**",
    "!x.c",
    "!*.h",
    "b*",
    "[ab]",
    "?",
    "a/**/x.c",
    "!build",
    "build/",
    "*/b",
    "/b/",
    "x.c   ",
    "#x.c",
    "!/a/x.c",
    "**",
    "!a",
    "!b/",
    "a/*",
    "*.[ch]",
    "[!a]*",
    "build/**/*.c",
    "!**/y.h",
    "gen",
    "!gen/",
    "\\!x.c",
    "a?",
    "**/a/**",
    "/**/b",
    "x.*",
    "!*",
    "src/*.c",
    "!src/",
    "[[:upper:]]*",
    "**/src/a",
    "*/",
    "!*/",
    "a\\.c",
    "!.gitignore",
    ".*",
    "ab/**/",
    "/src/**/b",
    "b/**/*",
    // Beyond ASCII: '?', '*' and sets take bytes.
    "?",
    "??",
    "???",
    "[\xC3\xA9]",
    "\xC3\xA9",
    "*\xC3\xA9*",
    "[!\xC3\xA9]*",
    "?.h",
    "??.c",
    "*\xA9.c",
    "\xE2\x82\xAC/",
    "[[:alpha:]]*",
    "\xC3\x89.c",
    "\xFF*",
    // A "**" right after a leading run without wildcards, and other "**" forms.
    "a**/x.c",
    "a**",
    "/a**/*.c",
    "s**/b",
    "**a",
    "a/**b",
    "b**/**/x.c",
};

// Marks a .gitignore of a tree that is to be a symbolic link to a file holding the rest.
const std::string kLinkMark = "\x01link\x01";

bool IsLink(const std::string& bytes) { return bytes.starts_with(kLinkMark); }

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
    // Now and then the .gitignore is a symbolic link to its rules (see kLinkMark).
    tree[folder + ".gitignore"] = (Chance(random, 15) ? kLinkMark : "") + RandomRules(random, 4);
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
  // core.quotePath off: names beyond ASCII come back as their bytes, not quoted.
  std::vector<std::string> argv = {git,           "-c",           "core.quotePath=false", "-C",
                                   repo.string(), "check-ignore", "--no-index",           "--"};
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

// Records what the filter answers for each entry the real walk asks about: its path below
// the source folder ('/'-separated, no leading '/') and whether it was excluded.
class RecordingFilter final : public IWalkFilter {
 public:
  explicit RecordingFilter(IWalkFilter& inner) : inner_(inner) {}
  void EnterFolder(WStringView relativePath, ReadFolderFile readFile, void* context) override {
    folders_.push_back(ToUtf8(relativePath));
    inner_.EnterFolder(relativePath, readFile, context);
  }
  void LeaveFolder() override {
    folders_.pop_back();
    inner_.LeaveFolder();
  }
  bool Excludes(WStringView name, bool isFolder) override {
    const bool excluded = inner_.Excludes(name, isFolder);
    const std::string& folder = folders_.back();
    answers[(folder.empty() ? "" : folder + "/") + ToUtf8(name)] = excluded;
    return excluded;
  }
  std::map<std::string, bool> answers;

 private:
  IWalkFilter& inner_;
  std::vector<std::string> folders_;
};

class NullSink final : public IWalkSink {
 public:
  void FolderStarted(WStringView) override {}
  void FileCounted(WStringView, WStringView, const LineStats&) override {}
  void FolderFinished(WStringView, std::int64_t) override {}
  void FolderSkipped(WStringView, FolderSkip) override {}
  void FileSkipped(WStringView, WStringView, FileSkip) override {}
  void WalkFailed(WalkFailure, WStringView, WStringView, HResult) override {}
};

// The real walk of the disk below source with the repository's rules.
std::map<std::string, bool> WalkDisk(const std::filesystem::path& source,
                                     const RepositoryIgnores& repository) {
  CGitIgnoreFilter filter{GlobCase()};
  filter.SetRepository(repository.sourcePrefix, repository.ancestorIgnoreFiles,
                       repository.excludeFile);
  RecordingFilter recording(filter);
  NullSink sink;
  CTreeWalk walk(sink, platform::SystemDisk(), FromUtf8Lossless(source.lexically_normal().string()),
                 WalkOptions{false, true, false, 1}, &recording);
  LineStats totals;
  totals.Reset();
  EXPECT_EQ(walk.WalkFolder(u"/", totals), hr::kOk);
  return recording.answers;
}

TEST(GitIgnoreCheckTest, AgreesWithGitOnRandomTrees) {
  const std::string git = FindGit();
  if (git.empty()) GTEST_SKIP() << "git is not installed";
  const testing::TempDir home;
  std::mt19937 random(20261209);
  std::size_t ignoredPaths = 0;
  std::size_t keptPaths = 0;
  std::size_t walkedPaths = 0;
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
    for (const auto& [path, bytes] : tree) {
      if (!IsLink(bytes)) {
        dir.Write(std::filesystem::path("repo") / path, bytes);
        continue;
      }
      const std::filesystem::path target =
          dir.Write("rules" + std::to_string(round) + "/" + path, bytes.substr(kLinkMark.size()));
      const std::filesystem::path at = dir.path() / "repo" / path;
      std::filesystem::create_directories(at.parent_path());
      std::filesystem::create_symlink(target, at);
    }
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
    // The walk in memory reads no linked .gitignore, as the real walk does not.
    for (auto& [path, bytes] : sourceTree) {
      if (IsLink(bytes)) bytes = testing::kUnreadableFile;
    }
    const std::set<std::string> kept = testing::KeptPaths(sourceTree, filter);
    const std::map<std::string, bool> walked = WalkDisk(repo / source, repository);

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
      // The real walk asks about folders and source files only, and not below an
      // excluded folder.
      const auto answer = walked.find(path.substr(source.size()));
      if (answer != walked.end()) {
        ++walkedPaths;
        EXPECT_EQ(answer->second, ignored.count(path) != 0)
            << "real walk, round " << round << ", path " << path << "\n"
            << rules;
      }
    }
  }
  // The rounds must have tried both outcomes many times to mean anything.
  EXPECT_GT(ignoredPaths, 150u);
  EXPECT_GT(keptPaths, 150u);
  EXPECT_GT(walkedPaths, 300u);
  std::printf("%zu ignored, %zu kept, %zu asked by the real walk\n", ignoredPaths, keptPaths,
              walkedPaths);
}

}  // namespace
}  // namespace srctally
