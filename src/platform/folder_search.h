// Folder listings for the tree walk: one object per folder level, opened from its parent
// level, listing the folder's entries once for its files and once for its sub-folders.
#pragma once

#include <cstdint>
#include <memory>

#include "base/text.h"
#include "platform/file.h"

namespace srctally::platform {

/// What the listing says an entry is. kOther (POSIX only: a FIFO, socket or device) is
/// never opened.
enum class EntryKind : std::uint8_t { kFile, kFolder, kOther };

/// One entry of a listing. name stays valid until the next call of Next or Close.
struct FolderEntry {
  WStringView name;
  EntryKind kind = EntryKind::kOther;
};

/// Tells folders apart however they were reached: equal identities name the same folder.
struct FolderIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  friend bool operator==(const FolderIdentity&, const FolderIdentity&) = default;
};

/// The files pass lists every entry; the folders pass is what the walk descends into.
enum class SearchPass : std::uint8_t { kFiles, kFolders };

/// Result of starting a pass.
enum class SearchStart : std::uint8_t {
  kStarted,
  kPathFailed,  ///< the folder's path could not be formed (last error set)
  kFailed,      ///< the folder could not be opened or listed (last error set)
};

class CFolderSearch {
 public:
  /// The walk's first level: the folder relativeFolder below sourcePath (a full path).
  /// relativeFolder must stay alive and unchanged while the search is used.
  CFolderSearch(WStringView sourcePath, WStringView relativeFolder);
  /// The sub-folder name of parent, whose path relative to the source path is
  /// relativeFolder. parent and relativeFolder's text must outlive it.
  CFolderSearch(CFolderSearch& parent, WStringView name, WStringView relativeFolder);
  /// Closes a search still open.
  ~CFolderSearch();
  CFolderSearch(const CFolderSearch&) = delete;
  CFolderSearch& operator=(const CFolderSearch&) = delete;

  /// Starts a pass over the folder's entries (on POSIX sorted by name, byte order).
  SearchStart Start(SearchPass pass);
  /// The next entry of the pass. False when there is none: last error 18 (no more files)
  /// at the normal end, another code when the listing failed.
  bool Next(FolderEntry& entry);
  /// Ends the pass; harmless when none is open.
  void Close();
  /// The folder's identity, known after the files pass started. False when the platform
  /// cannot tell.
  bool GetIdentity(FolderIdentity& identity) const;
  /// Where the file name (an entry of the current files pass) is opened. The location is
  /// valid until the next call. False, with the last error set, when its path cannot be
  /// formed.
  bool LocateFile(WStringView name, FileLocation& location);

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace srctally::platform
