// The tree walk on POSIX file systems: byte order, odd names, links, non-files, deep trees.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "testing/recording_writer.h"
#include "testing/temp_dir.h"
#include "tree_walk_test_support.h"

namespace srctally {
namespace {

using testing::TempDir;

std::string Narrow(const std::filesystem::path& path) { return path.string(); }

void Symlink(const std::string& target, const std::filesystem::path& link) {
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link;
}

TEST(TreeWalkPosixTest, EntriesInByteOrderWithRawNames) {
  TempDir dir;
  for (const char* name : {"b.c", "a.c", "B.c", "_.c", "caf\xE9.c", "\xC3\xA9t\xC3\xA9.c"}) {
    dir.Write(name, "x\n");
  }
  dir.Write(
      "\xFF"
      "dir/in.c",
      "x\n");
  const WalkResult result = Walk(dir, {.subdir = true, .verbose = true});
  EXPECT_EQ(result.status, hr::kOk);
  // A name that is not UTF-8 comes out as the same bytes.
  EXPECT_EQ(result.output, "Browsing folder '/'...\n" + FileBlock(dir, "B.c") +
                               FileBlock(dir, "_.c") + FileBlock(dir, "a.c") +
                               FileBlock(dir, "b.c") + FileBlock(dir, "caf\xE9.c") +
                               FileBlock(dir, "\xC3\xA9t\xC3\xA9.c") +
                               "6 file(s) processed.\n\n"
                               "Browsing folder '/\xFF"
                               "dir'...\n" +
                               FileBlock(dir,
                                         "\xFF"
                                         "dir/in.c") +
                               "1 file(s) processed.\n\n");
  EXPECT_NE(FileBlock(dir, "caf\xE9.c").find("caf\xE9.c"), std::string::npos);
}

TEST(TreeWalkPosixTest, FailureInTheMiddleStopsTheWalk) {
  TempDir dir;
  dir.Write("a.c", "x\n");
  Symlink("nowhere", dir.path() / "b.c");  // named like a source file, cannot be opened
  dir.Write("c.c", "x\n");
  dir.Write("z/z.c", "x\n");
  const WalkResult result = Walk(dir, {.subdir = true});
  const HResult notFound = HResultFromWin32(win32err::kFileNotFound);
  EXPECT_EQ(result.status, notFound);
  EXPECT_EQ(result.output, "Browsing folder '/'...\n.ERROR: cannot process file 'b.c'." +
                               CodeSuffix(notFound) + "ERROR: cannot search for files in /." +
                               CodeSuffix(notFound));
  EXPECT_EQ(result.totals.files, 1);  // counted before the failure, never reported
}

TEST(TreeWalkPosixTest, NonFilesAreSkippedAndLinksFollowed) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir.path() / "pipe.c").c_str(), 0600), 0);  // opening it would block
  dir.Write("real/r.c", "x\n");
  Symlink("real/r.c", dir.path() / "link.c");
  Symlink("real", dir.path() / "linked");
  Symlink("nowhere", dir.path() / "dangling.txt");
  const WalkResult result = Walk(dir, {.subdir = true});
  EXPECT_EQ(result.status, hr::kOk);
  // /linked and /real are one folder: walked once, under the name met first. Its r.c was
  // counted as /link.c already.
  EXPECT_EQ(result.output, "Browsing folder '/'...\n.\nBrowsing folder '/linked'...\n");
  EXPECT_EQ(result.totals.files, 1);
}

TEST(TreeWalkPosixTest, FolderLinkBackToAnAncestorIsSkipped) {
  TempDir dir;
  dir.Write("a/a.c", "x\n");
  Symlink("..", dir.path() / "a" / "up");
  Symlink(".", dir.path() / "a" / "self");
  Symlink("a", dir.path() / "same");  // the same folder again, but not an ancestor
  const std::string cycles =
      "WARNING: skipping folder link '/a/self': it leads back to one of its parent "
      "folders.\n"
      "WARNING: skipping folder link '/a/up': it leads back to one of its parent "
      "folders.\n";
  const WalkResult result = Walk(dir, {.subdir = true});
  EXPECT_EQ(result.status, hr::kOk);
  // /same is /a again: passed over, and said so only at the verbose level.
  EXPECT_EQ(result.output, "Browsing folder '/'...\nBrowsing folder '/a'...\n.\n" + cycles);
  EXPECT_EQ(result.totals.files, 1);
  const WalkResult verbose = Walk(dir, {.subdir = true, .verbose = true});
  EXPECT_EQ(verbose.output,
            "Browsing folder '/'...\n0 file(s) processed.\n\nBrowsing folder '/a'...\n" +
                FileBlock(dir, "a/a.c") + "1 file(s) processed.\n\n" + cycles +
                "Skipping folder '/same': it was walked already.\n");
}

TEST(TreeWalkPosixTest, EachFileIsCountedOnceHoweverItIsReached) {
  TempDir dir;
  dir.Write("real/r.c", "r\n");
  dir.Write("notes.txt", "n\nn\n");
  Symlink("real/r.c", dir.path() / "a.c");  // met before the file itself
  Symlink("notes.txt", dir.path() / "b.c");  // leads to a file counted by no other name
  Symlink("b.c", dir.path() / "c.c");        // a link to that link
  ASSERT_EQ(::link((dir.path() / "real/r.c").c_str(), (dir.path() / "h.c").c_str()), 0);
  Symlink("real/r.c", dir.path() / "z.c");
  for (const unsigned threads : {1u, 3u}) {
    const WalkResult verbose = Walk(dir, {.subdir = true, .verbose = true, .threads = threads});
    EXPECT_EQ(verbose.status, hr::kOk);
    EXPECT_EQ(verbose.output, "Browsing folder '/'...\n" + FileBlock(dir, "a.c") +
                                  FileBlock(dir, "b.c") +
                                  "Skipping file '/c.c': it was counted already.\n"
                                  "Skipping file '/h.c': it was counted already.\n"
                                  "Skipping file '/z.c': it was counted already.\n"
                                  "2 file(s) processed.\n\n"
                                  "Browsing folder '/real'...\n"
                                  "Skipping file '/real/r.c': it was counted already.\n"
                                  "0 file(s) processed.\n\n");
    EXPECT_EQ(verbose.totals.files, 2);
    EXPECT_EQ(verbose.totals.lines, 3);
  }
  const WalkResult normal = Walk(dir, {.subdir = true});
  EXPECT_EQ(normal.output, "Browsing folder '/'...\n..\nBrowsing folder '/real'...\n");
}

TEST(TreeWalkPosixTest, LatticeOfLinksCostsItsFolders) {
  // n0..n24, each with two links to the next: walked through every path, 2^24 folders.
  TempDir dir;
  constexpr int kLevels = 25;
  const auto folder = [](int level) { return std::string(1, 'n').append(std::to_string(level)); };
  for (int level = 0; level < kLevels; ++level) {
    dir.MakeDir(folder(level));
    if (level + 1 < kLevels) {
      for (const char* link : {"a", "b"}) {
        Symlink(std::string("../").append(folder(level + 1)), dir.path() / folder(level) / link);
      }
    }
  }
  dir.Write("n24/leaf.c", "x\n");
  const WalkResult result = Walk(dir, {.subdir = true});
  EXPECT_EQ(result.status, hr::kOk);
  EXPECT_EQ(result.totals.files, 1);
  std::size_t folders = 0;
  for (std::size_t at = 0; (at = result.output.find("Browsing", at)) != std::string::npos; ++at) {
    ++folders;
  }
  EXPECT_EQ(folders, std::size_t{kLevels} + 1);
}

TEST(TreeWalkPosixTest, DeepLevelsWithSeveralSubFolders) {
  // Far below the top, levels hand their descriptor back while a sub-folder is walked and
  // reopen it for the next one.
  TempDir dir;
  std::filesystem::path deep;
  for (int level = 0; level < 70; ++level) deep /= "d";
  for (const char* leaf : {"x", "y", "z"}) dir.Write(deep / leaf / "f.c", "x\n");
  const WalkResult result = Walk(dir, {.subdir = true});
  EXPECT_EQ(result.status, hr::kOk);
  EXPECT_EQ(result.totals.files, 3);
  const std::string tail = "/x'...\n.\nBrowsing folder '/" + Narrow(deep) + "/y'...\n.\n" +
                           "Browsing folder '/" + Narrow(deep) + "/z'...\n.\n";
  ASSERT_GE(result.output.size(), tail.size());
  EXPECT_EQ(result.output.substr(result.output.size() - tail.size()), tail);
}

// Counts folder lines and keeps only the end of the output: the full text of a very deep
// walk would be tens of megabytes.
class CountingWriter : public CMessageWriter {
 public:
  std::int32_t Write(std::optional<WStringView> text, std::uint32_t flags, HResult,
                     FormatArgs args) override {
    const WString body = text ? FormatV(*text, args) : WString();
    if (body.starts_with(u"Browsing folder")) ++folders;
    if ((flags & msg::kKindMask) == msg::kKindError) ++errors;
    last = body;
    return 0;
  }
  int folders = 0;
  int errors = 0;
  WString last;
};

// Runs work on a thread with a stack of the given size and waits for it.
template <class Work>
void RunWithStack(std::size_t stackSize, Work work) {
  pthread_attr_t attributes;
  ASSERT_EQ(::pthread_attr_init(&attributes), 0);
  ASSERT_EQ(::pthread_attr_setstacksize(&attributes, stackSize), 0);
  pthread_t thread;
  auto body = [](void* argument) -> void* {
    (*static_cast<Work*>(argument))();
    return nullptr;
  };
  ASSERT_EQ(::pthread_create(&thread, &attributes, body, &work), 0);
  ::pthread_join(thread, nullptr);
  ::pthread_attr_destroy(&attributes);
}

// Lowers the soft limit of open descriptors while it lives.
class DescriptorLimit {
 public:
  explicit DescriptorLimit(rlim_t limit) {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    struct rlimit lowered = saved_;
    lowered.rlim_cur = limit;
    set_ = ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
  }
  ~DescriptorLimit() {
    if (set_) ::setrlimit(RLIMIT_NOFILE, &saved_);
  }
  bool set() const { return set_; }

 private:
  struct rlimit saved_ {};
  bool set_ = false;
};

// Makes name below the folder at fd and answers a descriptor of it.
int MakeFolderAt(int fd, const char* name) {
  if (::mkdirat(fd, name, 0700) != 0) return -1;
  return ::openat(fd, name, O_RDONLY | O_DIRECTORY);
}

// The processor time this thread has used, in seconds.
double ThreadSeconds() {
  struct rusage usage {};
  ::getrusage(RUSAGE_THREAD, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST(TreeWalkPosixTest, CombShapedDeepTreeCostsTheSameAtEveryLevel) {
  // Each level holds a/c, al (a link to one folder elsewhere), then b, the next level: far
  // below the top, a level gives its descriptor up for a, and a for c; the level must get
  // it back for al and b in a few calls, not by opening every level above again (which
  // took seconds at this depth).
  constexpr int kDepth = 1200;
  TempDir dir;
  const std::string target = dir.MakeDir("target").string();
  int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (int level = 0; level < kDepth; ++level) {
    const int a = MakeFolderAt(fd, "a");
    ASSERT_GE(a, 0) << level;
    ASSERT_EQ(::mkdirat(a, "c", 0700), 0);
    ::close(a);
    ASSERT_EQ(::symlinkat(target.c_str(), fd, "al"), 0);
    const int next = MakeFolderAt(fd, "b");
    ::close(fd);
    ASSERT_GE(next, 0);
    fd = next;
  }
  const int file = ::openat(fd, "deep.c", O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(file, 0);
  ::close(file);
  ::close(fd);

  CountingWriter writer;
  CTextReportSink sink(writer, false);
  CTreeWalk walk(sink, platform::SystemDisk(), dir.path().u16string(), {.subdir = true});
  LineStats totals;
  totals.Reset();
  const DescriptorLimit limit(48);
  ASSERT_TRUE(limit.set());
  const double start = ThreadSeconds();
  EXPECT_EQ(walk.WalkFolder(u"/", totals), hr::kOk);
  // A generous bound on the walk's processor time, whatever the load: a tenth of a second
  // is usual, a few tenths with sanitizers; reopening every level above took seconds.
  EXPECT_LT(ThreadSeconds() - start, 1.5);
  EXPECT_EQ(writer.folders, 3 * kDepth + 2);  // the top's al; the other links lead to it again
  EXPECT_EQ(writer.errors, 0);
  EXPECT_EQ(totals.files, 1);

  // Take the comb apart from the top, one short path at a time: the next level's a and b
  // move up in place of the top's.
  const int top = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(top, 0);
  for (int level = 0; level < kDepth; ++level) {
    ASSERT_EQ(::unlinkat(top, "a/c", AT_REMOVEDIR), 0) << level;
    ASSERT_EQ(::unlinkat(top, "a", AT_REMOVEDIR), 0);
    ASSERT_EQ(::unlinkat(top, "al", 0), 0);
    if (level + 1 == kDepth) break;
    ASSERT_EQ(::renameat(top, "b/a", top, "a"), 0);
    ASSERT_EQ(::renameat(top, "b/al", top, "al"), 0);
    ASSERT_EQ(::renameat(top, "b/b", top, "e"), 0);
    ASSERT_EQ(::unlinkat(top, "b", AT_REMOVEDIR), 0);
    ASSERT_EQ(::renameat(top, "e", top, "b"), 0);
  }
  ::close(top);
}

// Moves the folder from to to when the walk starts on the folder at relative path when.
class MovingSink : public IWalkSink {
 public:
  MovingSink(std::string when, std::filesystem::path from, std::filesystem::path to)
      : when_(std::move(when)), from_(std::move(from)), to_(std::move(to)) {}
  void FolderStarted(WStringView folder) override {
    ++folders;
    if (ToUtf8(folder) == when_) moved = ::rename(from_.c_str(), to_.c_str()) == 0;
  }
  void FileCounted(WStringView, WStringView, const LineStats&) override { ++files; }
  void FolderFinished(WStringView, std::int64_t) override {}
  void FolderSkipped(WStringView, FolderSkip) override {}
  void FileSkipped(WStringView, WStringView, FileSkip) override {}
  void WalkFailed(WalkFailure, WStringView, WStringView, HResult) override { ++failures; }
  int folders = 0;
  int files = 0;
  int failures = 0;
  bool moved = false;

 private:
  std::string when_;
  std::filesystem::path from_;
  std::filesystem::path to_;
};

TEST(TreeWalkPosixTest, DeepFolderMovedAwayDuringTheWalkIsNotTakenForItsParent) {
  // Far below the top, p gives its descriptor up while q is walked, and takes one back
  // through q's ".." when q is done. q was moved meanwhile: its ".." is another folder
  // now, and p must be found again by name for r.
  TempDir dir;
  std::filesystem::path p;
  for (int level = 0; level < 20; ++level) p /= "d";
  p /= "p";
  dir.MakeDir(p / "q");
  dir.Write(p / "r" / "f.c", "x\n");
  MovingSink sink(std::string("/").append((p / "q").string()), dir.path() / p / "q", dir.path() / "moved");
  CTreeWalk walk(sink, platform::SystemDisk(), dir.path().u16string(), {.subdir = true});
  LineStats totals;
  totals.Reset();
  EXPECT_EQ(walk.WalkFolder(u"/", totals), hr::kOk);
  EXPECT_TRUE(sink.moved);
  EXPECT_EQ(sink.failures, 0);
  EXPECT_EQ(sink.files, 1);  // /d/.../p/r/f.c, not a file of the folder q was moved to
}

TEST(TreeWalkPosixTest, DeepNestedFolderLinksKeepDescriptorsBounded) {
  // Far below the top, a chain of 80 folder links, each to a folder that has a sub-folder
  // after its link: ".." does not lead back through a link, so each level gets its
  // descriptor back another way, and no more than a few dozen are open at any time.
  TempDir dir;
  std::filesystem::path chain = "chain";
  for (int level = 0; level < 20; ++level) chain /= "d";
  dir.MakeDir(chain);
  constexpr int kLinks = 80;
  for (int target = 0; target < kLinks; ++target) {
    const std::filesystem::path here =
        dir.path() / "targets" / std::string("t").append(std::to_string(target));
    dir.Write(here / "b" / "f.c", "x\n");
    if (target + 1 < kLinks) {
      Symlink(std::string("../t").append(std::to_string(target + 1)), here / "a");
    }
  }
  Symlink((dir.path() / "targets" / "t0").string(), dir.path() / chain / "go");
  CountingWriter writer;
  CTextReportSink sink(writer, false);
  CTreeWalk walk(sink, platform::SystemDisk(), dir.path().u16string(), {.subdir = true});
  LineStats totals;
  totals.Reset();
  HResult status = hr::kFail;
  {
    const DescriptorLimit limit(64);
    ASSERT_TRUE(limit.set());
    status = walk.WalkFolder(u"/", totals);
  }
  EXPECT_EQ(status, hr::kOk);
  EXPECT_EQ(writer.errors, 0);
  EXPECT_EQ(totals.files, kLinks);
  // The top, chain and its 20 levels, each target and its b through the links, "targets"
  // (its folders were walked already).
  EXPECT_EQ(writer.folders, 1 + 21 + 2 * kLinks + 1);
}

TEST(TreeWalkPosixTest, WalksTreesDeeperThanPathMax) {
  constexpr int kDepth = 5000;  // "/d" times 5,000: 10,000 bytes, far beyond PATH_MAX
  TempDir dir;
  int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (int level = 0; level < kDepth; ++level) {
    ASSERT_EQ(::mkdirat(fd, "d", 0700), 0) << level;
    const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
    ::close(fd);
    ASSERT_GE(next, 0);
    fd = next;
  }
  const int file = ::openat(fd, "deep.c", O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(file, 0);
  ASSERT_EQ(::write(file, "x\ny\n", 4), 4);
  ::close(file);
  ::close(fd);

  CountingWriter writer;
  CTextReportSink sink(writer, false);
  CTreeWalk walk(sink, platform::SystemDisk(), dir.path().u16string(), {.subdir = true});
  LineStats totals;
  totals.Reset();
  HResult status = hr::kFail;
  {
    // The depth costs neither call stack nor descriptors: a small stack and a few dozen
    // descriptors (the test program holds some of them itself) do.
    const DescriptorLimit limit(48);
    ASSERT_TRUE(limit.set());
    RunWithStack(std::size_t{256} << 10, [&] { status = walk.WalkFolder(u"/", totals); });
  }
  EXPECT_EQ(status, hr::kOk);
  EXPECT_EQ(writer.folders, kDepth + 1);
  EXPECT_EQ(writer.errors, 0);
  EXPECT_EQ(totals.files, 1);
  EXPECT_EQ(totals.lines, 2);

  // Take the chain apart from the top, one short path at a time: moving temp/d/d up to
  // temp/e empties temp/d.
  const int top = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(top, 0);
  for (int level = 0; level < kDepth - 1; ++level) {
    ASSERT_EQ(::renameat(top, "d/d", top, "e"), 0) << level;
    ASSERT_EQ(::unlinkat(top, "d", AT_REMOVEDIR), 0);
    ASSERT_EQ(::renameat(top, "e", top, "d"), 0);
  }
  ::close(top);
}

// A tree with what a walk must get right in order: a wide folder (more sub-folders than
// are opened ahead at once), a comb deeper than the levels that keep their descriptors,
// a link back to an ancestor, a link to a folder walked already, a second link to a file,
// and non-source files.
void BuildMixedTree(const TempDir& dir) {
  for (int i = 0; i < 40; ++i) {
    const std::string folder = std::string("wide/w").append(std::to_string(i));
    for (int file = 0; file < i % 4; ++file) {
      dir.Write(folder + "/f" + std::to_string(file) + ".c", std::string(i + file, '\n'));
    }
    if (i % 5 == 0) dir.MakeDir(folder + "/empty");
  }
  std::filesystem::path level = "comb";
  for (int depth = 0; depth < 24; ++depth) {
    for (const char* side : {"a", "c"}) dir.Write(level / side / "s.c", "x\ny\n");
    dir.Write(level / "n.h", "// note\n");
    level /= "b";
  }
  // Files sorted between sub-folders: a sub-folder's place among the sub-folders is not
  // its place in the listing.
  for (const char* path : {"mixed/a/x.c", "mixed/b.c", "mixed/c/y.c", "mixed/d/z.c",
                           "mixed/e.c", "mixed/f/w.c", "mixed/g/v.c"}) {
    dir.Write(path, path);
  }
  dir.Write("links/t.c", "int t;\n");
  dir.Write("links/t.txt", "not counted\n");
  Symlink("..", dir.path() / "links" / "up");
  Symlink("../wide/w3", dir.path() / "links" / "w3");
  Symlink("t.c", dir.path() / "links" / "u.c");
}

TEST(TreeWalkPosixTest, ThreadsChangeNothingTheReaderHears) {
  TempDir dir;
  BuildMixedTree(dir);
  for (const bool keepGoing : {false, true}) {
    const WalkResult one =
        Walk(dir, {.subdir = true, .verbose = true, .threads = 1, .keepGoing = keepGoing});
    EXPECT_EQ(one.status, hr::kOk);
    EXPECT_NE(one.output.find("/links/up"), std::string::npos);
    for (const unsigned threads : {2u, 5u, 64u}) {
      const WalkResult many =
          Walk(dir, {.subdir = true, .verbose = true, .threads = threads, .keepGoing = keepGoing});
      EXPECT_EQ(many.status, one.status) << threads;
      EXPECT_EQ(many.output, one.output) << threads;
      EXPECT_EQ(many.totals.lines, one.totals.lines) << threads;
    }
  }
  // A link that leads nowhere, named like a source file, ends the walk where it is met, or
  // is told and passed over.
  Symlink("nowhere", dir.path() / "comb" / "b" / "b" / "bad.c");
  for (const bool keepGoing : {false, true}) {
    const WalkResult one =
        Walk(dir, {.subdir = true, .verbose = true, .threads = 1, .keepGoing = keepGoing});
    EXPECT_TRUE(Failed(one.status));
    for (const unsigned threads : {2u, 5u, 64u}) {
      const WalkResult many =
          Walk(dir, {.subdir = true, .verbose = true, .threads = threads, .keepGoing = keepGoing});
      EXPECT_EQ(many.status, one.status) << threads;
      EXPECT_EQ(many.output, one.output) << threads << (keepGoing ? ", going on" : "");
    }
  }
}

TEST(TreeWalkPosixTest, ManyThreadsStayWithinTheOpenFileLimit) {
  // Each thread holds a few descriptors and the walk a bounded number more; asked for 256
  // threads under a low limit, the walk takes fewer, and every file is counted.
  TempDir dir;
  BuildMixedTree(dir);
  for (int i = 0; i < 150; ++i) {
    dir.Write(std::string("many/m").append(std::to_string(i)).append("/x.c"), "x\n");
  }
  const WalkResult expected = Walk(dir, {.subdir = true, .threads = 1});
  ASSERT_EQ(expected.status, hr::kOk);
  for (const rlim_t limit : {rlim_t{64}, rlim_t{170}}) {
    WalkResult result;
    {
      const DescriptorLimit lowered(limit);
      ASSERT_TRUE(lowered.set());
      result = Walk(dir, {.subdir = true, .threads = 256});
    }
    EXPECT_EQ(result.status, hr::kOk) << limit;
    EXPECT_EQ(result.output, expected.output) << limit;
    EXPECT_EQ(result.totals.files, expected.totals.files) << limit;
  }
  EXPECT_EQ(ThreadsWithinOpenFileLimit(256, 64), 1u);
  EXPECT_EQ(ThreadsWithinOpenFileLimit(256, 170), 8u);
  EXPECT_EQ(ThreadsWithinOpenFileLimit(4, 1024), 4u);
  EXPECT_EQ(ThreadsWithinOpenFileLimit(256, UINT64_MAX), 256u);
}

// Makes a tree of fanOut sub-folders per folder, levels deep below the folder at fd; each
// folder holds a file of its own size in lines, so a folder counted twice or missed shows in
// the totals. Answers the folders made.
int MakeBushyTree(int fd, int fanOut, int levels, int& lines) {
  if (levels == 0) return 0;
  int made = 0;
  for (int i = 0; i < fanOut; ++i) {
    const std::string name = std::string("d").append(std::to_string(i));
    const int sub = MakeFolderAt(fd, name.c_str());
    if (sub < 0) return -1;
    const int file = ::openat(sub, "f.c", O_WRONLY | O_CREAT, 0600);
    const std::string text(static_cast<std::size_t>(i + levels), '\n');
    const bool written =
        file >= 0 && ::write(file, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (file >= 0) ::close(file);
    lines += i + levels;
    const int below = written ? MakeBushyTree(sub, fanOut, levels - 1, lines) : -1;
    ::close(sub);
    if (below < 0) return -1;
    made += 1 + below;
  }
  return made;
}

TEST(TreeWalkPosixTest, WithThreadsTheWalkTakesItsFoldersOpenedAhead) {
  // Bushy levels, one wide folder and a chain deeper than the levels that keep their
  // descriptors, where each level goes on in its first sub-folder and its other two come
  // after the whole chain below: with threads lent, the sub-folders the walk comes to have been opened and
  // listed on them before it gets there (a look-ahead that spent its budget on folders the
  // walk wants much later left dozens of these to the walk's thread), and every folder
  // and line is counted once, as with one thread.
  TempDir dir;
  int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  int lines = 0;
  const int bushy = MakeBushyTree(fd, 5, 4, lines);
  ASSERT_EQ(bushy, 5 + 25 + 125 + 625);
  const int wide = MakeFolderAt(fd, "wide");
  ASSERT_GE(wide, 0);
  ASSERT_EQ(MakeBushyTree(wide, 300, 1, lines), 300);
  ::close(wide);
  constexpr int kChain = 100;
  int level = MakeFolderAt(fd, "zchain");
  for (int depth = 0; depth < kChain && level >= 0; ++depth) {
    ASSERT_EQ(MakeBushyTree(level, 2, 1, lines), 2);
    const int next = MakeFolderAt(level, "c");
    ::close(level);
    level = next;
  }
  ASSERT_GE(level, 0);
  ::close(level);
  ::close(fd);
  const int folders = 1 + bushy + 1 + 300 + 1 + kChain * 3;

  const WalkResult one = Walk(dir, {.subdir = true, .verbose = true, .threads = 1});
  ASSERT_EQ(one.status, hr::kOk);
  EXPECT_EQ(one.totals.lines, std::int64_t{lines});
  // Every folder holds a file but the top, "wide", and the chain's own levels.
  EXPECT_EQ(one.totals.files, std::int64_t{folders - 3 - kChain});
  const platform::IDisk& disk = platform::SystemDisk();
  for (const unsigned threads : {3u, 8u}) {
    const std::uint64_t before = disk.FoldersOpenedByWalkThread();
    const WalkResult many = Walk(dir, {.subdir = true, .verbose = true, .threads = threads});
    const std::uint64_t opened = disk.FoldersOpenedByWalkThread() - before;
    EXPECT_EQ(many.status, one.status) << threads;
    EXPECT_EQ(many.output, one.output) << threads;
    // A few may be left over when the threads fall behind; never a sizable share.
    EXPECT_LE(opened, static_cast<std::uint64_t>(folders / 50)) << threads;
  }
  // Under a low limit of open descriptors and asked for many threads, still every folder.
  for (const rlim_t limit : {rlim_t{64}, rlim_t{170}}) {
    WalkResult many;
    {
      const DescriptorLimit lowered(limit);
      ASSERT_TRUE(lowered.set());
      many = Walk(dir, {.subdir = true, .verbose = true, .threads = 256});
    }
    EXPECT_EQ(many.status, one.status) << limit;
    EXPECT_EQ(many.output, one.output) << limit;
  }
}

TEST(TreeWalkPosixTest, DeepTreesWithThreadsKeepDescriptorsAndOrder) {
  // Folders opened ahead hold descriptors of their own and of their parents; deep below the
  // top, where levels give theirs up, the walk still stays within a low limit and tells
  // the same as with one thread.
  constexpr int kDepth = 200;
  TempDir dir;
  int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (int level = 0; level < kDepth; ++level) {
    for (const char* side : {"a", "c"}) {
      const int leaf = MakeFolderAt(fd, side);
      ASSERT_GE(leaf, 0) << level;
      const int file = ::openat(leaf, "f.c", O_WRONLY | O_CREAT, 0600);
      ASSERT_GE(file, 0);
      ASSERT_EQ(::write(file, "x\n", 2), 2);
      ::close(file);
      ::close(leaf);
    }
    const int next = MakeFolderAt(fd, "b");
    ::close(fd);
    ASSERT_GE(next, 0);
    fd = next;
  }
  ::close(fd);
  const auto walk = [&dir](unsigned threads) {
    CountingWriter writer;
    CTextReportSink sink(writer, false);
    CTreeWalk tree(sink, platform::SystemDisk(), dir.path().u16string(),
                   {.subdir = true, .threads = threads});
    LineStats totals;
    totals.Reset();
    const DescriptorLimit limit(170);
    EXPECT_TRUE(limit.set());
    const HResult status = tree.WalkFolder(u"/", totals);
    return std::to_string(status) + " " + std::to_string(writer.folders) + " " +
           std::to_string(writer.errors) + " " + std::to_string(totals.files);
  };
  const std::string one = walk(1);
  EXPECT_EQ(one, "0 " + std::to_string(3 * kDepth + 1) + " 0 " + std::to_string(2 * kDepth));
  EXPECT_EQ(walk(8), one);
}

}  // namespace
}  // namespace srctally
