// The Windows disk: each folder listed once from one handle, sub-folders handed out after
// the files, files and sub-folders opened in their folder, identities as the system gives
// them.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/disk.h"
#include "testing/temp_dir.h"

namespace srctally {
namespace {

using platform::EntryKind;
using platform::FolderEntry;
using platform::FolderOpen;
using platform::IFolder;
using platform::ListPass;

std::unique_ptr<IFolder> OpenFolder(const std::filesystem::path& path) {
  std::unique_ptr<IFolder> folder;
  EXPECT_EQ(platform::SystemDisk().OpenFolder(path.u16string(), folder), FolderOpen::kOpened);
  return folder;
}

// Up to limit entries of the pass (all when limit is 0), sorted, "name/" for a folder; the
// pass is left open.
std::vector<std::string> Entries(IFolder& folder, ListPass pass, std::size_t limit = 0) {
  std::vector<std::string> names;
  EXPECT_TRUE(folder.StartListing(pass));
  FolderEntry entry;
  while ((limit == 0 || names.size() < limit) && folder.NextEntry(entry)) {
    names.push_back(ToUtf8(entry.name) + (entry.kind == EntryKind::kFolder ? "/" : ""));
  }
  if (limit == 0) {
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  }
  std::sort(names.begin(), names.end());
  return names;
}

void MakeTree(const testing::TempDir& dir) {
  dir.Write("a.c", "int a;\n");
  dir.Write("b.txt", "b\n");
  dir.Write("s1/x.c", "x\n");
  dir.MakeDir("s2");
}

TEST(DiskWin32Test, TheFilesPassListsEverythingAndTheFoldersPassItsSubFolders) {
  const testing::TempDir dir;
  MakeTree(dir);
  const auto folder = OpenFolder(dir.path());
  ASSERT_TRUE(folder);
  EXPECT_EQ(Entries(*folder, ListPass::kFiles),
            (std::vector<std::string>{"../", "./", "a.c", "b.txt", "s1/", "s2/"}));
  EXPECT_EQ(Entries(*folder, ListPass::kFolders), (std::vector<std::string>{"s1/", "s2/"}));
  folder->EndListing();
  // Once more after a files pass that broke off: the folders are listed afresh.
  EXPECT_EQ(Entries(*folder, ListPass::kFiles, 1).size(), 1u);
  folder->EndListing();
  EXPECT_EQ(Entries(*folder, ListPass::kFolders), (std::vector<std::string>{"s1/", "s2/"}));
  // And without any files pass before it.
  const auto fresh = OpenFolder(dir.path());
  ASSERT_TRUE(fresh);
  EXPECT_EQ(Entries(*fresh, ListPass::kFolders), (std::vector<std::string>{"s1/", "s2/"}));
}

// A plain sub-folder's identity comes from its parent's listing; it must be the one the
// system gives the same folder opened by its path, or a folder link to it would not be
// known as a folder walked already.
TEST(DiskWin32Test, ASubFolderHasTheIdentityTheSystemGivesIt) {
  const testing::TempDir dir;
  MakeTree(dir);
  const auto parent = OpenFolder(dir.path());
  ASSERT_TRUE(parent);
  Entries(*parent, ListPass::kFiles);
  ASSERT_TRUE(parent->StartListing(ListPass::kFolders));
  std::vector<platform::FolderIdentity> listed;
  FolderEntry entry;
  while (parent->NextEntry(entry)) {
    std::unique_ptr<IFolder> child;
    const std::string name = ToUtf8(entry.name);
    ASSERT_EQ(platform::SystemDisk().OpenSubFolder(*parent, entry.name, child),
              FolderOpen::kOpened);
    platform::FolderIdentity fromListing;
    ASSERT_TRUE(child->GetIdentity(fromListing)) << name;
    child.reset();
    const auto byPath = OpenFolder(dir.path() / name);
    ASSERT_TRUE(byPath);
    platform::FolderIdentity fromSystem;
    ASSERT_TRUE(byPath->GetIdentity(fromSystem)) << name;
    EXPECT_EQ(fromListing, fromSystem) << name;
    listed.push_back(fromListing);
  }
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_NE(listed[0], listed[1]);
}

// Opened by name inside the folder's handle: a listed file reads, a folder never opens as
// a file.
TEST(DiskWin32Test, FilesOpenInTheirFolder) {
  const testing::TempDir dir;
  MakeTree(dir);
  const auto folder = OpenFolder(dir.path());
  ASSERT_TRUE(folder);
  Entries(*folder, ListPass::kFiles);
  const auto file = platform::SystemDisk().NewFile();
  ASSERT_TRUE(folder->OpenFile(u"a.c", *file));
  char bytes[16] = {};
  std::size_t got = 0;
  ASSERT_TRUE(file->Read(bytes, sizeof(bytes), got));
  EXPECT_EQ(std::string(bytes, got), "int a;\n");
  file->Close();
  EXPECT_FALSE(folder->OpenFile(u"s1", *file));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(folder->OpenFile(u"missing.c", *file));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// Counting threads open a folder's files through what it shares: beside its listing, on
// another thread, and after the folder itself is closed (its files may still be queued).
TEST(DiskWin32Test, SharedFilesOpenOnOtherThreadsAndOutliveTheFolder) {
  const testing::TempDir dir;
  MakeTree(dir);
  auto folder = OpenFolder(dir.path());
  ASSERT_TRUE(folder);
  ASSERT_TRUE(folder->StartListing(ListPass::kFiles));
  FolderEntry entry;
  ASSERT_TRUE(folder->NextEntry(entry));
  const std::shared_ptr<const platform::IFolderFiles> shared = folder->ShareFiles();
  ASSERT_TRUE(shared);
  const auto read = [&shared](std::u16string_view name, std::string& text) {
    const auto file = platform::SystemDisk().NewFile();
    if (!shared->OpenFile(name, true, *file)) return false;
    char bytes[16] = {};
    std::size_t got = 0;
    const bool ok = file->Read(bytes, sizeof(bytes), got);
    text.assign(bytes, got);
    file->Close();
    return ok;
  };
  std::string onThread;
  bool openedOnThread = false;
  std::thread other([&] { openedOnThread = read(u"a.c", onThread); });
  std::size_t listed = 1;  // the listing goes on meanwhile, from the same handle
  while (folder->NextEntry(entry)) ++listed;
  other.join();
  EXPECT_TRUE(openedOnThread);
  EXPECT_EQ(onThread, "int a;\n");
  EXPECT_EQ(listed, 6u);
  folder.reset();
  std::string text;
  EXPECT_TRUE(read(u"a.c", text));
  EXPECT_EQ(text, "int a;\n");
  const auto file = platform::SystemDisk().NewFile();
  EXPECT_FALSE(shared->OpenFile(u"missing.c", true, *file));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(shared->OpenFile(u"s1", true, *file));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  // A name that would not fit a path below the folder fails as the folder's own open does.
  EXPECT_FALSE(shared->OpenFile(std::u16string(40000, u'n'), true, *file));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST(DiskWin32Test, AFolderGoneBeforeItIsOpenedFails) {
  const testing::TempDir dir;
  MakeTree(dir);
  const auto parent = OpenFolder(dir.path());
  ASSERT_TRUE(parent);
  Entries(*parent, ListPass::kFiles);
  ASSERT_TRUE(parent->StartListing(ListPass::kFolders));
  FolderEntry entry;
  ASSERT_TRUE(parent->NextEntry(entry));
  const WString name(entry.name);
  std::filesystem::remove_all(dir.path() / std::filesystem::path(name));
  std::unique_ptr<IFolder> child;
  EXPECT_EQ(platform::SystemDisk().OpenSubFolder(*parent, name, child), FolderOpen::kFailed);
  EXPECT_NE(::GetLastError(), 0u);
}

}  // namespace
}  // namespace srctally
