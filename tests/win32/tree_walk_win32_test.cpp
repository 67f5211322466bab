// The tree walk on Windows: attributes, files locked by another writer, folder links.
#include <gtest/gtest.h>
#include <windows.h>

#include "testing/temp_dir.h"
#include "tree_walk_test_support.h"

namespace srctally {
namespace {

using testing::TempDir;

const wchar_t* W(const std::filesystem::path& path) { return path.c_str(); }

TEST(TreeWalkWin32Test, HiddenAndSystemEntriesCountLikeOthers) {
  TempDir dir;
  dir.Write("h.c", "x\n");
  dir.Write("s/s.c", "x\n");
  ASSERT_TRUE(::SetFileAttributesW(W(dir.path() / "h.c"), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(
      ::SetFileAttributesW(W(dir.path() / "s"), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN));
  const WalkResult result = Walk(dir, {.subdir = true});
  EXPECT_EQ(result.status, hr::kOk);
  EXPECT_EQ(result.output, "Browsing folder '\\'...\n.\nBrowsing folder '\\s'...\n.\n");
  ::SetFileAttributesW(W(dir.path() / "s"), FILE_ATTRIBUTE_NORMAL);
  ::SetFileAttributesW(W(dir.path() / "h.c"), FILE_ATTRIBUTE_NORMAL);
}

TEST(TreeWalkWin32Test, FileHeldByAWriterStopsTheWalk) {
  TempDir dir;
  dir.Write("only.c", "x\n");
  dir.Write("z/z.c", "x\n");
  HANDLE held =
      ::CreateFileW(W(dir.path() / "only.c"), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const WalkResult result = Walk(dir, {.subdir = true});
  ::CloseHandle(held);
  const HResult sharing = HResultFromWin32(win32err::kSharingViolation);
  EXPECT_EQ(result.status, sharing);
  EXPECT_EQ(result.output, "Browsing folder '\\'...\nERROR: cannot process file 'only.c'." +
                               CodeSuffix(sharing) + "ERROR: cannot search for files in \\." +
                               CodeSuffix(sharing));
}

TEST(TreeWalkWin32Test, FolderLinkBackToAnAncestorIsSkipped) {
  TempDir dir;
  dir.Write("a/a.c", "x\n");
  const BOOL created = ::CreateSymbolicLinkW(W(dir.path() / "a" / "up"), W(dir.path()),
                                             SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2 /* unprivileged */);
  // Some systems (wine among them) answer success without a usable link.
  const DWORD attributes = ::GetFileAttributesW(W(dir.path() / "a" / "up"));
  if (!created || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    GTEST_SKIP() << "folder links cannot be made here";
  }
  const WalkResult result = Walk(dir, {.subdir = true});
  EXPECT_EQ(result.status, hr::kOk);
  EXPECT_EQ(result.output,
            "Browsing folder '\\'...\nBrowsing folder '\\a'...\n.\n"
            "WARNING: skipping folder link '\\a\\up': it leads back to one of its parent "
            "folders.\n");
  ::RemoveDirectoryW(W(dir.path() / "a" / "up"));
}

}  // namespace
}  // namespace srctally
