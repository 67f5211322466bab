// The file system on POSIX. Each folder is opened relative to its parent's descriptor, so a
// tree deeper than PATH_MAX is walked; its entries are read once, sorted by name, and serve
// both passes. On Linux they are read straight from the folder's own descriptor into one
// buffer that the whole walk shares (getdents64), a few system calls per folder; elsewhere
// through a directory stream on a copy of the descriptor.
//
// Descriptors stay few whatever the depth: below the first kKeepOpenDepth levels a folder
// gives its descriptor up while a sub-folder is walked. When that sub-folder is done and
// the parent has more sub-folders to open, the parent is reopened as the sub-folder's ".."
// (one call) if that is the same folder (it is not when the sub-folder was a link), or else
// by name from its nearest ancestor that still holds a descriptor.
#include "platform/disk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "base/status.h"
#include "platform/last_error.h"

namespace srctally::platform {
namespace {

constexpr int kKeepOpenDepth = 16;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;
// O_NONBLOCK keeps a FIFO from blocking the open; it changes nothing for a regular file,
// the only kind that is then read.
constexpr int kFileFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
#ifdef __linux__
// The listing buffer: a folder of a few thousand entries is read in one call.
constexpr std::size_t kListBytes = 64 * 1024;
// Where a getdents64 record's name starts, after inode, offset, length and type.
constexpr std::size_t kNameOffset = 19;
#endif

bool FailWithErrno(int error) {
  SetLastErrorCode(Win32ErrorFromErrno(error));
  return false;
}

FolderIdentity IdentityOf(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

EntryKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::kFile;
  if (S_ISDIR(mode)) return EntryKind::kFolder;
  return EntryKind::kOther;
}

class PosixFile final : public IReadFile {
 public:
  ~PosixFile() override { Close(); }

  // Opens path relative to folder (AT_FDCWD for a full path); only regular files.
  // listedRegular: the folder's listing says path is a regular file itself, not a link. Its
  // kind is not asked again, and its size only if GetSize is called; a link put in its
  // place since the listing is not followed.
  // refuseLink: a link at path fails (ELOOP) instead of being followed.
  bool Open(int folder, const char* path, bool listedRegular = false, bool refuseLink = false) {
    Close();
    int fd;
    do {
      fd = ::openat(folder, path, kFileFlags | (listedRegular || refuseLink ? O_NOFOLLOW : 0));
    } while (fd < 0 && errno == EINTR);
    // Windows refuses to open a folder as a file with access denied; say the same.
    if (fd < 0) return FailWithErrno(errno == EISDIR ? EACCES : errno);
    if (listedRegular) {
      fd_ = fd;
      size_ = -1;
      return true;
    }
    struct stat info {};
    const bool statFailed = ::fstat(fd, &info) != 0;
    if (statFailed || !S_ISREG(info.st_mode)) {
      const int error = statFailed ? errno : EACCES;
      ::close(fd);
      return FailWithErrno(error);
    }
    fd_ = fd;
    size_ = static_cast<std::int64_t>(info.st_size);
    return true;
  }

  bool Read(void* buffer, std::size_t size, std::size_t& bytesRead) override {
    bytesRead = 0;
    if (fd_ < 0) {
      SetLastErrorCode(win32err::kInvalidHandle);
      return false;
    }
    ssize_t got;
    do {
      got = ::read(fd_, buffer, size);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return FailWithErrno(errno);
    bytesRead = static_cast<std::size_t>(got);
    return true;
  }

  bool GetSize(std::int64_t& size) override {
    if (fd_ < 0) {
      SetLastErrorCode(win32err::kInvalidHandle);
      return false;
    }
    if (size_ < 0) {
      struct stat info {};
      if (::fstat(fd_, &info) != 0) return FailWithErrno(errno);
      size_ = static_cast<std::int64_t>(info.st_size);
    }
    size = size_;
    return true;
  }

  void Close() override {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  std::int64_t size_ = 0;  // -1 while it was not asked for
};

#ifdef __linux__
// The buffer a walk lists its folders into, one folder at a time.
struct ListBuffer {
  alignas(8) char bytes[kListBytes];
};
#endif

class PosixFolder final : public IFolder {
 public:
  PosixFolder(PosixFolder* parent, std::string name)
      : parent_(parent), name_(std::move(name)), depth_(parent ? parent->depth_ + 1 : 0) {
#ifdef __linux__
    if (parent != nullptr) listBuffer_ = parent->listBuffer_;
#endif
  }

  ~PosixFolder() override {
    // The parent has more sub-folders to open: its descriptor is this folder's "..",
    // unless this folder was reached through a link.
    if (parent_ != nullptr && parent_->fd_ < 0 && fd_ >= 0 && parent_->HasEntriesLeft()) {
      const int up = ::openat(fd_, "..", kFolderFlags);
      struct stat info {};
      if (up >= 0 && ::fstat(up, &info) == 0 && IdentityOf(info) == parent_->identity_) {
        parent_->fd_ = up;
      } else if (up >= 0) {
        ::close(up);
      }
    }
    CloseDescriptor();
  }

  // Opens the folder: by full path without a parent, else relative to the parent, which
  // then gives up its descriptor if it is deep enough.
  bool Open() {
    int fd;
    if (parent_ == nullptr) {
      fd = ::open(name_.c_str(), kFolderFlags);
    } else {
      if (!parent_->EnsureOpen()) return false;
      fd = ::openat(parent_->fd_, name_.c_str(), kFolderFlags);
    }
    if (fd < 0) return FailWithErrno(errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
      const int error = errno;
      ::close(fd);
      return FailWithErrno(error);
    }
    fd_ = fd;
    identity_ = IdentityOf(info);
    if (parent_ != nullptr && parent_->depth_ >= kKeepOpenDepth) parent_->CloseDescriptor();
    return true;
  }

  bool GetIdentity(FolderIdentity& identity) const override {
    identity = identity_;
    return true;
  }

  bool StartListing(ListPass pass) override {
    if (!listed_ && !List()) return false;
    if (pass == ListPass::kFolders) {
      // Only the sub-folders are needed from here on.
      std::erase_if(entries_, [](const Entry& entry) { return entry.kind != EntryKind::kFolder; });
      listError_ = 0;  // reported once, by the files pass
    }
    next_ = 0;
    return true;
  }

  bool NextEntry(FolderEntry& entry) override {
    if (next_ >= entries_.size()) {
      SetLastErrorCode(listError_ != 0 ? listError_ : win32err::kNoMoreFiles);
      return false;
    }
    current_ = &entries_[next_++];
    currentName_ = FromUtf8Lossless(NameOf(*current_));
    entry.name = currentName_;
    entry.kind = current_->kind;
    return true;
  }

  void EndListing() override {
    next_ = entries_.size();
    current_ = nullptr;
  }

  bool OpenFile(WStringView name, IReadFile& file) override {
    if (!EnsureOpen()) return false;
    auto& posixFile = static_cast<PosixFile&>(file);
    // The current entry's own bytes, without a round trip through UTF-16.
    if (current_ != nullptr && name.data() == currentName_.data() &&
        name.size() == currentName_.size()) {
      return posixFile.Open(fd_, names_.c_str() + current_->offset, current_->plain);
    }
    return posixFile.Open(fd_, ToUtf8(name).c_str());
  }

  bool OpenFileRefusingLink(WStringView name, IReadFile& file) override {
    if (!EnsureOpen()) return false;
    return static_cast<PosixFile&>(file).Open(fd_, ToUtf8(name).c_str(), false, true);
  }

  const std::string& RawName(WStringView name) {
    if (current_ != nullptr && name.data() == currentName_.data()) {
      scratch_.assign(NameOf(*current_));
    } else {
      scratch_ = ToUtf8(name);
    }
    return scratch_;
  }

 private:
  struct Entry {
    std::size_t offset;  // of the name's bytes in names_, NUL-terminated there
    std::size_t length;
    EntryKind kind;
    bool plain;  // listed as a regular file by its own type, not through a link
  };

  std::string_view NameOf(const Entry& entry) const {
    return std::string_view(names_).substr(entry.offset, entry.length);
  }

  bool HasEntriesLeft() const { return next_ < entries_.size(); }

  void CloseDescriptor() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Gets a descriptor back after a sub-folder walk took it: opens each folder by name from
  // the nearest ancestor that holds one, checking that the same folders are reached.
  bool EnsureOpen() {
    if (fd_ >= 0) return true;
    std::vector<PosixFolder*> chain;
    PosixFolder* open = this;
    for (; open != nullptr && open->fd_ < 0; open = open->parent_) chain.push_back(open);
    if (open == nullptr) {  // the first level never gives its descriptor up
      SetLastErrorCode(win32err::kInvalidHandle);
      return false;
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      PosixFolder& folder = **it;
      const int fd = ::openat(folder.parent_->fd_, folder.name_.c_str(), kFolderFlags);
      if (fd < 0) return FailWithErrno(errno);
      struct stat info {};
      if (::fstat(fd, &info) != 0 || IdentityOf(info) != folder.identity_) {
        ::close(fd);
        SetLastErrorCode(win32err::kPathNotFound);  // the folder was replaced meanwhile
        return false;
      }
      folder.fd_ = fd;
    }
    // Only this level needs its descriptor now; the deep ones in between give theirs up.
    for (PosixFolder* folder : chain) {
      if (folder != this && folder->depth_ >= kKeepOpenDepth) folder->CloseDescriptor();
    }
    return true;
  }

  bool List() {
    if (!EnsureOpen()) return false;
    try {
      if (!ReadEntries()) return false;
    } catch (const std::bad_alloc&) {
      SetLastErrorCode(win32err::kOutOfMemory);
      return false;
    }
    std::sort(entries_.begin(), entries_.end(),
              [this](const Entry& a, const Entry& b) { return NameOf(a) < NameOf(b); });
    listed_ = true;
    return true;
  }

  // Keeps an entry of the listing, unless it is "." or "..". type is its d_type.
  void AddEntry(const char* name, unsigned char type) {
    const std::size_t length = std::strlen(name);
    if (name[0] == '.' && (length == 1 || (length == 2 && name[1] == '.'))) return;
    entries_.push_back({names_.size(), length, KindOf(name, type), type == DT_REG});
    names_.append(name, length + 1);
  }

#ifdef __linux__
  // Reads the entries with getdents64 on the folder's own descriptor, which is read only
  // this once: nothing else lists it, and opening entries does not depend on its offset.
  bool ReadEntries() {
    ListBuffer& buffer = SharedListBuffer();
    for (;;) {
      const long got = ::syscall(SYS_getdents64, fd_, buffer.bytes, sizeof(buffer.bytes));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        // A folder removed while it is open reads as empty, as the C library's readdir says.
        if (errno != ENOENT) listError_ = Win32ErrorFromErrno(errno);
        return true;
      }
      if (got == 0) return true;
      // Each record: inode (8 bytes), offset (8), record length (2), type (1), then the
      // name, NUL-terminated within the record.
      const std::size_t size = static_cast<std::size_t>(got);
      for (std::size_t at = 0; at + kNameOffset < size;) {
        const char* record = buffer.bytes + at;
        std::uint64_t inode = 0;
        std::uint16_t length = 0;
        std::memcpy(&inode, record, sizeof(inode));
        std::memcpy(&length, record + 16, sizeof(length));
        if (length <= kNameOffset || length > size - at) break;  // never from the kernel
        // An inode of 0 marks a deleted entry, which readdir passes over as well.
        if (inode != 0) AddEntry(record + kNameOffset, static_cast<unsigned char>(record[18]));
        at += length;
      }
    }
  }

  // The walk's one listing buffer, owned by its first level and made when first needed.
  // A level takes it from the nearest level above that knows it: its parent, which was
  // listed before it, so finding it costs the same at any depth.
  ListBuffer& SharedListBuffer() {
    if (listBuffer_ == nullptr) {
      PosixFolder* top = this;
      while (top->listBuffer_ == nullptr && top->parent_ != nullptr) top = top->parent_;
      if (top->listBuffer_ == nullptr) {
        if (!top->ownListBuffer_) {
          top->ownListBuffer_ = std::make_unique_for_overwrite<ListBuffer>();
        }
        top->listBuffer_ = top->ownListBuffer_.get();
      }
      listBuffer_ = top->listBuffer_;
    }
    return *listBuffer_;
  }
#else
  // Reads the entries through a directory stream on a copy of the descriptor, which the
  // stream closes.
  bool ReadEntries() {
    const int listFd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (listFd < 0) return FailWithErrno(errno);
    DIR* folder = ::fdopendir(listFd);
    if (folder == nullptr) {
      const int error = errno;
      ::close(listFd);
      return FailWithErrno(error);
    }
    try {
      for (;;) {
        errno = 0;
        const dirent* item = ::readdir(folder);
        if (item == nullptr) {
          if (errno != 0) listError_ = Win32ErrorFromErrno(errno);
          break;
        }
        AddEntry(item->d_name, item->d_type);
      }
    } catch (...) {
      ::closedir(folder);
      throw;
    }
    ::closedir(folder);
    return true;
  }
#endif

  // The entry type from the listing; links and unknown types are looked at through the
  // link. A link that leads nowhere counts as a file, so opening it reports why.
  EntryKind KindOf(const char* name, unsigned char type) const {
    switch (type) {
      case DT_REG:
        return EntryKind::kFile;
      case DT_DIR:
        return EntryKind::kFolder;
      case DT_LNK:
      case DT_UNKNOWN: {
        struct stat info {};
        if (::fstatat(fd_, name, &info, 0) != 0) return EntryKind::kFile;
        return KindOfMode(info.st_mode);
      }
      default:
        return EntryKind::kOther;
    }
  }

  PosixFolder* parent_;
  std::string name_;  // the full path for the first level, else the name in the parent
  int depth_;
  int fd_ = -1;
  FolderIdentity identity_;
  bool listed_ = false;
  std::uint32_t listError_ = 0;  // a failure met while reading, reported after the entries
  std::string names_;            // every entry's name, each ending with a NUL
  std::vector<Entry> entries_;
  std::size_t next_ = 0;
  const Entry* current_ = nullptr;
  WString currentName_;
  std::string scratch_;
#ifdef __linux__
  ListBuffer* listBuffer_ = nullptr;           // the walk's, once known to this level
  std::unique_ptr<ListBuffer> ownListBuffer_;  // the first level's, for the whole walk
#endif
};

class PosixDisk final : public IDisk {
 public:
  std::unique_ptr<IReadFile> NewFile() override { return std::make_unique<PosixFile>(); }

  FolderOpen OpenFolder(WStringView fullPath, std::unique_ptr<IFolder>& folder) override {
    auto opened = std::make_unique<PosixFolder>(nullptr, ToUtf8(fullPath));
    if (!opened->Open()) return FolderOpen::kFailed;
    folder = std::move(opened);
    return FolderOpen::kOpened;
  }

  FolderOpen OpenSubFolder(IFolder& parent, WStringView name,
                           std::unique_ptr<IFolder>& folder) override {
    auto& posixParent = static_cast<PosixFolder&>(parent);
    auto opened = std::make_unique<PosixFolder>(&posixParent, posixParent.RawName(name));
    if (!opened->Open()) return FolderOpen::kFailed;
    folder = std::move(opened);
    return FolderOpen::kOpened;
  }

  bool OpenFile(WStringView fullPath, IReadFile& file) override {
    if (fullPath.empty() || fullPath.find(u'\0') != WStringView::npos) {
      SetLastErrorCode(fullPath.empty() ? win32err::kFileNotFound : win32err::kInvalidName);
      return false;
    }
    return static_cast<PosixFile&>(file).Open(AT_FDCWD, ToUtf8(fullPath).c_str());
  }
};

}  // namespace

IDisk& SystemDisk() {
  static PosixDisk disk;
  return disk;
}

}  // namespace srctally::platform
