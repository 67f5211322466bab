// The file system in memory.
#include "testing/fake_disk.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/status.h"
#include "platform/last_error.h"

namespace srctally::testing {
namespace {

bool Fail(std::uint32_t code) {
  platform::SetLastErrorCode(code);
  return false;
}

}  // namespace

class FakeDisk::File final : public platform::IReadFile {
 public:
  explicit File(FakeDisk& disk) : disk_(disk) {}
  ~File() override { Close(); }

  void Open(const Node& node) {
    node_ = &node;
    position_ = 0;
    failed_ = false;
    ++disk_.openFiles_;
    ++disk_.filesOpened_;
  }

  bool Read(void* buffer, std::size_t size, std::size_t& bytesRead) override {
    bytesRead = 0;
    if (node_ == nullptr) return Fail(win32err::kInvalidHandle);
    if (node_->readThrows) throw std::bad_alloc();
    std::size_t end = node_->bytes.size();
    if (node_->readFails && !failed_) {
      if (position_ >= node_->readFailAfter) {
        failed_ = true;  // once; a reader that goes on gets the rest
        return Fail(node_->readError);
      }
      end = std::min(end, node_->readFailAfter);
    }
    bytesRead = std::min(size, end - position_);
    std::memcpy(buffer, node_->bytes.data() + position_, bytesRead);
    position_ += bytesRead;
    if (bytesRead == 0 && std::this_thread::get_id() == disk_.ownThread_) {
      ++disk_.filesReadByOwnThread_;
    }
    return true;
  }

  bool GetSize(std::int64_t& size) override {
    if (node_ == nullptr) return Fail(win32err::kInvalidHandle);
    size = static_cast<std::int64_t>(node_->bytes.size());
    return true;
  }

  void Close() override {
    if (node_ == nullptr) return;
    node_ = nullptr;
    --disk_.openFiles_;
  }

 private:
  FakeDisk& disk_;
  const Node* node_ = nullptr;
  std::size_t position_ = 0;
  bool failed_ = false;
};

// A folder's files, opened on any thread: the tree does not change while it is walked.
class FakeDisk::FolderFiles final : public platform::IFolderFiles {
 public:
  FolderFiles(FakeDisk& disk, int node) : disk_(disk), node_(node) {}

  bool OpenFile(WStringView name, bool /*listedRegular*/,
                platform::IReadFile& file) const override {
    if (disk_.sharedOpenDelay_.count() > 0) std::this_thread::sleep_for(disk_.sharedOpenDelay_);
    const Node& node = disk_.nodes_[static_cast<std::size_t>(node_)];
    const auto it = node.children.find(ToUtf8(name));
    if (it == node.children.end()) return Fail(win32err::kFileNotFound);
    return disk_.OpenNode(it->second, file);
  }

 private:
  FakeDisk& disk_;
  int node_;
};

class FakeDisk::Folder final : public platform::IFolder {
 public:
  Folder(FakeDisk& disk, int node) : disk_(disk), node_(node) {
    disk_.peakOpenFolders_ = std::max(disk_.peakOpenFolders_, ++disk_.openFolders_);
  }
  ~Folder() override { --disk_.openFolders_; }

  int node() const { return node_; }

  bool GetIdentity(platform::FolderIdentity& identity) const override {
    identity = {7, static_cast<std::uint64_t>(node_)};
    return true;
  }

  bool StartListing(platform::ListPass pass) override {
    pass_ = pass;
    const Node& node = disk_.nodes_[static_cast<std::size_t>(node_)];
    entries_.clear();
    for (const auto& [name, child] : node.children) entries_.push_back({name, child});
    next_ = 0;
    listing_ = true;
    return true;
  }

  bool NextEntry(platform::FolderEntry& entry) override {
    Node& node = disk_.nodes_[static_cast<std::size_t>(node_)];
    if (!listing_) return Fail(win32err::kNoMoreFiles);
    if (node.listError != 0 && pass_ == node.listFailPass && next_ >= node.listFailAfter) {
      return Fail(node.listError);
    }
    if (next_ >= entries_.size()) return Fail(win32err::kNoMoreFiles);
    const auto& [name, child] = entries_[next_++];
    ++node.listed;
    current_ = FromUtf8Lossless(name);
    currentNode_ = child;
    entry.name = current_;
    entry.kind = disk_.nodes_[static_cast<std::size_t>(child)].kind;
    entry.linked = node.links.contains(name);
    return true;
  }

  void EndListing() override {
    listing_ = false;
    currentNode_ = -1;
  }

  bool GetEntryIdentity(platform::FileIdentity& identity) const override {
    if (currentNode_ < 0) return false;
    identity = {7, static_cast<std::uint64_t>(currentNode_)};
    return true;
  }

  bool OpenFile(WStringView name, platform::IReadFile& file) override {
    const Node& node = disk_.nodes_[static_cast<std::size_t>(node_)];
    const auto it = node.children.find(ToUtf8(name));
    if (it == node.children.end()) return Fail(win32err::kFileNotFound);
    return disk_.OpenNode(it->second, file);
  }

  std::shared_ptr<const platform::IFolderFiles> ShareFiles() override {
    if (!disk_.shareFiles_) return nullptr;
    return std::make_shared<FolderFiles>(disk_, node_);
  }

  // The fake's links are folder links only: no file here is a link.
  bool OpenFileRefusingLink(WStringView name, platform::IReadFile& file) override {
    return OpenFile(name, file);
  }

 private:
  FakeDisk& disk_;
  int node_;
  std::vector<std::pair<std::string, int>> entries_;
  std::size_t next_ = 0;
  platform::ListPass pass_ = platform::ListPass::kFiles;
  bool listing_ = false;
  WString current_;
  int currentNode_ = -1;  // the node of the entry NextEntry gave last
};

FakeDisk::FakeDisk(WString rootPath) : rootPath_(std::move(rootPath)) { nodes_.emplace_back(); }

int FakeDisk::Find(std::string_view path, bool make) {
  int node = 0;
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string name(path.substr(0, slash));
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    const auto it = nodes_[static_cast<std::size_t>(node)].children.find(name);
    if (it != nodes_[static_cast<std::size_t>(node)].children.end()) {
      node = it->second;
      continue;
    }
    if (!make) return -1;
    nodes_.emplace_back();
    const int made = static_cast<int>(nodes_.size() - 1);
    nodes_[static_cast<std::size_t>(node)].children[name] = made;
    node = made;
  }
  return node;
}

int FakeDisk::Find(std::string_view path) const {
  return const_cast<FakeDisk*>(this)->Find(path, false);
}

void FakeDisk::AddFile(std::string_view path, std::string bytes) {
  Node& node = nodes_[static_cast<std::size_t>(Find(path, true))];
  node.kind = platform::EntryKind::kFile;
  node.bytes = std::move(bytes);
}

void FakeDisk::AddFolder(std::string_view path) { Find(path, true); }

void FakeDisk::AddLink(std::string_view path, std::string_view target) {
  const int to = Find(target, true);
  const std::size_t slash = path.rfind('/');
  const int parent = slash == std::string_view::npos ? 0 : Find(path.substr(0, slash), true);
  const std::string name(slash == std::string_view::npos ? path : path.substr(slash + 1));
  nodes_[static_cast<std::size_t>(parent)].children[name] = to;
  nodes_[static_cast<std::size_t>(parent)].links.insert(name);
}

void FakeDisk::AddOther(std::string_view path) {
  nodes_[static_cast<std::size_t>(Find(path, true))].kind = platform::EntryKind::kOther;
}

void FakeDisk::FailOpen(std::string_view path, std::uint32_t code) {
  nodes_[static_cast<std::size_t>(Find(path, true))].openError = code;
}

void FakeDisk::FailRead(std::string_view path, std::size_t after, std::uint32_t code) {
  Node& node = nodes_[static_cast<std::size_t>(Find(path, true))];
  node.readFails = true;
  node.readFailAfter = after;
  node.readError = code;
}

void FakeDisk::FailReadWithoutMemory(std::string_view path) {
  nodes_[static_cast<std::size_t>(Find(path, true))].readThrows = true;
}

void FakeDisk::FailListing(std::string_view path, platform::ListPass pass, std::size_t after,
                           std::uint32_t code) {
  Node& node = nodes_[static_cast<std::size_t>(Find(path, true))];
  node.listFailPass = pass;
  node.listFailAfter = after;
  node.listError = code;
}

int FakeDisk::OpenCount(std::string_view path) const {
  const int node = Find(path);
  return node < 0 ? 0 : nodes_[static_cast<std::size_t>(node)].opens;
}

int FakeDisk::ListedCount(std::string_view path) const {
  const int node = Find(path);
  return node < 0 ? 0 : nodes_[static_cast<std::size_t>(node)].listed;
}

std::unique_ptr<platform::IReadFile> FakeDisk::NewFile() { return std::make_unique<File>(*this); }

platform::FolderOpen FakeDisk::Open(int node, std::unique_ptr<platform::IFolder>& folder) {
  Node& target = nodes_[static_cast<std::size_t>(node)];
  if (target.openError != 0) return Fail(target.openError), platform::FolderOpen::kFailed;
  if (target.kind != platform::EntryKind::kFolder) {
    return Fail(win32err::kDirectory), platform::FolderOpen::kFailed;
  }
  ++target.opens;
  folder = std::make_unique<Folder>(*this, node);
  return platform::FolderOpen::kOpened;
}

platform::FolderOpen FakeDisk::OpenFolder(WStringView fullPath,
                                          std::unique_ptr<platform::IFolder>& folder) {
  while (fullPath.size() > rootPath_.size() &&
         (fullPath.back() == u'/' || fullPath.back() == u'\\')) {
    fullPath.remove_suffix(1);
  }
  if (fullPath != rootPath_) {
    return Fail(win32err::kPathNotFound), platform::FolderOpen::kFailed;
  }
  return Open(0, folder);
}

platform::FolderOpen FakeDisk::OpenSubFolder(platform::IFolder& parent, WStringView name,
                                             std::unique_ptr<platform::IFolder>& folder) {
  const Node& node = nodes_[static_cast<std::size_t>(static_cast<Folder&>(parent).node())];
  const auto it = node.children.find(ToUtf8(name));
  if (it == node.children.end()) {
    return Fail(win32err::kPathNotFound), platform::FolderOpen::kFailed;
  }
  return Open(it->second, folder);
}

bool FakeDisk::OpenNode(int node, platform::IReadFile& file) {
  const Node& target = nodes_[static_cast<std::size_t>(node)];
  if (target.openError != 0) return Fail(target.openError);
  if (target.kind != platform::EntryKind::kFile) return Fail(win32err::kAccessDenied);
  static_cast<File&>(file).Open(target);
  return true;
}

bool FakeDisk::OpenFile(WStringView fullPath, platform::IReadFile& file) {
  if (fullPath.size() <= rootPath_.size() + 1 || !fullPath.starts_with(rootPath_)) {
    return Fail(win32err::kFileNotFound);
  }
  std::string relative = ToUtf8(fullPath.substr(rootPath_.size() + 1));
  std::replace(relative.begin(), relative.end(), '\\', '/');
  const int node = Find(relative, false);
  if (node < 0) return Fail(win32err::kFileNotFound);
  return OpenNode(node, file);
}

}  // namespace srctally::testing
