// A repository's own ignore rules as a walk filter: the .gitignore files of the walked
// folders and of the folders between the repository's root and the source folder, and the
// repository's info/exclude, read the way git reads them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "input/glob_pattern.h"
#include "input/walk_events.h"
#include "input/walk_path.h"

namespace srctally {

/// One rule of an ignore file.
struct IgnoreRule {
  CGlobPattern pattern;      ///< without its '!', its trailing '/' and a leading '/'
  std::uint32_t baseLength;  ///< length of the path of the folder whose file holds the rule
  bool negative = false;     ///< "!pattern": takes an entry back in
  bool foldersOnly = false;  ///< "pattern/": matches folders only
  bool nameOnly = false;     ///< no '/' inside: matches the name at any depth below its folder
};

/// Appends the rules of an ignore file's bytes (UTF-8, an optional byte-order mark; LF or
/// CR LF lines) to rules, in file order. Blank lines and lines starting with '#' hold no
/// rule; trailing blanks are dropped unless escaped with '\'. baseLength is the length of
/// the path (from the repository root) of the folder the file is in.
void ParseIgnoreFile(std::string_view bytes, std::uint32_t baseLength, GlobCase matchCase,
                     std::vector<IgnoreRule>& rules);

/// Passes over what the repository's ignore rules ignore, and every ".git".
///
/// Rules of a deeper folder's .gitignore take precedence over those of shallower folders,
/// and all of them over info/exclude; within one file the last matching rule decides. A
/// folder that is ignored is never entered, so nothing below it can be taken back in.
class CGitIgnoreFilter final : public IWalkFilter {
 public:
  explicit CGitIgnoreFilter(GlobCase matchCase);

  /// The repository around the source folder. sourcePrefix is the source folder's path
  /// below the repository's root ('/'-separated, "" at the root); ancestorIgnoreFiles the
  /// bytes of the .gitignore of the root and of each folder below it down to the source
  /// folder's parent (one per folder, empty where there is none); excludeFile the bytes of
  /// the repository's info/exclude. When the source folder itself is ignored there, every
  /// entry is passed over, as git would list none of them.
  void SetRepository(WStringView sourcePrefix, std::span<const std::string> ancestorIgnoreFiles,
                     std::string_view excludeFile);

  void EnterFolder(WStringView relativePath, ReadFolderFile readFile, void* context) override;
  void LeaveFolder() override;
  bool Excludes(WStringView name, bool isFolder) override;

 private:
  bool IsGitFolderName(WStringView name) const;
  bool IsIgnored(WStringView path, WStringView name, bool isFolder) const;

  GlobCase case_;
  WString prefix_;                            // the source folder below the repository root
  std::vector<IgnoreRule> rules_;             // of the folders entered, shallowest first
  std::vector<std::size_t> folderFirstRule_;  // where each entered folder's rules start
  std::vector<IgnoreRule> excludeRules_;      // info/exclude
  CWalkPath path_;
  std::string fileBytes_;
  bool sourceIgnored_ = false;
};

/// The ignore files of the repository around a source folder that the walk itself does not
/// reach.
struct RepositoryIgnores {
  bool found = false;    ///< a repository root was found above or at the source folder
  WString sourcePrefix;  ///< see CGitIgnoreFilter::SetRepository
  std::vector<std::string> ancestorIgnoreFiles;
  std::string excludeFile;
};

/// Looks from sourcePath (a full folder path) upward for the repository's root, the first
/// folder holding a ".git" folder or file (a file names the repository's folder in its
/// "gitdir:" line), and reads the .gitignore files between that root and sourcePath and the
/// repository's info/exclude. Missing files read as empty.
RepositoryIgnores LoadRepositoryIgnores(WStringView sourcePath);

}  // namespace srctally
