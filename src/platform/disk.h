// The file system as the tree walk and the file counting see it: open a folder, list its
// entries with their kind, open a sub-folder, tell folders apart by identity, and open,
// size and read a file. The platform's disk implements it; tests give a fake disk in
// memory that fails wherever a test asks it to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/flat_hash.h"
#include "base/text.h"

namespace srctally::platform {

/// What the listing says an entry is. kOther (POSIX only: a FIFO, socket or device) is
/// never opened.
enum class EntryKind : std::uint8_t { kFile, kFolder, kOther };

/// One entry of a listing. name stays valid until the next call of NextEntry or EndListing.
struct FolderEntry {
  WStringView name;
  EntryKind kind = EntryKind::kOther;
  /// The entry is a link (a symbolic link; on Windows a reparse point): kind is that of
  /// what it leads to, which may be reached by another name as well.
  bool linked = false;
  /// Listed as a regular file by its own type, not through a link: opening it need not ask
  /// its kind again (IFolderFiles::OpenFile).
  bool regular = false;
};

/// Tells folders and files apart however they were reached: equal identities name the
/// same folder or file (device and inode on POSIX; volume serial number and file index on
/// Windows).
struct FolderIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  friend bool operator==(const FolderIdentity&, const FolderIdentity&) = default;
};

using FileIdentity = FolderIdentity;

/// Mixes both fields into every bit, the low ones included, as FlatHashMap needs.
struct FolderIdentityHash {
  std::size_t operator()(const FolderIdentity& identity) const {
    return static_cast<std::size_t>(MixBits64(identity.index ^ MixBits64(identity.volume)));
  }
};

/// The files pass lists every entry; the folders pass is what the walk descends into. On
/// Windows each pass is its own directory search; elsewhere a folder may be read once.
enum class ListPass : std::uint8_t { kFiles, kFolders };

/// A file open for reading. Failures answer false and set the last error
/// (platform::GetLastErrorCode) in the Win32 code space.
class IReadFile {
 public:
  virtual ~IReadFile() = default;
  /// Reads up to size bytes; bytesRead 0 means the end of the file.
  virtual bool Read(void* buffer, std::size_t size, std::size_t& bytesRead) = 0;
  /// The file's size in bytes as stored.
  virtual bool GetSize(std::int64_t& size) = 0;
  /// Closes the file; harmless when it is closed. Keeps the last error.
  virtual void Close() = 0;
};

/// The files of one folder, opened from any thread: what a walk hands its counting threads
/// so that they open a folder's files while the walk goes on to other folders. Holds what
/// opening needs (on POSIX, a descriptor of the folder) until its last holder lets go.
class IFolderFiles {
 public:
  virtual ~IFolderFiles() = default;
  /// IFolder::OpenFile, safe to call on several threads at once. listedRegular: the
  /// listing said name is a regular file (FolderEntry::regular).
  virtual bool OpenFile(WStringView name, bool listedRegular, IReadFile& file) const = 0;
};

/// One open folder of a walk, listed one pass at a time.
class IFolder {
 public:
  virtual ~IFolder() = default;
  /// The folder's identity; false when the platform cannot tell (the walk then has no
  /// guard against meeting this folder twice).
  virtual bool GetIdentity(FolderIdentity& identity) const = 0;
  /// Starts a pass over the entries ("." and ".." may be among them); false with the last
  /// error set when the folder cannot be listed.
  virtual bool StartListing(ListPass pass) = 0;
  /// The next entry of the pass. False when there is none: last error 18 (no more files)
  /// at the normal end, another code when the listing failed.
  virtual bool NextEntry(FolderEntry& entry) = 0;
  /// Ends the pass; harmless when none is open. Keeps the last error.
  virtual void EndListing() = 0;
  /// The identity of the file or folder the entry NextEntry gave last names (for a link,
  /// of what it leads to), when the listing told it or it was looked up anyway; false when
  /// knowing it would cost another call to the file system (the walk then cannot tell
  /// whether it met this file before). Never asks the file system itself.
  virtual bool GetEntryIdentity(FileIdentity& /*identity*/) const { return false; }
  /// Opens the file name of this folder for reading into file, which must come from the
  /// same disk's NewFile. Only regular files open: a folder, FIFO or device fails with
  /// access denied, so nothing can block or read forever.
  virtual bool OpenFile(WStringView name, IReadFile& file) = 0;
  /// OpenFile for a file the walk reads for itself (an ignore file): a symbolic link (on
  /// Windows any reparse point) named name is not followed and fails with
  /// win32err::kCantResolveFilename, as git reads no rules through a link.
  virtual bool OpenFileRefusingLink(WStringView name, IReadFile& file) = 0;
  /// The folder's files for other threads to open; it may be asked once the files pass has
  /// started and outlives this folder. nullptr when the platform opens files only through
  /// the folder (the walk then opens them itself) or the folder cannot be had (any failure
  /// shows again when the walk opens a file itself).
  virtual std::shared_ptr<const IFolderFiles> ShareFiles() { return nullptr; }
};

/// How opening a folder went.
enum class FolderOpen : std::uint8_t {
  kOpened,
  kPathFailed,  ///< the folder's path could not be formed (last error set)
  kFailed,      ///< the folder could not be opened (last error set)
};

/// Other threads a walk lends its disk, so that the disk opens and lists folders ahead of
/// the walk while the walk's thread goes on.
class IBackgroundWork {
 public:
  using Task = void (*)(void* context);
  /// Runs task(context) once on another thread, soon or when the lender is done (then it
  /// should do no more than let go of what it holds); false when it cannot be queued.
  /// urgent: the caller will wait for it, so a sleeping thread is woken for it; otherwise
  /// it waits for a thread that is awake anyway.
  virtual bool Post(Task task, void* context, bool urgent) = 0;
  /// How many threads take the tasks.
  virtual unsigned Threads() const = 0;

 protected:
  ~IBackgroundWork() = default;
};

/// The file system of a run.
class IDisk {
 public:
  virtual ~IDisk() = default;
  /// The threads the walks started from now on may use, or nullptr for none; work is lent
  /// only for as long as every folder opened with it is open.
  virtual void LendThreads(IBackgroundWork* /*work*/) {}
  /// A closed file object for IFolder::OpenFile and OpenFile; reused from file to file.
  virtual std::unique_ptr<IReadFile> NewFile() = 0;
  /// Opens the folder at a full path, the start of a walk.
  virtual FolderOpen OpenFolder(WStringView fullPath, std::unique_ptr<IFolder>& folder) = 0;
  /// Opens the sub-folder name of parent, an entry of parent's current folders pass.
  /// parent must outlive the child, and stays paused while the child is open: a walk opens
  /// a sub-folder, walks it and closes it before it goes on in the parent.
  virtual FolderOpen OpenSubFolder(IFolder& parent, WStringView name,
                                   std::unique_ptr<IFolder>& folder) = 0;
  /// Opens the file at a full path for reading, with the rules of IFolder::OpenFile.
  virtual bool OpenFile(WStringView fullPath, IReadFile& file) = 0;
  /// How many sub-folders walks with threads lent have opened on the walk's own thread
  /// since the process started, instead of taking them opened and listed ahead: how well
  /// the look-ahead keeps up. 0 where the disk opens nothing ahead.
  virtual std::uint64_t FoldersOpenedByWalkThread() const { return 0; }
};

/// The operating system's file system. Lives for the whole process.
IDisk& SystemDisk();

}  // namespace srctally::platform
