// What a walk over a source tree tells its readers, in walk order. The walk finds folders and
// files and counts the files; it prints nothing itself. The text report, the JSON and CSV
// documents are readers of this one ordered stream, so every output agrees on what was
// counted and where a failure ended the run, whatever the number of counting threads.
#pragma once

#include <cstdint>
#include <string>

#include "base/status.h"
#include "base/text.h"
#include "counting/line_stats.h"

namespace srctally {

/// Why a folder was passed over without being listed.
enum class FolderSkip : std::uint8_t {
  kLinkToAncestor,  ///< a folder link leading back to one of the folders being walked
  kAlreadyWalked,   ///< reached again through a folder link: walked once already this run
  kExcluded,        ///< matched an exclude pattern or an ignore rule
  /// Not a folder: the folder's ignore file (relativeFolder is its path) is a symbolic link,
  /// whose rules are not read, as git reads none through a link.
  kIgnoreFileLink,
};

/// Why a file was passed over without being counted.
enum class FileSkip : std::uint8_t {
  kAlreadyCounted,  ///< reached again through a link: counted once already this run
};

/// Which step failed. Every failure ends the walk, unless the walk keeps going.
enum class WalkFailure : std::uint8_t {
  kProcessFile,     ///< "cannot process file '%s'." (the argument is the file name)
  kSearchFiles,     ///< "cannot search for files in %s" (the folder could not be listed)
  kSearchFilesEnd,  ///< "cannot search for files in %s." (the listing broke off)
  kSearchFolders,   ///< "cannot search for folders in %s."
};

/// What a walk tells its reader about folders and failures: every event but a counted file.
/// relativeFolder is the folder's path below the source path, with the platform's
/// separator, starting with one ("/" or "\\" alone for the source folder); a file's path
/// below the source path is relativeFolder, a separator unless relativeFolder already ends
/// with one, and its name. Views are valid only during the call.
class IWalkFolderEvents {
 public:
  virtual ~IWalkFolderEvents() = default;

  /// A folder's files are about to be counted.
  virtual void FolderStarted(WStringView relativeFolder) = 0;
  /// The folder's files are done; fileCount of them were counted.
  virtual void FolderFinished(WStringView relativeFolder, std::int64_t fileCount) = 0;
  /// A folder (relativeFolder is its own path) was not walked, for reason.
  virtual void FolderSkipped(WStringView relativeFolder, FolderSkip reason) = 0;
  /// A source file of the folder was not counted, for reason.
  virtual void FileSkipped(WStringView relativeFolder, WStringView name, FileSkip reason) = 0;
  /// The walk failed with code at step; argument is the file name (kProcessFile) or the
  /// folder's relative path. Nothing follows a failure, unless the walk keeps going
  /// (WalkOptions::keepGoing): then the file, or the folder with its sub-folders, is passed
  /// over and the walk goes on.
  virtual void WalkFailed(WalkFailure step, WStringView relativeFolder, WStringView argument,
                          HResult code) = 0;
  /// False once nobody reads the output any more (the report could not be written): the
  /// walk then ends early, as if the tree had no more entries.
  virtual bool WantsMore() const { return true; }
};

/// The reader of a walk. A file named on its own (not found by a walk) comes as
/// FileCounted or WalkFailed (kProcessFile) with an empty relativeFolder.
class IWalkSink : public IWalkFolderEvents {
 public:
  /// A source file of the folder was counted: file holds its counts (files is 0).
  virtual void FileCounted(WStringView relativeFolder, WStringView name, const LineStats& file) = 0;
};

/// Decides which entries of a folder the walk passes over (exclude patterns, ignore
/// files). Paths given to it are relative to the source path, with '/' between components
/// on every platform and no leading separator ("src/net/core.c"; "" for the source folder).
class IWalkFilter {
 public:
  virtual ~IWalkFilter() = default;
  /// The walk entered the folder at relativePath, before it asks about any of its entries.
  /// readFile reads a file of that folder by name into text (false when there is none or it
  /// cannot be read), for ignore files.
  using ReadFolderFile = bool (*)(void* context, WStringView name, std::string& text);
  virtual void EnterFolder(WStringView relativePath, ReadFolderFile readFile, void* context) = 0;
  /// The walk left the folder most recently entered.
  virtual void LeaveFolder() = 0;
  /// Whether the entry name of the folder most recently entered is passed over. Called for
  /// every file and folder entry; must not allocate on the common path.
  virtual bool Excludes(WStringView name, bool isFolder) = 0;
};

}  // namespace srctally
