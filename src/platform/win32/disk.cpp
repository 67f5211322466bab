// The file system on Windows. A folder is opened once, as a handle, and listed from that
// handle with GetFileInformationByHandleEx (FileIdBothDirectoryInfo): the files pass reads
// the listing and keeps its sub-folders, which the folders pass then hands out, so a
// folder is listed once. Its files and sub-folders are opened by their names inside that
// handle (NtCreateFile with the folder as root), writers denied: the system looks up one
// name, not every part of an ever longer path, so on Windows a level costs the same at
// any depth. (Under wine every open still resolves the whole path on the host; there the
// walk gains by making fewer calls per folder: one open and the listing, where it took an
// identity open, an identity query and two searches by path.)
//
// Identity: the source folder, and a folder reached through a reparse point (a junction
// or folder link, the only way back into a tree), ask the system for their volume serial
// number and file index. Any other folder lives on its parent's volume, and its file index
// is the file id its parent's listing gave it, so it costs no call at all.
//
// One path buffer serves every level: it holds the extended-length path of the folder
// being walked, a sub-folder appends its name and each level remembers its own length, so
// going down or up a level costs the length of one name, not of the whole path. Paths are
// used where no folder handle is at hand (the source folder, a folder opened again).
#include "platform/disk.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/status.h"
#include "platform/file.h"
#include "platform/last_error.h"
#include "platform/long_path.h"
#include "platform/win32/folder_open.h"

namespace srctally::platform {
namespace {

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// The bytes one listing call may fill: many entries a call, and at least one entry of the
// longest name (a fixed part of about 100 bytes and 255 UTF-16 units).
constexpr std::size_t kListingBytes = 64 * 1024;

// Others may do anything with a folder while it is listed.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The folder at path, opened for listing; INVALID_HANDLE_VALUE with the last error set.
HANDLE OpenFolderHandle(const char16_t* path) {
  return ::CreateFileW(Wide(path), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                       kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The sub-folder name of the open folder, opened for listing; as OpenFolderHandle.
HANDLE OpenSubFolderHandle(HANDLE folder, WStringView name) {
  return OpenInFolder(folder, name, FILE_LIST_DIRECTORY, kShareAll, FolderMember::kFolder);
}

// The identity of the open folder; false when the system cannot tell.
bool ReadIdentity(HANDLE folder, FolderIdentity& identity) {
  const LastErrorKeeper keeper;  // a folder that cannot be asked is no failure of the walk
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(folder, &info)) return false;
  identity.volume = info.dwVolumeSerialNumber;
  identity.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

// A full path with '/' turned into '\': an extended-length path is taken literally, and
// '/' can be no part of a Windows name.
WString WithBackslashes(WStringView path) {
  WString text(path);
  for (char16_t& ch : text) ch = ch == u'/' ? u'\\' : ch;
  return text;
}

class Win32File final : public IReadFile {
 public:
  // The file at path, or the file path names in the open folder; with refuseLink, a link
  // is refused rather than followed.
  bool Open(WStringView path, HANDLE folder = INVALID_HANDLE_VALUE, bool refuseLink = false) {
    FileOpenMode mode;  // read, writers denied
    mode.refuseLink = refuseLink;
    const std::intptr_t root =
        folder == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(folder);
    return file_.Open(FileLocation{path, root}, mode);
  }
  bool Read(void* buffer, std::size_t size, std::size_t& bytesRead) override {
    return file_.Read(buffer, size, bytesRead);
  }
  bool GetSize(std::int64_t& size) override { return file_.GetSize(size); }
  void Close() override { file_.Close(); }

 private:
  File file_;
};

// Room for a separator, a name of nameLength units and the NUL after a folder path of
// folderLength units; false (last error set) when there is none.
bool NameFits(std::size_t folderLength, std::size_t nameLength) {
  if (folderLength + 1 + nameLength + 1 <= kLongPathCapacity) return true;
  ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return false;
}

// A copy of a folder's handle for the threads that open its files: they open them by name
// inside it, as the folder does, and the last of them to let go closes it, so a file queued
// before the walk left its folder still opens there.
class Win32FolderFiles final : public IFolderFiles {
 public:
  Win32FolderFiles(HANDLE handle, std::size_t pathLength)
      : handle_(handle), pathLength_(pathLength) {}
  ~Win32FolderFiles() override {
    const LastErrorKeeper keeper;
    ::CloseHandle(handle_);
  }
  Win32FolderFiles(const Win32FolderFiles&) = delete;
  Win32FolderFiles& operator=(const Win32FolderFiles&) = delete;

  bool OpenFile(WStringView name, bool /*listedRegular*/, IReadFile& file) const override;

 private:
  HANDLE handle_;
  std::size_t pathLength_;  // of the folder's extended-length path: names fit as they do there
};

// What a folder's listing says of one of its sub-folders.
struct SubFolder {
  std::size_t nameAt;      // in the folder's names text
  std::size_t nameLength;  // in UTF-16 units
  DWORD attributes;
  std::uint64_t fileId;  // 0 when the file system gives none
};

class Win32Folder final : public IFolder {
 public:
  // The folder open as handle, whose extended-length path is the first length units of the
  // shared path; listing is the walk's shared listing buffer.
  Win32Folder(WString& path, std::size_t length, HANDLE handle, std::uint64_t* listing)
      : path_(path), length_(length), handle_(handle), listing_(listing) {}
  ~Win32Folder() override {
    EndListing();
    CloseFolder();
  }

  void SetIdentity(const FolderIdentity& identity) {
    identity_ = identity;
    identityKnown_ = true;
  }
  void AskIdentity() { identityKnown_ = ReadIdentity(handle_, identity_); }

  bool GetIdentity(FolderIdentity& identity) const override {
    identity = identity_;
    return identityKnown_;
  }

  // A plain file lives on its folder's volume under the file id its listing gave it, so a
  // second name of it (a hard link) costs no call. A reparse point (a file link) may lead
  // anywhere: the file it leads to is opened inside this folder and asked, which only links
  // cost.
  bool GetEntryIdentity(FileIdentity& identity) const override {
    if (entryName_.empty()) return false;
    if ((entryAttributes_ & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      if (handle_ == INVALID_HANDLE_VALUE) return false;
      const LastErrorKeeper keeper;  // a link that cannot be asked is counted as it is
      const HANDLE target = OpenInFolder(handle_, entryName_, 0, kShareAll, FolderMember::kFile);
      if (target == INVALID_HANDLE_VALUE) return false;
      const bool known = ReadIdentity(target, identity);
      ::CloseHandle(target);
      return known;
    }
    if (!identityKnown_ || entryId_ == 0) return false;
    identity = {identity_.volume, entryId_};
    return true;
  }

  bool StartListing(ListPass pass) override {
    EndListing();
    pass_ = pass;
    if (pass == ListPass::kFolders) {
      // The sub-folders the files pass kept, or after a files pass that broke off, those of
      // a listing read whole now: the walk opens sub-folders while this pass is paused, and
      // they list into the same buffer.
      if (!complete_ && !ReadListing(nullptr)) return false;
      next_ = 0;
      return true;
    }
    if (!Restart()) {
      // A folder with no entry at all (a drive's empty root) is listed, not failed.
      if (::GetLastError() != ERROR_NO_MORE_FILES) return false;
      ended_ = true;
    }
    reading_ = true;
    return true;
  }

  bool NextEntry(FolderEntry& entry) override {
    entryId_ = 0;
    entryName_ = {};
    if (reading_) return ReadListing(&entry);
    if (pass_ == ListPass::kFolders && next_ < subFolders_.size()) {
      current_ = next_++;
      const SubFolder& folder = subFolders_[current_];
      entry.name = WStringView(names_).substr(folder.nameAt, folder.nameLength);
      entry.kind = EntryKind::kFolder;
      return true;
    }
    ::SetLastError(ERROR_NO_MORE_FILES);
    return false;
  }

  void EndListing() override {
    reading_ = false;
    ended_ = false;
    at_ = nullptr;
    current_ = kNone;
  }

  std::shared_ptr<const IFolderFiles> ShareFiles() override {
    if (handle_ == INVALID_HANDLE_VALUE) return nullptr;  // the walk opens them by path
    const LastErrorKeeper keeper;  // not shared: any failure shows when the walk opens one
    const HANDLE process = ::GetCurrentProcess();
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(process, handle_, process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
      return nullptr;
    }
    try {
      return std::make_shared<Win32FolderFiles>(copy, length_);
    } catch (const std::bad_alloc&) {
      ::CloseHandle(copy);
      return nullptr;
    }
  }

  bool OpenFile(WStringView name, IReadFile& file) override {
    if (!FitsName(name.size())) return false;
    if (handle_ != INVALID_HANDLE_VALUE) return static_cast<Win32File&>(file).Open(name, handle_);
    const WString fileName(name);
    return static_cast<Win32File&>(file).Open(PathWith(fileName.c_str()));
  }

  bool OpenFileRefusingLink(WStringView name, IReadFile& file) override {
    if (!FitsName(name.size())) return false;
    if (handle_ != INVALID_HANDLE_VALUE) {
      return static_cast<Win32File&>(file).Open(name, handle_, true);
    }
    const WString fileName(name);
    return static_cast<Win32File&>(file).Open(PathWith(fileName.c_str()), INVALID_HANDLE_VALUE,
                                              true);
  }

  // The open folder's handle; INVALID_HANDLE_VALUE when it was closed.
  HANDLE handle() const { return handle_; }

  // The path of the sub-folder name in the shared buffer; false (last error set) when it
  // would not fit an extended-length path.
  bool MakeChildPath(WStringView name, std::size_t& length) {
    if (!FitsName(name.size())) return false;
    SetTo(length_);
    path_ += name;
    length = path_.size();
    return true;
  }

  // What the listing said of name, the entry the folders pass handed out last; null when
  // name is not that entry.
  const SubFolder* Listed(WStringView name) const {
    if (current_ == kNone) return nullptr;
    const SubFolder& folder = subFolders_[current_];
    if (WStringView(names_).substr(folder.nameAt, folder.nameLength) != name) return nullptr;
    return &folder;
  }

  const FolderIdentity* KnownIdentity() const { return identityKnown_ ? &identity_ : nullptr; }

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  // Starts reading the listing from its first entry, opening the folder again if the
  // handle was closed; false with the last error set (18 when there is no entry).
  bool Restart() {
    subFolders_.clear();
    names_.clear();
    complete_ = false;
    ended_ = false;
    if (handle_ == INVALID_HANDLE_VALUE) {
      handle_ = OpenFolderHandle(Path());
      if (handle_ == INVALID_HANDLE_VALUE) return false;
    }
    return Fill(FileIdBothDirectoryRestartInfo);
  }

  // With entry, the next entry of the files pass; without, the whole listing (from its
  // start). Either way each sub-folder is kept for the folders pass. False at the end (last
  // error 18) or when the listing broke off (another last error).
  bool ReadListing(FolderEntry* entry) {
    if (entry == nullptr && !Restart()) {
      if (::GetLastError() != ERROR_NO_MORE_FILES) return false;
      ended_ = true;
    }
    for (;;) {
      if (at_ == nullptr) {
        if (ended_ || !Fill(FileIdBothDirectoryInfo)) {
          if (!ended_ && ::GetLastError() != ERROR_NO_MORE_FILES) return false;
          Finish();
          return entry == nullptr;
        }
      }
      const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at_);
      at_ = info->NextEntryOffset == 0 ? nullptr : at_ + info->NextEntryOffset;
      const WStringView name(reinterpret_cast<const char16_t*>(info->FileName),
                             info->FileNameLength / sizeof(char16_t));
      const bool isFolder = (info->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (isFolder && name != u"." && name != u"..") {
        subFolders_.push_back({names_.size(), name.size(), info->FileAttributes,
                               static_cast<std::uint64_t>(info->FileId.QuadPart)});
        names_ += name;
      }
      if (entry == nullptr) continue;
      entry->name = name;
      entry->kind = isFolder ? EntryKind::kFolder : EntryKind::kFile;
      entryName_ = name;
      entryAttributes_ = info->FileAttributes;
      entryId_ = static_cast<std::uint64_t>(info->FileId.QuadPart);
      return true;
    }
  }

  // One listing call into the shared buffer; false with the last error set (18 at the end).
  bool Fill(FILE_INFO_BY_HANDLE_CLASS request) {
    at_ = nullptr;
    if (!::GetFileInformationByHandleEx(handle_, request, listing_, kListingBytes)) return false;
    at_ = reinterpret_cast<const unsigned char*>(listing_);
    return true;
  }

  // The listing was read to its end: the sub-folders are whole. The handle stays open, for
  // the files and sub-folders opened in it.
  void Finish() {
    ended_ = true;
    at_ = nullptr;
    complete_ = true;
    ::SetLastError(ERROR_NO_MORE_FILES);
  }

  void CloseFolder() {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    const LastErrorKeeper keeper;
    ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

  // Room for a separator, name and the NUL.
  bool FitsName(std::size_t nameLength) const {
    return NameFits(length_, nameLength);
  }

  // Cuts the shared buffer back to this folder's path and ends it with a separator.
  void SetTo(std::size_t length) {
    path_.resize(length);
    if (path_.empty() || path_.back() != u'\\') path_ += u'\\';
  }

  // This folder's path alone, as a terminated text in the shared buffer.
  const char16_t* Path() {
    path_.resize(length_);
    return path_.c_str();
  }

  // This folder's path, a separator and more, as a terminated text in the shared buffer.
  const char16_t* PathWith(const char16_t* more) {
    SetTo(length_);
    path_ += more;
    return path_.c_str();
  }

  WString& path_;
  std::size_t length_;
  HANDLE handle_;
  std::uint64_t* listing_;
  const unsigned char* at_ = nullptr;  // the next entry in the shared listing buffer
  ListPass pass_ = ListPass::kFiles;
  bool reading_ = false;   // the files pass reads the listing from the handle
  bool ended_ = false;     // the listing being read has no more entries
  bool complete_ = false;  // the listing was read to its end: subFolders_ is whole
  std::vector<SubFolder> subFolders_;
  WString names_;  // the names of subFolders_, one after the other
  std::size_t next_ = 0;         // the next sub-folder the folders pass hands out
  std::size_t current_ = kNone;  // the one it handed out last
  bool identityKnown_ = false;
  FolderIdentity identity_;
  // What the listing told of the entry the files pass gave last (its name is in listing_).
  WStringView entryName_;
  DWORD entryAttributes_ = 0;
  std::uint64_t entryId_ = 0;  // 0 when the file system gives none
};

bool Win32FolderFiles::OpenFile(WStringView name, bool /*listedRegular*/,
                                IReadFile& file) const {
  if (!NameFits(pathLength_, name.size())) return false;
  return static_cast<Win32File&>(file).Open(name, handle_);
}

class Win32Disk final : public IDisk {
 public:
  std::unique_ptr<IReadFile> NewFile() override { return std::make_unique<Win32File>(); }

  FolderOpen OpenFolder(WStringView fullPath, std::unique_ptr<IFolder>& folder) override {
    const WString text = WithBackslashes(fullPath);
    LongPath extended;
    if (!extended.Set(text.c_str())) return FolderOpen::kPathFailed;
    if (!listing_) {
      listing_.reset(new (std::nothrow) std::uint64_t[kListingBytes / sizeof(std::uint64_t)]);
      if (!listing_) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FolderOpen::kFailed;
      }
    }
    path_.reserve(kLongPathCapacity + 4);
    path_.assign(extended.view());
    // Without its final separator, unless that is all a root has ("\\?\C:\").
    if (path_.size() > 1 && path_.back() == u'\\' && path_[path_.size() - 2] != u':') {
      path_.pop_back();
    }
    const std::size_t length = path_.size();
    const HANDLE handle = OpenFolderHandle(path_.c_str());
    if (handle == INVALID_HANDLE_VALUE) return FolderOpen::kFailed;
    auto opened = std::make_unique<Win32Folder>(path_, length, handle, listing_.get());
    // Where the walk starts, a loop may close: the system tells the identity.
    opened->AskIdentity();
    folder = std::move(opened);
    return FolderOpen::kOpened;
  }

  FolderOpen OpenSubFolder(IFolder& parent, WStringView name,
                           std::unique_ptr<IFolder>& folder) override {
    auto& owner = static_cast<Win32Folder&>(parent);
    std::size_t length = 0;
    if (!owner.MakeChildPath(name, length)) return FolderOpen::kPathFailed;
    const HANDLE handle = owner.handle() != INVALID_HANDLE_VALUE
                              ? OpenSubFolderHandle(owner.handle(), name)
                              : OpenFolderHandle(path_.c_str());
    if (handle == INVALID_HANDLE_VALUE) return FolderOpen::kFailed;
    auto opened = std::make_unique<Win32Folder>(path_, length, handle, listing_.get());
    const SubFolder* listed = owner.Listed(name);
    const FolderIdentity* parentIdentity = owner.KnownIdentity();
    if (listed != nullptr && parentIdentity != nullptr && listed->fileId != 0 &&
        (listed->attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      // A plain sub-folder: on its parent's volume, under the id the listing gave it.
      opened->SetIdentity({parentIdentity->volume, listed->fileId});
    } else {
      // A junction or folder link may lead anywhere, back up the tree included.
      opened->AskIdentity();
    }
    folder = std::move(opened);
    return FolderOpen::kOpened;
  }

  bool OpenFile(WStringView fullPath, IReadFile& file) override {
    const WString text = WithBackslashes(fullPath);
    if (!filePath_.Set(text.c_str())) return false;
    return static_cast<Win32File&>(file).Open(filePath_.view());
  }

 private:
  WString path_;  // the extended-length path of the folder being walked
  LongPath filePath_;
  // The listing buffer every folder reads into in turn: a folder reads its listing whole
  // before any sub-folder of it is opened.
  std::unique_ptr<std::uint64_t[]> listing_;
};

}  // namespace

IDisk& SystemDisk() {
  static Win32Disk disk;
  return disk;
}

}  // namespace srctally::platform
