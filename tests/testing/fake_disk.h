// A file system in memory for tests: folders, files, folder links and faults where a test
// wants them (a file that cannot be opened, a read or a listing that breaks off part-way),
// on every platform and whoever runs the tests.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/disk.h"

namespace srctally::testing {

class FakeDisk final : public platform::IDisk {
 public:
  /// rootPath: the full path the tree's top folder is opened by.
  explicit FakeDisk(WString rootPath);

  /// Paths are relative to the top folder, components joined by '/' ("" is the top).
  /// Adds a file with its bytes, and the folders on the way.
  void AddFile(std::string_view path, std::string bytes);
  void AddFolder(std::string_view path);
  /// An entry at path that leads to the folder or file target, as a link does: listed as a
  /// link, with the kind and identity of its target.
  void AddLink(std::string_view path, std::string_view target);
  /// An entry at path that is neither file nor folder (a FIFO, a device).
  void AddOther(std::string_view path);

  /// Opening the file or folder at path fails with the Win32 code.
  void FailOpen(std::string_view path, std::uint32_t code);
  /// Reading the file at path fails with code once after bytes have been read.
  void FailRead(std::string_view path, std::size_t after, std::uint32_t code);
  /// Reading the file at path throws std::bad_alloc, as an allocation made while counting
  /// it would when memory runs out.
  void FailReadWithoutMemory(std::string_view path);
  /// The pass over the folder at path breaks off with code after entries entries.
  void FailListing(std::string_view path, platform::ListPass pass, std::size_t after,
                   std::uint32_t code);

  /// Whether folders share their files with the counting threads (IFolder::ShareFiles),
  /// which then open them: yes unless a test says otherwise.
  void ShareFiles(bool share) { shareFiles_ = share; }
  /// Counting threads take this long to open a shared file, as a slow disk would, so that
  /// files are still being opened when the walk's thread moves on.
  void SlowSharedOpens(std::chrono::microseconds delay) { sharedOpenDelay_ = delay; }

  /// How often the folder at path was opened, and how many entries its listings handed out.
  int OpenCount(std::string_view path) const;
  int ListedCount(std::string_view path) const;
  /// Folders and files open now, and the most folders that were open at once.
  int openFolders() const { return openFolders_; }
  int openFiles() const { return openFiles_.load(); }
  /// Files opened so far.
  int filesOpened() const { return filesOpened_.load(); }
  int peakOpenFolders() const { return peakOpenFolders_; }
  /// Files read to their end on the thread that made the disk (the walk's, in a test).
  int filesReadByOwnThread() const { return filesReadByOwnThread_.load(); }

  std::unique_ptr<platform::IReadFile> NewFile() override;
  platform::FolderOpen OpenFolder(WStringView fullPath,
                                  std::unique_ptr<platform::IFolder>& folder) override;
  platform::FolderOpen OpenSubFolder(platform::IFolder& parent, WStringView name,
                                     std::unique_ptr<platform::IFolder>& folder) override;
  bool OpenFile(WStringView fullPath, platform::IReadFile& file) override;

  struct Node {
    platform::EntryKind kind = platform::EntryKind::kFolder;
    std::string bytes;
    std::map<std::string, int> children;  // name to node, in byte order
    std::set<std::string> links;          // the children that are links
    std::uint32_t openError = 0;
    bool readFails = false;
    std::size_t readFailAfter = 0;
    std::uint32_t readError = 0;
    bool readThrows = false;
    platform::ListPass listFailPass = platform::ListPass::kFiles;
    std::size_t listFailAfter = 0;
    std::uint32_t listError = 0;
    int opens = 0;
    int listed = 0;
  };

 private:
  class Folder;
  class File;
  class FolderFiles;

  // The node at path, made (as a folder) with the folders on the way when make is set; -1
  // when it is missing.
  int Find(std::string_view path, bool make);
  int Find(std::string_view path) const;
  platform::FolderOpen Open(int node, std::unique_ptr<platform::IFolder>& folder);
  bool OpenNode(int node, platform::IReadFile& file);

  WString rootPath_;
  std::vector<Node> nodes_;
  int openFolders_ = 0;
  std::atomic<int> openFiles_{0};  // files are closed on counting threads
  std::atomic<int> filesOpened_{0};
  int peakOpenFolders_ = 0;
  std::thread::id ownThread_ = std::this_thread::get_id();
  std::atomic<int> filesReadByOwnThread_{0};
  bool shareFiles_ = true;
  std::chrono::microseconds sharedOpenDelay_{0};
};

}  // namespace srctally::testing
