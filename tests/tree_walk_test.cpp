// The tree walk on real temp folders: selection by extension, order, output, failures.
#include "walk/tree_walk.h"

#include <gtest/gtest.h>

#include <string>

#include "counting/file_counting.h"
#include "platform/file_system.h"
#include "report/file_report.h"
#include "testing/recording_writer.h"
#include "testing/temp_dir.h"
#include "tree_walk_test_support.h"

namespace srctally {
namespace {

using testing::TempDir;

TEST(TreeWalkTest, ExtensionRule) {
  const struct {
    const char16_t* name;
    std::optional<WStringView> extension;
  } rows[] = {
      {u"a.c", u"c"},   {u".c", u"c"},        {u"x.tar.gz", u"gz"},
      {u"x.", u""},     {u"e", std::nullopt}, {u"x.c old", std::nullopt},
      {u"a b.c", u"c"},
  };
  for (const auto& row : rows) EXPECT_EQ(FindExtension(row.name), row.extension);
}

TEST(TreeWalkTest, SelectsFilesByExtension) {
  TempDir dir;
  for (const char* name : {"a.c", "B.CPP", "c.Hpp", "d.txt", "e", ".c", "x.c old"}) {
    dir.Write(name, "int x;\n");
  }
  dir.MakeDir("sub.c");
  dir.Write("sub.c/inner.c", "\n");

  WalkResult all = Walk(dir, {});
  EXPECT_EQ(all.status, hr::kOk);
  EXPECT_EQ(all.output, Sep("Browsing folder '/'...\n....\n"));
  EXPECT_EQ(all.totals.files, 4);

  WalkResult noHeader = Walk(dir, {.noHeader = true});
  EXPECT_EQ(noHeader.output, Sep("Browsing folder '/'...\n...\n"));
  EXPECT_EQ(noHeader.totals.files, 3);
}

TEST(TreeWalkTest, FilesFirstThenEachSubFolderDepthFirst) {
  TempDir dir;
  dir.Write("r.c", "1\n");
  dir.Write("a/a.c", "1\n2\n");
  dir.Write("a/b/b.h", "1\n2\n3\n");
  dir.Write("a/b/notes.txt", "x\n");
  dir.MakeDir("a/b/empty");

  const WalkResult verbose = Walk(dir, {.subdir = true, .verbose = true});
  EXPECT_EQ(verbose.status, hr::kOk);
  EXPECT_EQ(verbose.output,
            Sep("Browsing folder '/'...\n") + FileBlock(dir, "r.c") + "1 file(s) processed.\n\n" +
                Sep("Browsing folder '/a'...\n") + FileBlock(dir, "a/a.c") +
                "1 file(s) processed.\n\n" + Sep("Browsing folder '/a/b'...\n") +
                FileBlock(dir, "a/b/b.h") + "1 file(s) processed.\n\n" +
                Sep("Browsing folder '/a/b/empty'...\n") + "0 file(s) processed.\n\n");
  EXPECT_EQ(verbose.totals.files, 3);
  EXPECT_EQ(verbose.totals.lines, 6);

  EXPECT_EQ(Walk(dir, {.subdir = true}).output,
            Sep("Browsing folder '/'...\n.\nBrowsing folder '/a'...\n.\n"
                "Browsing folder '/a/b'...\n.\nBrowsing folder '/a/b/empty'...\n"));
  // Without subdir the sub-folders are not even listed.
  const WalkResult top = Walk(dir, {});
  EXPECT_EQ(top.output, Sep("Browsing folder '/'...\n.\n"));
  EXPECT_EQ(top.totals.files, 1);
}

TEST(TreeWalkTest, EmptyFolder) {
  TempDir dir;
  EXPECT_EQ(Walk(dir, {}).output, Sep("Browsing folder '/'...\n"));
  EXPECT_EQ(Walk(dir, {.verbose = true}).output,
            Sep("Browsing folder '/'...\n0 file(s) processed.\n\n"));
}

TEST(TreeWalkTest, MissingSourceFolderFailsToStart) {
  TempDir dir;
  testing::RecordingWriter writer;
  CTextReportSink sink(writer, false);
  CTreeWalk walk(sink, platform::SystemDisk(), (dir.path() / "gone").u16string(), {});
  LineStats totals;
  const HResult status = walk.WalkFolder(Sep16(u"/"), totals);
  EXPECT_TRUE(status == HResultFromWin32(win32err::kPathNotFound) ||
              status == HResultFromWin32(win32err::kFileNotFound))
      << std::hex << status;
  EXPECT_EQ(writer.text(), Sep("ERROR: cannot search for files in /") + CodeSuffix(status));
}

}  // namespace
}  // namespace srctally
