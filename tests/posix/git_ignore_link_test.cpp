// A .gitignore that is a symbolic link holds no rules for git, which warns about it; the walk
// and the repository set-up read none through a link either, and say so.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/disk.h"
#include "report/text_report_sink.h"
#include "testing/recording_writer.h"
#include "testing/temp_dir.h"
#include "walk/git_ignore.h"
#include "walk/tree_walk.h"

namespace srctally {
namespace {

void Link(const std::filesystem::path& target, const std::filesystem::path& at) {
  ASSERT_EQ(::symlink(target.c_str(), at.c_str()), 0) << at;
}

TEST(GitIgnoreLinkTest, ALinkedIgnoreFileIsNotReadAndIsReported) {
  testing::TempDir dir;
  dir.MakeDir("repo/.git");
  dir.Write("repo/rules", "*.c\n");
  dir.Write("repo/linked/x.c", "int x;\n");
  dir.Write("repo/linked/deep/y.c", "int y;\n");
  dir.Write("repo/plain/.gitignore", "*.c\n");
  dir.Write("repo/plain/z.c", "int z;\n");
  Link("../rules", dir.path() / "repo/linked/.gitignore");

  const WString source = FromUtf8Lossless((dir.path() / "repo").string());
  CGitIgnoreFilter filter{GlobCase()};
  filter.SetRepository(u"", {}, "");
  testing::RecordingWriter writer;
  CTextReportSink sink(writer, true);
  CTreeWalk walk(sink, platform::SystemDisk(), source, WalkOptions{false, true, true, 1}, &filter);
  LineStats totals;
  totals.Reset();
  EXPECT_EQ(walk.WalkFolder(u"/", totals), hr::kOk);
  EXPECT_EQ(totals.files, 2);  // linked/x.c and linked/deep/y.c; plain's rule holds
  const std::string text = writer.text();
  EXPECT_NE(text.find("WARNING: not reading ignore file '/linked/.gitignore': it is a symbolic "
                      "link.\nBrowsing folder '/linked'..."),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("plain/.gitignore"), std::string::npos) << text;
}

TEST(GitIgnoreLinkTest, ALinkedIgnoreFileAboveTheSourceIsNotRead) {
  testing::TempDir dir;
  dir.MakeDir("repo/.git");
  dir.Write("repo/rules", "*.c\n");
  dir.Write("repo/a/.gitignore", "*.h\n");
  dir.MakeDir("repo/a/b");
  Link("rules", dir.path() / "repo/.gitignore");
  const RepositoryIgnores repository =
      LoadRepositoryIgnores(FromUtf8Lossless((dir.path() / "repo/a/b").string()));
  ASSERT_TRUE(repository.found);
  EXPECT_EQ(repository.ancestorIgnoreFiles, (std::vector<std::string>{"", "*.h\n"}));
  EXPECT_EQ(repository.linkedIgnoreFiles,
            (std::vector<WString>{FromUtf8Lossless((dir.path() / "repo/.gitignore").string())}));
}

}  // namespace
}  // namespace srctally
