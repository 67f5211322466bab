// The system disk on POSIX as the walk uses it: listing a real folder of many entries and
// odd names, and opening and sizing the files it listed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cstddef>
#include <cstdio>
#endif

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "counting/file_counting.h"
#include "platform/disk.h"
#include "platform/last_error.h"
#include "report/text_report_sink.h"
#include "testing/recording_writer.h"
#include "testing/temp_dir.h"
#include "walk/tree_walk.h"

namespace srctally {
namespace {

using platform::EntryKind;
using platform::ListPass;

std::unique_ptr<platform::IFolder> OpenFolder(const std::filesystem::path& path) {
  std::unique_ptr<platform::IFolder> folder;
  EXPECT_EQ(platform::SystemDisk().OpenFolder(FromUtf8Lossless(path.string()), folder),
            platform::FolderOpen::kOpened);
  return folder;
}

// Every entry of a pass: its name's bytes and its kind, in the order listed.
std::vector<std::pair<std::string, EntryKind>> ListPassOf(platform::IFolder& folder,
                                                          ListPass pass) {
  std::vector<std::pair<std::string, EntryKind>> entries;
  EXPECT_TRUE(folder.StartListing(pass));
  platform::FolderEntry entry;
  while (folder.NextEntry(entry)) entries.emplace_back(ToUtf8(entry.name), entry.kind);
  EXPECT_EQ(platform::GetLastErrorCode(), win32err::kNoMoreFiles);
  return entries;
}

// More entries than one read of the listing takes, long names and names with odd bytes
// (not UTF-8, control characters): each comes back once, with its bytes, in byte order.
TEST(DiskPosixTest, ListsAFolderOfManyEntriesInByteOrder) {
  testing::TempDir dir;
  std::vector<std::pair<std::string, EntryKind>> expected;
  for (int i = 0; i < 3000; ++i) {
    std::string name = std::to_string(i * 7919 % 3000) + std::string(150, 'n') + ".c";
    dir.Write(name, "");
    expected.emplace_back(std::move(name), EntryKind::kFile);
  }
  for (const char* name : {"\x01odd", "\xFF\xFE", "line\nfeed.c", "caf\xC3\xA9.h", " "}) {
    dir.Write(name, "x");
    expected.emplace_back(name, EntryKind::kFile);
  }
  dir.MakeDir("sub folder");
  expected.emplace_back("sub folder", EntryKind::kFolder);
  ASSERT_EQ(::mkfifo((dir.path() / "fifo.c").c_str(), 0600), 0);
  expected.emplace_back("fifo.c", EntryKind::kOther);
  ASSERT_EQ(::symlink("sub folder", (dir.path() / "to folder").c_str()), 0);
  expected.emplace_back("to folder", EntryKind::kFolder);  // a link counts as what it leads to
  ASSERT_EQ(::symlink("nowhere", (dir.path() / "dangling.c").c_str()), 0);
  expected.emplace_back("dangling.c", EntryKind::kFile);  // opening it says why it fails
  std::sort(expected.begin(), expected.end());

  const auto folder = OpenFolder(dir.path());
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(ListPassOf(*folder, ListPass::kFiles), expected);
  std::erase_if(expected, [](const auto& entry) { return entry.second != EntryKind::kFolder; });
  EXPECT_EQ(ListPassOf(*folder, ListPass::kFolders), expected);
}

// Files opened from a listing are counted and sized as stored, also when the text ends at
// a Ctrl-Z before the file does and when the entry is a link to the file.
TEST(DiskPosixTest, ListedFilesOpenAndHaveTheirStoredSize) {
  testing::TempDir dir;
  const std::string blocks(200000, 'x');
  dir.Write("blocks.c", blocks + "\n" + blocks);
  dir.Write("early_end.c", "a\n\x1A" + blocks);
  dir.Write("target/t.c", "t\nt\n");
  ASSERT_EQ(::symlink("target/t.c", (dir.path() / "link.c").c_str()), 0);
  const auto folder = OpenFolder(dir.path());
  ASSERT_NE(folder, nullptr);
  ASSERT_TRUE(folder->StartListing(ListPass::kFiles));
  const auto file = platform::SystemDisk().NewFile();
  CFileCounter counter;
  std::vector<std::pair<std::string, std::int64_t>> sizes;
  platform::FolderEntry entry;
  while (folder->NextEntry(entry)) {
    if (entry.kind != EntryKind::kFile) continue;
    ASSERT_TRUE(folder->OpenFile(entry.name, *file)) << ToUtf8(entry.name);
    LineStats stats;
    stats.Reset();
    EXPECT_EQ(counter.Count(*file, stats), hr::kFalse);
    sizes.emplace_back(ToUtf8(entry.name), stats.size.value);
  }
  const std::vector<std::pair<std::string, std::int64_t>> expected = {
      {"blocks.c", 400001}, {"early_end.c", 200003}, {"link.c", 4}};
  EXPECT_EQ(sizes, expected);
}

// A file listed as a regular file and replaced by a link before it is opened: the link is
// not followed, so it cannot lead the count to a FIFO or a device.
TEST(DiskPosixTest, AListedFileReplacedByALinkIsNotFollowed) {
  testing::TempDir dir;
  dir.Write("a.c", "x\n");
  ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
  const auto folder = OpenFolder(dir.path());
  ASSERT_NE(folder, nullptr);
  ASSERT_TRUE(folder->StartListing(ListPass::kFiles));
  platform::FolderEntry entry;
  ASSERT_TRUE(folder->NextEntry(entry));
  ASSERT_EQ(ToUtf8(entry.name), "a.c");
  ASSERT_EQ(::unlink((dir.path() / "a.c").c_str()), 0);
  ASSERT_EQ(::symlink("fifo", (dir.path() / "a.c").c_str()), 0);
  const auto file = platform::SystemDisk().NewFile();
  EXPECT_FALSE(folder->OpenFile(entry.name, *file));
  EXPECT_NE(platform::GetLastErrorCode(), 0u);
}

#ifdef __linux__
// From here on every getdents64 of this process fails with error, as a failing disk or a
// file system that breaks off a listing would have it. Irreversible: for a child process.
bool FailEveryListing(int error) {
  struct sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_getdents64, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (static_cast<unsigned>(error) & 0xFFFF)),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  struct sock_fprog program = {static_cast<unsigned short>(std::size(filter)), filter};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// A listing that fails is a failure of the walk, never a folder without entries.
TEST(DiskPosixDeathTest, AListingThatFailsFailsTheWalk) {
  testing::TempDir dir;
  dir.Write("a.c", "x\n");
  const auto walkWithFailingListings = [&dir] {
    if (!FailEveryListing(EIO)) {
      std::fputs("seccomp refused\n", stderr);
      std::_Exit(3);
    }
    testing::RecordingWriter writer;
    CTextReportSink sink(writer, false);
    CTreeWalk walk(sink, platform::SystemDisk(), FromUtf8Lossless(dir.path().string()), {.subdir = true});
    LineStats totals;
    totals.Reset();
    const HResult status = walk.WalkFolder(u"/", totals);
    std::fputs(writer.text().c_str(), stderr);
    std::_Exit(Failed(status) && totals.files == 0 ? 0 : 1);
  };
  EXPECT_EXIT(walkWithFailingListings(), ::testing::ExitedWithCode(0),
              "Browsing folder '/'...\nERROR: cannot search for files in /\\. \\[0x8007");
}
#endif

}  // namespace
}  // namespace srctally
