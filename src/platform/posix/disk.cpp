// The file system on POSIX. Each folder is opened relative to its parent's descriptor, so a
// tree deeper than PATH_MAX is walked; its entries are read once, sorted by name, and serve
// both passes.
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
  bool Open(int folder, const char* path) {
    Close();
    int fd;
    do {
      fd = ::openat(folder, path, kFileFlags);
    } while (fd < 0 && errno == EINTR);
    // Windows refuses to open a folder as a file with access denied; say the same.
    if (fd < 0) return FailWithErrno(errno == EISDIR ? EACCES : errno);
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
    size = size_;  // from the open's own fstat
    return true;
  }

  void Close() override {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  std::int64_t size_ = 0;
};

class PosixFolder final : public IFolder {
 public:
  PosixFolder(PosixFolder* parent, std::string name)
      : parent_(parent), name_(std::move(name)), depth_(parent ? parent->depth_ + 1 : 0) {}

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
      return posixFile.Open(fd_, names_.c_str() + current_->offset);
    }
    return posixFile.Open(fd_, ToUtf8(name).c_str());
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
    const int listFd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);  // the DIR stream closes it
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
        const std::size_t length = std::strlen(item->d_name);
        if ((length == 1 && item->d_name[0] == '.') ||
            (length == 2 && item->d_name[0] == '.' && item->d_name[1] == '.')) {
          continue;
        }
        entries_.push_back({names_.size(), length, KindOf(*item)});
        names_.append(item->d_name, length + 1);
      }
    } catch (const std::bad_alloc&) {
      ::closedir(folder);
      SetLastErrorCode(win32err::kOutOfMemory);
      return false;
    }
    ::closedir(folder);
    std::sort(entries_.begin(), entries_.end(),
              [this](const Entry& a, const Entry& b) { return NameOf(a) < NameOf(b); });
    listed_ = true;
    return true;
  }

  // The entry type from the listing; links and unknown types are looked at through the
  // link. A link that leads nowhere counts as a file, so opening it reports why.
  EntryKind KindOf(const dirent& item) const {
    switch (item.d_type) {
      case DT_REG:
        return EntryKind::kFile;
      case DT_DIR:
        return EntryKind::kFolder;
      case DT_LNK:
      case DT_UNKNOWN: {
        struct stat info {};
        if (::fstatat(fd_, item.d_name, &info, 0) != 0) return EntryKind::kFile;
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
