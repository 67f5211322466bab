// Folder listings on POSIX. Each level is opened relative to its parent's descriptor, so a
// tree deeper than PATH_MAX is walked; its entries are read once, sorted by name, and used
// for both passes. To stay far from the descriptor limit in very deep trees, levels below
// kKeepOpenDepth give their descriptor up while a sub-folder is walked (except every
// kAnchorSpacing-th level, the anchors) and reopen it from the nearest open ancestor.
#include "platform/folder_search.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "base/status.h"
#include "platform/last_error.h"

namespace srctally::platform {
namespace {
constexpr int kKeepOpenDepth = 64;
constexpr int kAnchorSpacing = 16;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

bool FailWithErrno() {
  SetLastErrorCode(Win32ErrorFromErrno(errno));
  return false;
}

EntryKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::kFile;
  if (S_ISDIR(mode)) return EntryKind::kFolder;
  return EntryKind::kOther;
}
}  // namespace

struct CFolderSearch::State {
  struct Entry {
    std::string name;  // the name's bytes as the file system holds them
    EntryKind kind;
  };

  State* parent = nullptr;
  std::string name;  // the full path for the first level, else the name in the parent
  int depth = 0;
  int fd = -1;
  FolderIdentity identity;
  bool listed = false;
  std::uint32_t listError = 0;  // a failure met while reading, reported after the entries
  std::vector<Entry> entries;
  std::size_t next = 0;
  WString current;

  ~State() { CloseDescriptor(); }

  void CloseDescriptor() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }

  bool Open() {
    if (parent == nullptr) {
      fd = ::open(name.c_str(), kFolderFlags);
    } else {
      if (!parent->Reopen()) return false;
      fd = ::openat(parent->fd, name.c_str(), kFolderFlags);
      if (fd >= 0 && parent->MayRelease()) parent->CloseDescriptor();
    }
    if (fd < 0) return FailWithErrno();
    struct stat info {};
    if (::fstat(fd, &info) != 0) return FailWithErrno();
    identity = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
    return true;
  }

  // Gets the descriptor back after a sub-folder walk took it, from the nearest ancestor
  // that kept its own, and checks that the same folder was reached.
  bool Reopen() {
    if (fd >= 0) return true;
    if (parent == nullptr || !parent->Reopen()) return false;
    const int reopened = ::openat(parent->fd, name.c_str(), kFolderFlags);
    if (reopened < 0) return FailWithErrno();
    struct stat info {};
    if (::fstat(reopened, &info) != 0 ||
        FolderIdentity{static_cast<std::uint64_t>(info.st_dev),
                       static_cast<std::uint64_t>(info.st_ino)} != identity) {
      ::close(reopened);
      SetLastErrorCode(win32err::kPathNotFound);  // the folder was replaced meanwhile
      return false;
    }
    fd = reopened;
    if (parent->MayRelease()) parent->CloseDescriptor();
    return true;
  }

  bool MayRelease() const { return depth >= kKeepOpenDepth && depth % kAnchorSpacing != 0; }

  bool List() {
    const int listFd = ::dup(fd);
    if (listFd < 0) return FailWithErrno();
    DIR* folder = ::fdopendir(listFd);
    if (folder == nullptr) {
      const int error = errno;
      ::close(listFd);
      errno = error;
      return FailWithErrno();
    }
    try {
      for (;;) {
        errno = 0;
        const dirent* item = ::readdir(folder);
        if (item == nullptr) {
          if (errno != 0) listError = Win32ErrorFromErrno(errno);
          break;
        }
        const std::string_view entryName = item->d_name;
        if (entryName == "." || entryName == "..") continue;
        entries.push_back({std::string(entryName), KindOf(*item)});
      }
    } catch (const std::bad_alloc&) {
      ::closedir(folder);
      SetLastErrorCode(win32err::kOutOfMemory);
      return false;
    }
    ::closedir(folder);
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    listed = true;
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
        if (::fstatat(fd, item.d_name, &info, 0) != 0) return EntryKind::kFile;
        return KindOfMode(info.st_mode);
      }
      default:
        return EntryKind::kOther;
    }
  }
};

CFolderSearch::CFolderSearch(WStringView sourcePath, WStringView relativeFolder)
    : state_(std::make_unique<State>()) {
  state_->name = ToUtf8(sourcePath) + ToUtf8(relativeFolder);
}

CFolderSearch::CFolderSearch(CFolderSearch& parent, WStringView name,
                             WStringView /*relativeFolder*/)
    : state_(std::make_unique<State>()) {
  state_->parent = parent.state_.get();
  state_->name = ToUtf8(name);
  state_->depth = parent.state_->depth + 1;
}

CFolderSearch::~CFolderSearch() = default;

SearchStart CFolderSearch::Start(SearchPass pass) {
  State& state = *state_;
  if (!state.listed) {
    if (state.fd < 0 && !state.Open()) return SearchStart::kFailed;
    if (!state.List()) return SearchStart::kFailed;
  }
  if (pass == SearchPass::kFolders) {
    // Only the sub-folders are needed from here on: drop the files while they are walked.
    std::erase_if(state.entries,
                  [](const State::Entry& entry) { return entry.kind != EntryKind::kFolder; });
    state.entries.shrink_to_fit();
    state.listError = 0;  // reported once, by the files pass
  }
  state.next = 0;
  return SearchStart::kStarted;
}

bool CFolderSearch::Next(FolderEntry& entry) {
  State& state = *state_;
  if (state.next >= state.entries.size()) {
    SetLastErrorCode(state.listError != 0 ? state.listError : win32err::kNoMoreFiles);
    return false;
  }
  const State::Entry& item = state.entries[state.next++];
  state.current = FromUtf8Lossless(item.name);
  entry.name = state.current;
  entry.kind = item.kind;
  return true;
}

void CFolderSearch::Close() { state_->next = state_->entries.size(); }

bool CFolderSearch::GetIdentity(FolderIdentity& identity) const {
  if (state_->fd < 0 && !state_->listed) return false;
  identity = state_->identity;
  return true;
}

bool CFolderSearch::LocateFile(WStringView name, FileLocation& location) {
  if (!state_->Reopen()) return false;
  location.path = name;
  location.folder = state_->fd;
  return true;
}

}  // namespace srctally::platform
