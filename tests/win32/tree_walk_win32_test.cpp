// The tree walk on Windows: attributes, files locked by another writer, folder links, files
// reached by more than one name.
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

// A file's second name (a hard link, or a file link where the system can make one) is
// passed over: the file is counted once, and the verbose level says why.
TEST(TreeWalkWin32Test, EachFileIsCountedOnceHoweverItIsReached) {
  TempDir dir;
  dir.Write("a.c", "a\n");
  dir.Write("sub/s.c", "s\ns\n");
  ASSERT_TRUE(::CreateHardLinkW(W(dir.path() / "h.c"), W(dir.path() / "a.c"), nullptr));
  ASSERT_TRUE(::CreateHardLinkW(W(dir.path() / "sub" / "t.c"), W(dir.path() / "sub" / "s.c"),
                                nullptr));
  const WalkResult result = Walk(dir, {.subdir = true});
  EXPECT_EQ(result.status, hr::kOk);
  EXPECT_EQ(result.totals.files, 2);
  EXPECT_EQ(result.totals.lines, 3);
  const WalkResult verbose = Walk(dir, {.subdir = true, .verbose = true});
  EXPECT_NE(verbose.output.find("Skipping file '\\h.c': it was counted already.\n"),
            std::string::npos)
      << verbose.output;
  EXPECT_NE(verbose.output.find("Skipping file '\\sub\\t.c': it was counted already.\n"),
            std::string::npos)
      << verbose.output;

  // A link to a.c, where links to files can be made, is a third name of the same file.
  const BOOL linked = ::CreateSymbolicLinkW(W(dir.path() / "l.c"), W(dir.path() / "a.c"),
                                            0x2 /* unprivileged */);
  if (!linked || ::GetFileAttributesW(W(dir.path() / "l.c")) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "file links cannot be made here";
  }
  const WalkResult withLink = Walk(dir, {.subdir = true});
  EXPECT_EQ(withLink.status, hr::kOk);
  EXPECT_EQ(withLink.totals.files, 2);
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
