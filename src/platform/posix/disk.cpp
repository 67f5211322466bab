// The file system on POSIX. Each folder is opened relative to its parent's descriptor, so a
// tree deeper than PATH_MAX is walked; its entries are read once, sorted by name, and serve
// both passes. On Linux they are read straight from the folder's own descriptor into one
// buffer that the whole walk shares (getdents64), a few system calls per folder; elsewhere
// through a directory stream on a copy of the descriptor.
//
// Descriptors stay few whatever the depth: below the first kKeepOpenDepth levels a folder
// gives its descriptor up while a sub-folder is walked. When a folder that holds its
// descriptor is done, the nearest level above it that has more sub-folders to open and no
// descriptor takes one back through ".." ("../.." and so on over the levels in between,
// which have nothing left to open): one call, checked to reach the same folder, so each
// folder costs the same few calls at any depth and in any shape of tree. ".." does not lead
// back through a link, so a folder reached through a link keeps its parent's descriptor
// open (up to kMaxLinkHolds of them at once); beyond that, or when the check fails (a
// folder moved meanwhile), a level is reopened by name from its nearest ancestor that
// still holds a descriptor.
#include "platform/disk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "base/status.h"
#include "platform/last_error.h"

namespace srctally::platform {
namespace {

constexpr int kKeepOpenDepth = 16;
// With threads lent, folders are opened and listed ahead of the walk when they come at
// most this many folders after the one the walk is in, counting each folder before them in
// walk order that is known to come first (a sub-folder's earlier siblings and its
// ancestors): those the walk will want soonest, whatever the shape of the tree.
constexpr std::size_t kAheadReach = 5;
// The most folders opened ahead and not yet taken in a whole walk: each holds a descriptor.
constexpr int kMaxAhead = 32;
// The levels above the walk's folder looked at for a folder opened ahead that gives up its
// place to one the walk wants sooner.
constexpr int kDropScan = 64;
// The most folder descriptors waiting for a lent thread to close them.
constexpr int kMaxClosing = 16;
// The most parents that keep their descriptor for a sub-folder reached through a link.
constexpr int kMaxLinkHolds = 16;
// The most ".." components one call climbs: "../" times this fits PATH_MAX.
constexpr int kMaxUpLevels = 1000;
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

// A folder's descriptor shared with the threads that open its files; closed by the last
// holder, the folder itself or a file about to be opened. The descriptor is atomic: the
// folder takes it back once it is the only holder, which it learns from the shared count
// and an acquire fence (see CloseDescriptor), an order race checkers cannot see.
class PosixFolderFiles final : public IFolderFiles {
 public:
  explicit PosixFolderFiles(int fd) : fd_(fd) {}
  ~PosixFolderFiles() override {
    const int fd = fd_.load(std::memory_order_relaxed);
    if (fd >= 0) ::close(fd);
  }
  PosixFolderFiles(const PosixFolderFiles&) = delete;
  PosixFolderFiles& operator=(const PosixFolderFiles&) = delete;

  int fd() const { return fd_.load(std::memory_order_relaxed); }
  // Gives the descriptor back to the folder, which then closes it itself.
  void Release() { fd_.store(-1, std::memory_order_relaxed); }

  bool OpenFile(WStringView name, bool listedRegular, IReadFile& file) const override {
    // Each thread encodes names into its own buffer, which stops growing at the longest.
    thread_local std::string bytes;
    bytes.clear();
    char unit[kMaxUtf8CharBytes];
    for (std::size_t i = 0; i < name.size();) {
      if (name[i] == u'\0') {
        SetLastErrorCode(win32err::kInvalidName);
        return false;
      }
      bytes.append(unit, EncodeUtf8Char(name, i, unit));
    }
    return static_cast<PosixFile&>(file).Open(fd(), bytes.c_str(), listedRegular);
  }

 private:
  std::atomic<int> fd_;
};

#ifdef __linux__
// The buffer a walk lists its folders into, one folder at a time.
struct ListBuffer {
  alignas(8) char bytes[kListBytes];
};
#endif

// What the levels of one walk share, owned by its first level and by what is opened ahead.
struct WalkShared {
#ifdef __linux__
  std::unique_ptr<ListBuffer> listBuffer;  // made when first needed
#endif
  int linkHolds = 0;  // parents that keep their descriptor for a sub-folder reached by a link
  IBackgroundWork* work = nullptr;  // the threads lent for opening ahead, if any
  std::atomic<int> ahead{0};        // sub-folders opened ahead and not taken or dropped
  std::atomic<int> closing{0};      // descriptors waiting for a lent thread to close them
  std::mutex aheadMutex;            // with aheadDone, for waiting on one
  std::condition_variable aheadDone;
};

class PosixFolder;

// A sub-folder being opened and listed ahead of the walk on a lent thread. The walk's
// thread takes it when it gets to the sub-folder, or drops it; whichever lets go last
// closes what is left.
struct AheadFolder {
  enum State : int { kWaiting, kRunning, kDone, kDropped };
  // Takes over one of the walk's count of sub-folders opened ahead.
  AheadFolder(std::shared_ptr<WalkShared> walk, std::shared_ptr<PosixFolderFiles> parent)
      : shared(std::move(walk)), parentFiles(std::move(parent)) {}
  ~AheadFolder();
  AheadFolder(const AheadFolder&) = delete;
  AheadFolder& operator=(const AheadFolder&) = delete;

  std::atomic<int> state{kWaiting};
  // The walk no longer wants it (it passed it over, stopped or left its parent): if it is
  // being opened meanwhile, nothing below it is opened ahead.
  std::atomic<bool> abandoned{false};
  std::size_t entry = 0;  // its place among the parent's sub-folders
  std::shared_ptr<WalkShared> shared;
  std::shared_ptr<PosixFolderFiles> parentFiles;  // keeps the parent's descriptor open
  std::unique_ptr<PosixFolder> folder;            // made by the lent thread
  bool opened = false;                            // folder opened and listed
};

// The folder levels above the folder open at start, through "..": a new descriptor, or -1.
int OpenUp(int start, int levels) {
  char path[3 * kMaxUpLevels];
  int fd = start;
  while (levels > 0) {
    const int step = std::min(levels, kMaxUpLevels);
    for (int i = 0; i < step; ++i) std::memcpy(path + 3 * i, "../", 3);
    path[3 * step - 1] = '\0';
    int next;
    do {
      next = ::openat(fd, path, kFolderFlags);
    } while (next < 0 && errno == EINTR);
    if (fd != start) ::close(fd);
    if (next < 0) return -1;
    fd = next;
    levels -= step;
  }
  return fd;
}

class PosixFolder final : public IFolder {
 public:
  // The first level of a walk; path is its full path. work: the threads lent, if any.
  PosixFolder(std::string path, IBackgroundWork* work)
      : parent_(nullptr),
        name_(std::move(path)),
        depth_(0),
        walk_(std::make_shared<WalkShared>()),
        shared_(walk_.get()) {
    shared_->work = work;
  }

  // A sub-folder of parent; viaLink: its entry in parent is a link.
  PosixFolder(PosixFolder& parent, std::string name, bool viaLink)
      : PosixFolder(&parent, parent.depth_ + 1, parent.walk_, std::move(name), viaLink) {}

  // A sub-folder of parent made by a lent thread, which never touches parent: it is
  // attached to it on the walk's thread when taken.
  PosixFolder(PosixFolder* parent, int depth, std::shared_ptr<WalkShared> walk,
              std::string name, bool viaLink)
      : parent_(parent),
        name_(std::move(name)),
        depth_(depth),
        viaLink_(viaLink),
        walk_(std::move(walk)),
        shared_(walk_.get()) {}

  ~PosixFolder() override {
    DropAhead();
    if (attached_) {
      if (fd_ >= 0 && parent_ != nullptr && parent_->fd_ < 0) GiveDescriptorBack();
      if (holdsParent_) --shared_->linkHolds;
    }
    CloseDescriptor();
  }

  // Opens the folder: by full path without a parent, else relative to the parent, which
  // then gives up its descriptor if it is deep enough and ".." leads back to it.
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
    Attach();
    return true;
  }

  // Opens and lists the folder ahead of the walk, on a lent thread, relative to its
  // parent's shared descriptor; false when either fails (the walk then opens it itself,
  // and tells why it fails).
  bool OpenAhead(int parentFd) {
    const int fd = ::openat(parentFd, name_.c_str(), kFolderFlags);
    if (fd < 0) return false;
    struct stat info {};
    fd_ = fd;
    if (::fstat(fd, &info) != 0) return false;
    identity_ = IdentityOf(info);
#ifdef __linux__
    const auto buffer = std::make_unique_for_overwrite<ListBuffer>();
    return List(buffer.get());
#else
    return List(nullptr);
#endif
  }

  // On the walk's thread, once the folder is open: joins it to its parent, which gives up
  // its descriptor if it is deep enough and ".." leads back to it.
  void Attach() {
    attached_ = true;
    if (parent_ != nullptr && parent_->depth_ >= kKeepOpenDepth) {
      if (viaLink_ && shared_->linkHolds < kMaxLinkHolds) {
        ++shared_->linkHolds;
        holdsParent_ = true;
      } else {
        parent_->CloseDescriptor();
      }
    }
  }

  // The sub-folder the current entry of the folders pass names, when a lent thread has
  // opened and listed it (waiting while it does); nullptr when none has.
  std::unique_ptr<PosixFolder> TakeAhead(WStringView name) {
    if (!IsCurrent(name)) return nullptr;
    const std::size_t entry = static_cast<std::size_t>(current_ - entries_.data());
    while (!ahead_.empty() && ahead_.front()->entry < entry) DropFront();
    if (ahead_.empty() || ahead_.front()->entry != entry) return nullptr;
    const std::shared_ptr<AheadFolder> ahead = std::move(ahead_.front());
    ahead_.pop_front();
    int state = AheadFolder::kWaiting;
    // Not started yet: with one lent thread, which is busy counting, it is opened here;
    // with more, one of them takes it soon, and this thread waits, so that it does as
    // little of the work as it can and more threads keep speeding the walk up.
    if (shared_->work->Threads() < 2 &&
        ahead->state.compare_exchange_strong(state, AheadFolder::kDropped)) {
      return nullptr;
    }
    state = ahead->state.load(std::memory_order_acquire);
    if (state == AheadFolder::kWaiting || state == AheadFolder::kRunning) {
      std::unique_lock<std::mutex> lock(shared_->aheadMutex);
      shared_->aheadDone.wait(lock, [&ahead] {
        return ahead->state.load(std::memory_order_acquire) == AheadFolder::kDone;
      });
    }
    if (!ahead->opened) return nullptr;
    std::unique_ptr<PosixFolder> folder = std::move(ahead->folder);
    folder->Attach();
    folder->OpenFirstAhead(0);  // what could not be asked for ahead is wanted next
    return folder;
  }

  bool GetIdentity(FolderIdentity& identity) const override {
    identity = identity_;
    return true;
  }

  bool StartListing(ListPass pass) override {
    if (!listed_) {
      if (!List(nullptr)) return false;
      // Below the first level the walk goes into the sub-folders; the first level's are
      // asked for when its folders pass starts, as a walk of one folder never gets there.
      if (pass == ListPass::kFiles && parent_ != nullptr) OpenFirstAhead(0);
    }
    if (pass == ListPass::kFolders) {
      // Only the sub-folders are needed from here on.
      std::erase_if(entries_, [](const Entry& entry) { return entry.kind != EntryKind::kFolder; });
      listError_ = 0;  // reported once, by the files pass
    }
    next_ = 0;
    current_ = nullptr;
    // Sub-folders opened ahead keep their places: the first ones may have been opened as
    // soon as this folder was listed.
    folderPass_ = pass == ListPass::kFolders;
    if (folderPass_) StartOpeningAhead();
    return true;
  }

  bool NextEntry(FolderEntry& entry) override {
    if (next_ >= entries_.size()) {
      SetLastErrorCode(listError_ != 0 ? listError_ : win32err::kNoMoreFiles);
      return false;
    }
    current_ = &entries_[next_++];
    if (folderPass_) StartOpeningAhead();
    DecodeCurrentName();
    entry.name = currentName_;
    entry.kind = current_->kind;
    entry.linked = current_->linked;
    entry.regular = current_->plain;
    return true;
  }

  void EndListing() override {
    next_ = entries_.size();
    current_ = nullptr;
    if (folderPass_) DropAhead();
  }

  bool GetEntryIdentity(FileIdentity& identity) const override {
    if (current_ == nullptr || !current_->identityKnown) return false;
    identity = current_->identity;
    return true;
  }

  bool OpenFile(WStringView name, IReadFile& file) override {
    if (!EnsureOpen()) return false;
    auto& posixFile = static_cast<PosixFile&>(file);
    // The current entry's own bytes, without a round trip through UTF-16.
    if (IsCurrent(name)) {
      return posixFile.Open(fd_, names_.c_str() + current_->offset, current_->plain);
    }
    return posixFile.Open(fd_, ToUtf8(name).c_str());
  }

  bool OpenFileRefusingLink(WStringView name, IReadFile& file) override {
    if (!EnsureOpen()) return false;
    return static_cast<PosixFile&>(file).Open(fd_, ToUtf8(name).c_str(), false, true);
  }

  std::shared_ptr<const IFolderFiles> ShareFiles() override {
    if (!EnsureOpen()) return nullptr;
    try {
      // The descriptor passes to the shared object, which closes it when the folder and
      // every file queued from it are done with it.
      if (!files_) files_ = std::make_shared<PosixFolderFiles>(fd_);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    return files_;
  }

  const std::string& RawName(WStringView name) {
    if (IsCurrent(name)) {
      scratch_.assign(NameOf(*current_));
    } else {
      scratch_ = ToUtf8(name);
    }
    return scratch_;
  }

  // Whether threads were lent to the walk for opening folders ahead of it.
  bool LooksAhead() const { return shared_->work != nullptr; }

  // Whether the entry name may be a link; true when it is not the current entry.
  bool MayBeLink(WStringView name) const { return !IsCurrent(name) || current_->linked; }

 private:
  struct Entry {
    std::size_t offset;  // of the name's bytes in names_, NUL-terminated there
    std::size_t length;
    EntryKind kind;
    bool plain;   // listed as a regular file by its own type, not through a link
    bool linked;  // a symbolic link: kind and identity are those of what it leads to
    bool identityKnown;
    FileIdentity identity;
  };

  std::string_view NameOf(const Entry& entry) const {
    return std::string_view(names_).substr(entry.offset, entry.length);
  }

  bool IsCurrent(WStringView name) const {
    return current_ != nullptr && name.data() == currentName_.data() &&
           name.size() == currentName_.size();
  }

  bool HasEntriesLeft() const { return next_ < entries_.size(); }

  // Decodes the current entry's name into currentName_, which keeps its capacity from entry
  // to entry: a name never decodes to more units than it has bytes, so it grows only for a
  // name longer than any before it. Not made large up front: every level of a deep walk
  // holds one.
  void DecodeCurrentName() {
    const std::string_view bytes = NameOf(*current_);
    currentName_.resize(bytes.size());
    currentName_.resize(DecodeUtf8Lossless(bytes, currentName_.data(), currentName_.size()));
  }

  // With threads lent and a descriptor at hand, has the next few sub-folders of the folders
  // pass opened and listed on them, within the walk's limit: the one after the entry the
  // walk is at comes first.
  void StartOpeningAhead() {
    if (shared_->work == nullptr || fd_ < 0) return;
    const std::size_t end = std::min(entries_.size(), next_ + kAheadReach - 1);
    while (nextAhead_ < end &&
           OpenAhead(nextAhead_, entries_[nextAhead_], 1 + (nextAhead_ - next_))) {
      ++nextAhead_;
    }
  }

  // Before the folders pass, once this folder is listed: has its first sub-folders that
  // come within reach opened and listed, those not asked for yet. reach: how many folders
  // come before this one in walk order from where the walk is (0 when it is in it). On a
  // lent thread for a folder opened ahead, and again on the walk's thread when it takes it
  // or lists it itself, as the walk then wants them next.
  void OpenFirstAhead(std::size_t reach) {
    if (shared_->work == nullptr || fd_ < 0) return;
    std::size_t folders = 0;  // the place of a sub-folder in the folders pass
    for (const Entry& item : entries_) {
      if (item.kind != EntryKind::kFolder) continue;
      if (folders >= nextAhead_) {
        if (reach + 1 + folders >= kAheadReach || !OpenAhead(folders, item, reach + 1 + folders)) {
          break;
        }
        nextAhead_ = folders + 1;
      }
      ++folders;
    }
  }

  // Has the sub-folder item, entry-th in the folders pass, opened and listed on a lent
  // thread; reach: how many folders come before it in walk order from where the walk is.
  // False when the walk's limit is reached or it cannot be queued.
  bool OpenAhead(std::size_t entry, const Entry& item, std::size_t reach) {
    if (!TakeAheadBudget()) {
      // The walk wants this one next: a folder it wants only after this one's whole
      // subtree gives up its place (in a deep tree, a sibling at each level above).
      if (reach != 1 || !attached_ || !DropFarthestAbove() || !TakeAheadBudget()) return false;
    }
    std::shared_ptr<AheadFolder> ahead;
    try {
      if (!files_) files_ = std::make_shared<PosixFolderFiles>(fd_);
      ahead = std::make_shared<AheadFolder>(walk_, files_);  // owns the count taken
    } catch (const std::bad_alloc&) {
      shared_->ahead.fetch_sub(1, std::memory_order_relaxed);
      return false;
    }
    try {
      ahead->entry = entry;
      ahead->folder = std::make_unique<PosixFolder>(this, depth_ + 1, walk_,
                                                    std::string(NameOf(item)), item.linked);
      ahead->folder->reach_ = reach;
      auto task = std::make_unique<std::shared_ptr<AheadFolder>>(ahead);
      ahead_.push_back(ahead);
      if (!shared_->work->Post(&RunAhead, task.get(), true)) {
        ahead_.pop_back();
        return false;
      }
      task.release();  // the task owns it now
      return true;
    } catch (const std::bad_alloc&) {
      if (!ahead_.empty() && ahead_.back() == ahead) ahead_.pop_back();
      return false;  // opened by the walk when it gets there
    }
  }

  static void RunAhead(void* context) {
    const std::unique_ptr<std::shared_ptr<AheadFolder>> task(
        static_cast<std::shared_ptr<AheadFolder>*>(context));
    AheadFolder& ahead = **task;
    int state = AheadFolder::kWaiting;
    if (!ahead.state.compare_exchange_strong(state, AheadFolder::kRunning)) return;
    try {
      ahead.opened = ahead.folder->OpenAhead(ahead.parentFiles->fd());
      if (ahead.opened && !ahead.abandoned.load(std::memory_order_acquire)) {
        ahead.folder->OpenFirstAhead(ahead.folder->reach_);
      }
    } catch (const std::bad_alloc&) {
      ahead.opened = false;
    }
    ahead.parentFiles.reset();
    {
      const std::lock_guard<std::mutex> lock(ahead.shared->aheadMutex);
      ahead.state.store(AheadFolder::kDone, std::memory_order_release);
    }
    ahead.shared->aheadDone.notify_all();
  }

  void DropFront() {
    int state = AheadFolder::kWaiting;
    ahead_.front()->abandoned.store(true, std::memory_order_release);
    ahead_.front()->state.compare_exchange_strong(state, AheadFolder::kDropped);
    ahead_.pop_front();
  }

  void DropAhead() {
    while (!ahead_.empty()) DropFront();
  }

  // Counts one more folder opened ahead; false when the walk's limit is reached.
  bool TakeAheadBudget() {
    if (shared_->ahead.fetch_add(1, std::memory_order_relaxed) < kMaxAhead) return true;
    shared_->ahead.fetch_sub(1, std::memory_order_relaxed);
    return false;
  }

  // On the walk's thread: of the next kDropScan levels above this folder, the shallowest
  // that holds a sub-folder opened ahead after the one the walk is in drops the last of
  // them, to be asked for again when the walk gets back there. False when none does.
  bool DropFarthestAbove() {
    PosixFolder* holder = nullptr;
    int levels = 0;
    for (PosixFolder* up = parent_; up != nullptr && levels < kDropScan; up = up->parent_) {
      if (up->HoldsAheadOfCurrent()) holder = up;
      ++levels;
    }
    if (holder == nullptr) return false;
    holder->nextAhead_ = holder->ahead_.back()->entry;
    int state = AheadFolder::kWaiting;
    holder->ahead_.back()->abandoned.store(true, std::memory_order_release);
    holder->ahead_.back()->state.compare_exchange_strong(state, AheadFolder::kDropped);
    holder->ahead_.pop_back();  // the last holder closes what it opened
    return true;
  }

  // In the folders pass: a sub-folder after the current entry is opened ahead.
  bool HoldsAheadOfCurrent() const {
    return folderPass_ && current_ != nullptr && !ahead_.empty() &&
           ahead_.back()->entry > static_cast<std::size_t>(current_ - entries_.data());
  }


  void CloseDescriptor() {
    if (files_) {
      const bool alone = files_.use_count() == 1;
      if (alone) {
        // Nothing else holds it, nor can take it: every file queued from it is done.
        std::atomic_thread_fence(std::memory_order_acquire);
        files_->Release();
      }
      files_.reset();  // otherwise the last holder closes it
      if (!alone) {
        fd_ = -1;
        return;
      }
    }
    if (fd_ >= 0) {
      // With threads lent, one of them closes it: closing a folder costs about as much as
      // opening it.
      if (!attached_ || !CloseLater(fd_)) ::close(fd_);
    }
    fd_ = -1;
  }

  // Has a lent thread close fd, unless as many are waiting to be closed as a walk may
  // hold; false when it does not.
  bool CloseLater(int fd) {
    if (shared_->work == nullptr) return false;
    if (shared_->closing.fetch_add(1, std::memory_order_relaxed) >= kMaxClosing) {
      shared_->closing.fetch_sub(1, std::memory_order_relaxed);
      return false;
    }
    // Holds the walk's shared part alive for its count until the task ran.
    auto* task = new (std::nothrow) ClosingFolder{walk_, fd};
    // Not worth waking a thread for: one that is awake, or the end of the walk, closes it.
    if (task == nullptr || !shared_->work->Post(&RunClose, task, false)) {
      delete task;
      shared_->closing.fetch_sub(1, std::memory_order_relaxed);
      return false;
    }
    return true;
  }

  struct ClosingFolder {
    std::shared_ptr<WalkShared> walk;
    int fd;
  };

  static void RunClose(void* context) {
    const std::unique_ptr<ClosingFolder> task(static_cast<ClosingFolder*>(context));
    ::close(task->fd);
    task->walk->closing.fetch_sub(1, std::memory_order_relaxed);
  }

  // This folder is done and holds a descriptor: the nearest level above without one that
  // has sub-folders left to open takes one back, as this folder's ".." repeated over the
  // levels in between (which have nothing left to open and close next), when neither this
  // folder nor one of those was reached through a link.
  void GiveDescriptorBack() {
    int levels = 0;
    const PosixFolder* from = this;
    for (PosixFolder* up = parent_; up != nullptr && up->fd_ < 0; from = up, up = up->parent_) {
      if (from->viaLink_) return;  // its ".." is where the link leads, not up
      ++levels;
      if (!up->HasEntriesLeft()) continue;
      const int fd = OpenUp(fd_, levels);
      if (fd < 0) return;
      struct stat info {};
      if (::fstat(fd, &info) == 0 && IdentityOf(info) == up->identity_) {
        up->fd_ = fd;
      } else {
        ::close(fd);  // moved meanwhile: reopened by name when it is needed
      }
      return;
    }
  }

  // Gets a descriptor back after a sub-folder walk took it: opens each folder by name from
  // the nearest ancestor that holds one, checking that the same folders are reached. The
  // deep levels in between give theirs up again as soon as the next one is open, so this
  // holds two more descriptors at most, however long the way.
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
      PosixFolder& from = *folder.parent_;
      const int fd = ::openat(from.fd_, folder.name_.c_str(), kFolderFlags);
      const int error = errno;
      if (&from != open && from.depth_ >= kKeepOpenDepth) from.CloseDescriptor();
      if (fd < 0) return FailWithErrno(error);
      struct stat info {};
      if (::fstat(fd, &info) != 0 || IdentityOf(info) != folder.identity_) {
        ::close(fd);
        SetLastErrorCode(win32err::kPathNotFound);  // the folder was replaced meanwhile
        return false;
      }
      folder.fd_ = fd;
    }
    return true;
  }

  // Reads the entries into buffer, or into the walk's own when it is null.
  bool List(void* buffer) {
    if (!EnsureOpen()) return false;
    try {
      if (!ReadEntries(buffer)) return false;
    } catch (const std::bad_alloc&) {
      SetLastErrorCode(win32err::kOutOfMemory);
      return false;
    }
    std::sort(entries_.begin(), entries_.end(),
              [this](const Entry& a, const Entry& b) { return NameOf(a) < NameOf(b); });
    listed_ = true;
    return true;
  }

  // Keeps an entry of the listing, unless it is "." or "..". type is its d_type, inode its
  // d_ino: with the folder's device, the identity of a file listed by its own type.
  void AddEntry(const char* name, unsigned char type, std::uint64_t inode) {
    const std::size_t length = std::strlen(name);
    if (name[0] == '.' && (length == 1 || (length == 2 && name[1] == '.'))) return;
    Entry entry{names_.size(), length, EntryKind::kOther, false, false, true,
                {identity_.volume, inode}};
    Classify(name, type, entry);
    entries_.push_back(entry);
    names_.append(name, length + 1);
  }

#ifdef __linux__
  // Reads the entries with getdents64 on the folder's own descriptor, which is read only
  // this once: nothing else lists it, and opening entries does not depend on its offset.
  bool ReadEntries(void* own) {
    ListBuffer& buffer = own != nullptr ? *static_cast<ListBuffer*>(own) : SharedListBuffer();
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
        if (inode != 0) {
          AddEntry(record + kNameOffset, static_cast<unsigned char>(record[18]), inode);
        }
        at += length;
      }
    }
  }

  // The walk's one listing buffer, made when first needed.
  ListBuffer& SharedListBuffer() {
    if (!shared_->listBuffer) shared_->listBuffer = std::make_unique_for_overwrite<ListBuffer>();
    return *shared_->listBuffer;
  }
#else
  // Reads the entries through a directory stream on a copy of the descriptor, which the
  // stream closes.
  bool ReadEntries(void* /*own*/) {
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
        AddEntry(item->d_name, item->d_type, static_cast<std::uint64_t>(item->d_ino));
      }
    } catch (...) {
      ::closedir(folder);
      throw;
    }
    ::closedir(folder);
    return true;
  }
#endif

  // Sets the entry's kind from its listed type. A link, and an entry of unknown type, is
  // looked at: a link counts as what it leads to, with that one's identity; a link that
  // leads nowhere counts as a file of no known identity, so opening it reports why.
  void Classify(const char* name, unsigned char type, Entry& entry) const {
    switch (type) {
      case DT_REG:
        entry.kind = EntryKind::kFile;
        entry.plain = true;
        return;
      case DT_DIR:
        entry.kind = EntryKind::kFolder;
        return;
      case DT_LNK:
      case DT_UNKNOWN:
        break;
      default:
        return;  // kOther
    }
    struct stat info {};
    if (type == DT_UNKNOWN && ::fstatat(fd_, name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISLNK(info.st_mode)) {
      entry.kind = KindOfMode(info.st_mode);
      entry.plain = S_ISREG(info.st_mode);
      entry.identity = IdentityOf(info);
      return;
    }
    entry.linked = true;
    if (::fstatat(fd_, name, &info, 0) != 0) {
      entry.kind = EntryKind::kFile;
      entry.identityKnown = false;
      return;
    }
    entry.kind = KindOfMode(info.st_mode);
    entry.identity = IdentityOf(info);
  }

  PosixFolder* parent_;
  std::string name_;  // the full path for the first level, else the name in the parent
  int depth_;
  bool viaLink_ = false;      // its entry in the parent is a link
  bool holdsParent_ = false;  // the parent keeps its descriptor while this folder is open
  std::shared_ptr<WalkShared> walk_;  // what the whole walk shares
  WalkShared* shared_;
  bool attached_ = false;  // joined to its parent (not only opened ahead)
  int fd_ = -1;
  std::shared_ptr<PosixFolderFiles> files_;  // owns fd_ once it was shared
  FolderIdentity identity_;
  bool listed_ = false;
  std::uint32_t listError_ = 0;  // a failure met while reading, reported after the entries
  std::string names_;            // every entry's name, each ending with a NUL
  std::vector<Entry> entries_;
  std::size_t next_ = 0;
  const Entry* current_ = nullptr;
  bool folderPass_ = false;
  // The sub-folders opened ahead, in the order of the folders pass, and the next to open.
  std::deque<std::shared_ptr<AheadFolder>> ahead_;
  std::size_t nextAhead_ = 0;
  // Opened ahead: how many folders came before it in walk order when it was asked for.
  std::size_t reach_ = 0;
  WString currentName_;
  std::string scratch_;
};

class PosixDisk final : public IDisk {
 public:
  void LendThreads(IBackgroundWork* work) override { work_ = work; }

  std::unique_ptr<IReadFile> NewFile() override { return std::make_unique<PosixFile>(); }

  FolderOpen OpenFolder(WStringView fullPath, std::unique_ptr<IFolder>& folder) override {
    auto opened = std::make_unique<PosixFolder>(ToUtf8(fullPath), work_);
    if (!opened->Open()) return FolderOpen::kFailed;
    folder = std::move(opened);
    return FolderOpen::kOpened;
  }

  FolderOpen OpenSubFolder(IFolder& parent, WStringView name,
                           std::unique_ptr<IFolder>& folder) override {
    auto& posixParent = static_cast<PosixFolder&>(parent);
    if (std::unique_ptr<PosixFolder> ahead = posixParent.TakeAhead(name)) {
      folder = std::move(ahead);
      return FolderOpen::kOpened;
    }
    if (posixParent.LooksAhead()) openedByWalk_.fetch_add(1, std::memory_order_relaxed);
    auto opened = std::make_unique<PosixFolder>(posixParent, posixParent.RawName(name),
                                                posixParent.MayBeLink(name));
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

  std::uint64_t FoldersOpenedByWalkThread() const override {
    return openedByWalk_.load(std::memory_order_relaxed);
  }

 private:
  IBackgroundWork* work_ = nullptr;
  std::atomic<std::uint64_t> openedByWalk_{0};
};

AheadFolder::~AheadFolder() {
  folder.reset();  // closes what was opened and not taken
  --shared->ahead;
}

}  // namespace

IDisk& SystemDisk() {
  static PosixDisk disk;
  return disk;
}

}  // namespace srctally::platform
