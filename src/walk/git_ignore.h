// A repository's own ignore rules as a walk filter: the .gitignore files of the walked
// folders and of the folders between the repository's root and the source folder, and the
// repository's info/exclude, read the way git reads them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "walk/glob_pattern.h"
#include "walk/walk_events.h"

namespace srctally {

/// Passes over what the repository's ignore rules ignore, and every ".git".
///
/// Ignore files are UTF-8 (an optional byte-order mark; LF or CR LF lines). Blank lines and
/// lines starting with '#' hold no rule; trailing blanks are dropped unless escaped with
/// '\'. Rules match the UTF-8 bytes of names and paths as git does: '?', '*' and sets
/// match bytes. Rules of a deeper folder's .gitignore take precedence over those of
/// shallower folders, and all of them over info/exclude; within one file the last matching
/// rule decides. A folder that is ignored is never entered, so nothing below it can be
/// taken back in.
class CGitIgnoreFilter final : public IWalkFilter {
 public:
  explicit CGitIgnoreFilter(GlobCase matchCase);
  ~CGitIgnoreFilter() override;

  /// The repository around the source folder. sourcePrefix is the source folder's path
  /// below the repository's root ('/'-separated, "" at the root; empty parts are skipped);
  /// ancestorIgnoreFiles the bytes of the .gitignore of the root and of each folder below it down
  /// to the source folder's parent (one per folder, empty where there is none); excludeFile the
  /// bytes of the repository's info/exclude. When the source folder itself is ignored there, every
  /// entry is passed over, as git would list none of them.
  void SetRepository(WStringView sourcePrefix, std::span<const std::string> ancestorIgnoreFiles,
                     std::string_view excludeFile);

  void EnterFolder(WStringView relativePath, ReadFolderFile readFile, void* context) override;
  void LeaveFolder() override;
  bool Excludes(WStringView name, bool isFolder) override;

  /// One rule of an ignore file (defined where the files are read).
  struct Rule;

 private:
  bool IsIgnored(std::string_view path, std::string_view name, bool isFolder) const;

  GlobCase case_;
  // Paths are UTF-8 bytes, as git matches them, '/'-separated from the repository's root.
  std::string prefix_;                        // the source folder below the repository root
  std::vector<Rule> rules_;                   // of the folders entered, shallowest first
  std::vector<std::size_t> folderFirstRule_;  // where each entered folder's rules start
  std::vector<Rule> excludeRules_;            // info/exclude
  std::string path_;                          // the current folder, then the entry asked about
  std::vector<std::size_t> folderLengths_;    // the length of each entered folder's path
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
  /// The .gitignore files between the root and the source folder that are symbolic links:
  /// not read, as git reads no rules through a link (full paths).
  std::vector<WString> linkedIgnoreFiles;
};

/// Looks from sourcePath (a full folder path) upward for the repository's root, the first
/// folder holding a ".git" folder or file (a file names the repository's folder in its
/// "gitdir:" line), and reads the .gitignore files between that root and sourcePath and the
/// repository's info/exclude. Missing files read as empty, and so do .gitignore files that
/// are symbolic links (listed in linkedIgnoreFiles).
RepositoryIgnores LoadRepositoryIgnores(WStringView sourcePath);

}  // namespace srctally
