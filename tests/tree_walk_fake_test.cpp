// The tree walk over a disk in memory: faults part-way through files and listings, folder
// links, filters and a reader that stops listening, the same on every platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/long_path.h"
#include "report/text_report_sink.h"
#include "testing/fake_disk.h"
#include "testing/recording_writer.h"
#include "tree_walk_test_support.h"
#include "walk/tree_walk.h"

namespace srctally {
namespace {

using platform::ListPass;
using testing::FakeDisk;

constexpr char16_t kRoot[] = u"/fake/src";

struct FakeWalk {
  HResult status = hr::kOk;
  std::string output;
  LineStats totals;
};

FakeWalk WalkFake(FakeDisk& disk, WalkOptions options, IWalkFilter* filter = nullptr) {
  testing::RecordingWriter writer;
  CTextReportSink sink(writer, options.verbose, options.keepGoing);
  CTreeWalk walk(sink, disk, kRoot, options, filter);
  FakeWalk result;
  result.totals.Reset();
  result.status = walk.WalkFolder(WString(1, platform::PathSeparator()), result.totals);
  result.output = writer.text();
  return result;
}

// The parts one after another (appending sidesteps a false alarm of GCC 12's -Wrestrict
// about a literal put before a string).
std::string Join(std::initializer_list<std::string_view> parts) {
  std::string joined;
  for (const std::string_view part : parts) joined.append(part).append(" ");
  joined.pop_back();
  return joined;
}

std::string Level(int level) { return std::string(1, 'n').append(std::to_string(level)); }

// The walk's events as short lines, for tests about what happens in which order.
class EventLog : public IWalkSink {
 public:
  void FolderStarted(WStringView folder) override { Add(Join({"start", ToUtf8(folder)})); }
  void FileCounted(WStringView folder, WStringView name, const LineStats& file) override {
    Add(Join({"file", ToUtf8(folder), ToUtf8(name), std::to_string(file.lines)}));
  }
  void FolderFinished(WStringView folder, std::int64_t fileCount) override {
    Add(Join({"end", ToUtf8(folder), std::to_string(fileCount)}));
  }
  void FolderSkipped(WStringView folder, FolderSkip reason) override {
    Add(Join({"skip", ToUtf8(folder), std::to_string(static_cast<int>(reason))}));
  }
  void FileSkipped(WStringView folder, WStringView name, FileSkip reason) override {
    Add(Join({"skip file", ToUtf8(folder), ToUtf8(name), std::to_string(static_cast<int>(reason))}));
  }
  void WalkFailed(WalkFailure step, WStringView folder, WStringView argument,
                  HResult code) override {
    Add(Join({"fail", std::to_string(static_cast<int>(step)), ToUtf8(folder), ToUtf8(argument),
              std::to_string(code)}));
  }
  bool WantsMore() const override { return budget < 0 || static_cast<int>(events.size()) < budget; }

  void Add(std::string event) {
    for (char& ch : event) ch = ch == '\\' ? '/' : ch;
    if (keep) events.push_back(std::move(event));
    ++count;
    if (disk != nullptr) opened = disk->filesOpened();
  }

  std::vector<std::string> events;
  const FakeDisk* disk = nullptr;  // when set, opened counts its files at each event
  int opened = 0;
  int budget = -1;  // events after which nobody listens any more
  bool keep = true;
  std::size_t count = 0;
};

constexpr std::uint32_t kIoDevice = 1117;

// The names of the files a walk over disk counts, in walk order.
std::vector<std::string> CountedNames(FakeDisk& disk, WalkOptions options) {
  EventLog log;
  CTreeWalk walk(log, disk, kRoot, options);
  LineStats totals;
  totals.Reset();
  EXPECT_EQ(walk.WalkFolder(WString(1, platform::PathSeparator()), totals), hr::kOk);
  std::vector<std::string> names;
  for (const std::string& event : log.events) {
    if (event.starts_with("file ")) names.push_back(event.substr(7, event.rfind(' ') - 7));
  }
  return names;
}

// Every accepted extension is counted in any case of A to Z, and nothing else is; headers
// stay out with noHeader.
TEST(TreeWalkFakeTest, CountsTheFilesOfTheSourceExtensions) {
  const std::vector<std::string> sources = {
      ".c",    "a.c",   "b.CPP",  "c.Cxx",  "d.cs",   "e.JAVA", "f.js",   "g.ino",
      "h.Pde", "i.php", "j.PHP3", "k.php4", "l.php5", "m.Php6", "n.php7", "o.tar.c"};
  const std::vector<std::string> headers = {"p.h", "q.HPP", "r.hXx"};
  const std::vector<std::string> others = {
      "s.php8", "t.txt", "u", "v.", "w.c old", "x.cc", "y.c.bak", "z.hpp~",
      // Letters outside A to Z that other case rules turn into ASCII: capital I with dot,
      // dotless i, long s.
      "\xC4\xB0.\xC4\xB0NO", "\xC4\xB1.\xC4\xB1no", "\xC5\xBF.c\xC5\xBF"};
  FakeDisk disk(kRoot);
  for (const auto* list : {&sources, &headers, &others}) {
    for (const std::string& name : *list) disk.AddFile(name, "x\n");
  }
  disk.AddFile("sub.c/inner.c", "x\n");  // a folder named like a source file is no file

  std::vector<std::string> expected = sources;
  expected.insert(expected.end(), headers.begin(), headers.end());
  std::sort(expected.begin(), expected.end());
  std::vector<std::string> counted = CountedNames(disk, {});
  std::sort(counted.begin(), counted.end());
  EXPECT_EQ(counted, expected);

  counted = CountedNames(disk, {.noHeader = true});
  std::sort(counted.begin(), counted.end());
  std::vector<std::string> withoutHeaders = sources;
  std::sort(withoutHeaders.begin(), withoutHeaders.end());
  EXPECT_EQ(counted, withoutHeaders);
}

TEST(TreeWalkFakeTest, FaultsStopTheWalkWhereTheyHappen) {
  const auto code = [](std::uint32_t win32) { return HResultFromWin32(win32); };
  const std::string fileFailure = "Browsing folder '/'...\n.ERROR: cannot process file 'b.c'.";
  const struct {
    const char* what;
    std::function<void(FakeDisk&)> fault;
    HResult status;
    std::string output;  // with the code suffix where [C] stands
    int files;
  } rows[] = {
      {"file cannot be opened", [](FakeDisk& d) { d.FailOpen("b.c", win32err::kAccessDenied); },
       code(win32err::kAccessDenied), fileFailure + "[C]ERROR: cannot search for files in /.[C]",
       1},
      {"read fails part-way", [](FakeDisk& d) { d.FailRead("b.c", 5, kIoDevice); }, code(kIoDevice),
       fileFailure + "[C]ERROR: cannot search for files in /.[C]", 1},
      {"big-endian UTF-16 mark", [](FakeDisk& d) { d.AddFile("b.c", "\xFE\xFF\0x"); },
       code(win32err::kInvalidData), fileFailure + "[C]ERROR: cannot search for files in /.[C]", 1},
      {"file listing breaks off",
       [](FakeDisk& d) { d.FailListing("", ListPass::kFiles, 1, kIoDevice); }, code(kIoDevice),
       "Browsing folder '/'...\n.ERROR: cannot search for files in /.[C]", 1},
      {"folder listing breaks off",
       [](FakeDisk& d) { d.FailListing("", ListPass::kFolders, 0, kIoDevice); }, code(kIoDevice),
       "Browsing folder '/'...\n...\nERROR: cannot search for folders in /.[C]", 3},
      {"sub-folder cannot be opened", [](FakeDisk& d) { d.FailOpen("z", win32err::kAccessDenied); },
       code(win32err::kAccessDenied),
       "Browsing folder '/'...\n...\nERROR: cannot search for files in /z[C]", 3},
      {"lost error code", [](FakeDisk& d) { d.FailRead("b.c", 0, 0); }, hr::kFail,
       fileFailure + "[C]ERROR: cannot search for files in /.[C]", 1},
      // On a worker thread as on the walk's, the file fails; the process goes on.
      {"memory runs out while counting", [](FakeDisk& d) { d.FailReadWithoutMemory("b.c"); },
       hr::kOutOfMemory, fileFailure + "[C]ERROR: cannot search for files in /.[C]", 1},
  };
  // Counted on the walk's thread or on three workers, the output is the same.
  for (const auto& row : rows) {
    for (const unsigned threads : {1u, 3u}) {
      FakeDisk disk(kRoot);
      disk.AddFile("a.c", "int a;\n");
      disk.AddFile("b.c", "int b;\nint c;\n");
      disk.AddFile("c.c", "int c;\n");
      disk.AddFile("z/z.c", "int z;\n");
      row.fault(disk);
      const FakeWalk result = WalkFake(disk, {.subdir = true, .threads = threads});
      std::string expected;
      for (const char ch : row.output) {
        expected += ch;
        if (expected.ends_with("[C]")) {
          expected.resize(expected.size() - 3);
          expected += CodeSuffix(row.status);
        }
      }
      EXPECT_EQ(result.status, row.status) << row.what;
      EXPECT_EQ(result.output, Sep(expected)) << row.what;
      EXPECT_EQ(result.totals.files, row.files) << row.what;  // counted, never summed up
      EXPECT_EQ(disk.openFiles(), 0) << row.what;
      EXPECT_EQ(disk.openFolders(), 0) << row.what;
    }
  }
}

TEST(TreeWalkFakeTest, WorkerThreadsKeepTheWalkOrder) {
  // Files of very different sizes, so that workers finish out of order; many folders, so
  // that the window of files in flight fills and drains again and again.
  FakeDisk disk(kRoot);
  for (int folder = 0; folder < 40; ++folder) {
    const std::string name = std::string("f").append(std::to_string(folder));
    disk.AddFolder(name + "/empty");
    for (int file = 0; file < 25; ++file) {
      std::string text;
      for (int line = 0; line < (file * 7919 + folder * 104729) % 3000; ++line) {
        text.append(line % 3 == 0 ? "// note\n" : "int x;\n");
      }
      disk.AddFile(name + "/" + std::to_string(file) + ".c", text);
    }
  }
  disk.FailRead("f31/17.c", 100, kIoDevice);
  for (const bool verbose : {false, true}) {
    const FakeWalk one = WalkFake(disk, {.subdir = true, .verbose = verbose});
    ASSERT_EQ(one.status, HResultFromWin32(kIoDevice));
    for (const unsigned threads : {2u, 5u}) {
      const FakeWalk many =
          WalkFake(disk, {.subdir = true, .verbose = verbose, .threads = threads});
      EXPECT_EQ(many.status, one.status) << threads;
      EXPECT_EQ(many.output, one.output) << threads;
      EXPECT_EQ(disk.openFiles(), 0) << threads;
    }
  }
}

TEST(TreeWalkFakeTest, TheWalksThreadCountsRatherThanWait) {
  // Files that take a while to count: the walk fills the window long before the workers are
  // through it, and then counts queued files itself instead of sleeping. The report is the
  // same as ever.
  FakeDisk disk(kRoot);
  std::string text;
  while (text.size() < 200000) text.append("int x; // note\n\n/* a */\n");
  for (int file = 0; file < 60; ++file) disk.AddFile(std::to_string(file) + ".c", text);
  const FakeWalk one = WalkFake(disk, {.subdir = true});
  const int byOneThread = disk.filesReadByOwnThread();
  EXPECT_EQ(byOneThread, 60);
  const FakeWalk two = WalkFake(disk, {.subdir = true, .threads = 2});
  EXPECT_EQ(two.output, one.output);
  EXPECT_EQ(two.totals.lines, one.totals.lines);
  EXPECT_GT(disk.filesReadByOwnThread() - byOneThread, 0);
  EXPECT_EQ(disk.openFiles(), 0);
}

TEST(TreeWalkFakeTest, EachFolderIsWalkedOnce) {
  FakeDisk disk(kRoot);
  disk.AddFile("a/a.c", "x\n");
  disk.AddLink("a/self", "a");
  disk.AddLink("a/up", "");
  disk.AddLink("same", "a");
  const std::string cycles =
      Sep("WARNING: skipping folder link '/a/self': it leads back to one of its parent folders.\n"
          "WARNING: skipping folder link '/a/up': it leads back to one of its parent folders.\n");
  const FakeWalk normal = WalkFake(disk, {.subdir = true});
  EXPECT_EQ(normal.status, hr::kOk);
  EXPECT_EQ(normal.output, Sep("Browsing folder '/'...\nBrowsing folder '/a'...\n.\n") + cycles);
  EXPECT_EQ(normal.totals.files, 1);
  const FakeWalk verbose = WalkFake(disk, {.subdir = true, .verbose = true});
  EXPECT_NE(verbose.output.find(cycles + Sep("Skipping folder '/same': it was walked already.\n")),
            std::string::npos)
      << verbose.output;
  EXPECT_EQ(verbose.totals.files, 1);
}

TEST(TreeWalkFakeTest, LatticeOfLinksCostsItsFolders) {
  FakeDisk disk(kRoot);
  constexpr int kLevels = 25;  // walked through every path: 2^24 folders
  disk.AddFolder("n0");
  for (int level = 0; level + 1 < kLevels; ++level) {
    for (const char* link : {"/a", "/b"}) disk.AddLink(Level(level).append(link), Level(level + 1));
  }
  disk.AddFile("n24/leaf.c", "x\n");
  EventLog log;
  CTreeWalk walk(log, disk, kRoot, {.subdir = true});
  LineStats totals;
  EXPECT_EQ(walk.WalkFolder(WString(1, platform::PathSeparator()), totals), hr::kOk);
  EXPECT_EQ(totals.files, 1);
  EXPECT_EQ(std::count_if(log.events.begin(), log.events.end(),
                          [](const std::string& event) { return event.starts_with("start"); }),
            kLevels + 1);
  // Each folder is opened once as an entry of the top folder and once per link to it.
  for (int level = 1; level < kLevels; ++level) {
    EXPECT_LE(disk.OpenCount(Level(level)), 3) << level;
  }
}

TEST(TreeWalkFakeTest, DepthCostsNoCallStack) {
  // Far deeper than a walk by recursion could go on a main thread's stack. The relative
  // paths make the cost grow with the square of the depth; under AddressSanitizer a
  // shallower tree still overflows any recursive walk (its frames are several times
  // larger) and keeps the test to a few seconds on a busy machine.
#if defined(__SANITIZE_ADDRESS__)
  constexpr int kDepth = 4000;
#else
  constexpr int kDepth = 16000;
#endif
  FakeDisk disk(kRoot);
  std::string path = "d";
  for (int level = 1; level < kDepth; ++level) path += "/d";
  disk.AddFile(path + "/deep.c", "x\ny\n");
  EventLog log;
  log.keep = false;
  CTreeWalk walk(log, disk, kRoot, {.subdir = true});
  LineStats totals;
  EXPECT_EQ(walk.WalkFolder(WString(1, platform::PathSeparator()), totals), hr::kOk);
  EXPECT_EQ(totals.files, 1);
  EXPECT_EQ(totals.lines, 2);
  EXPECT_EQ(log.count, 2u * (kDepth + 1) + 1);  // each folder's start and end, one file
  EXPECT_EQ(disk.openFolders(), 0);
}

TEST(TreeWalkFakeTest, EachFileIsCountedOnceHoweverItIsReached) {
  // A file link met before the file itself, two links to one file, and a folder link
  // whose folder was walked already; in walk order, on the walk's thread or on workers.
  FakeDisk disk(kRoot);
  disk.AddFile("src/a.c", "int a;\n");
  disk.AddFile("src/b.c", "int b;\n");
  disk.AddFile("data/t.txt", "t\nt\n");
  disk.AddLink("alias.c", "src/a.c");
  disk.AddLink("one.c", "data/t.txt");
  disk.AddLink("two.c", "data/t.txt");
  disk.AddLink("zlink", "src");
  const std::vector<std::string> expected = {
      "start /",           "file / alias.c 1",  "file / one.c 2", "skip file / two.c 0",
      "end / 2",           "start /data",       "end /data 0",    "start /src",
      "skip file /src a.c 0", "file /src b.c 1", "end /src 1",     "skip /zlink 1"};
  for (const unsigned threads : {1u, 3u}) {
    EventLog log;
    CTreeWalk walk(log, disk, kRoot, {.subdir = true, .threads = threads});
    for (int run = 0; run < 2; ++run) {  // each run counts afresh
      log.events.clear();
      LineStats totals;
      totals.Reset();
      EXPECT_EQ(walk.WalkFolder(WString(1, platform::PathSeparator()), totals), hr::kOk);
      EXPECT_EQ(log.events, expected) << threads;
      EXPECT_EQ(totals.files, 3) << threads;
      EXPECT_EQ(totals.lines, 4) << threads;
    }
  }
  // Said at the verbose level only, with the path of the file passed over.
  const FakeWalk verbose = WalkFake(disk, {.subdir = true, .verbose = true});
  EXPECT_NE(verbose.output.find(Sep("\nSkipping file '/two.c': it was counted already.\n")),
            std::string::npos)
      << verbose.output;
  EXPECT_NE(verbose.output.find(Sep("\nSkipping file '/src/a.c': it was counted already.\n")),
            std::string::npos);
  const FakeWalk normal = WalkFake(disk, {.subdir = true});
  EXPECT_EQ(normal.output, Sep("Browsing folder '/'...\n..\nBrowsing folder '/data'...\n"
                               "Browsing folder '/src'...\n.\n"));
  EXPECT_EQ(normal.totals.files, 3);
}

TEST(TreeWalkFakeTest, ListingIsLeftAloneOnceNobodyReads) {
  // The reader stops listening when the walk is about to open /b: the walk leaves every
  // folder without reading the rest of its listing, so the break in it further on is
  // never met.
  FakeDisk disk(kRoot);
  for (const char* name : {"a", "b", "c", "d"}) disk.AddFolder(name);
  disk.FailListing("", ListPass::kFolders, 3, kIoDevice);
  EventLog log;
  log.budget = 4;
  CTreeWalk walk(log, disk, kRoot, {.subdir = true});
  LineStats totals;
  EXPECT_EQ(walk.WalkFolder(WString(1, platform::PathSeparator()), totals), hr::kOk);
  const std::vector<std::string> expected = {"start /", "end / 0", "start /a", "end /a 0"};
  EXPECT_EQ(log.events, expected);
  EXPECT_EQ(disk.OpenCount("b"), 0);
  EXPECT_EQ(disk.ListedCount(""), 4 + 2);  // every entry for files, a and b for folders
}

TEST(TreeWalkFakeTest, PathsUpToTheLimitAreWalkedOneMoreFails) {
  // 127 names of 255 characters make a relative path of 32,512 characters; a last name of
  // 262 brings it to 32,775, the longest that fits with its terminating NUL.
  const std::string prefix = [] {
    std::string path;
    for (int level = 0; level < 127; ++level) path.append(255, 'd').append("/");
    return path;
  }();
  for (const std::size_t last : {262u, 263u}) {
    FakeDisk disk(kRoot);
    disk.AddFile(prefix + std::string(last, 'e') + "/f.c", "x\n");
    EventLog log;
    log.keep = false;
    CTreeWalk walk(log, disk, kRoot, {.subdir = true});
    LineStats totals;
    totals.Reset();
    const HResult status = walk.WalkFolder(WString(1, platform::PathSeparator()), totals);
    ASSERT_EQ(1 + 127 * 256 + last, last == 262 ? kLongPathCapacity - 1 : kLongPathCapacity);
    if (last == 262) {
      EXPECT_EQ(status, hr::kOk);
      EXPECT_EQ(totals.files, 1);
    } else {
      EXPECT_EQ(status, HResultFromWin32(win32err::kArithmeticOverflow));
      EXPECT_EQ(totals.files, 0);
    }
  }
}

// Passes over the entries named in its list and records what the walk asks.
class ListFilter : public IWalkFilter {
 public:
  void EnterFolder(WStringView path, ReadFolderFile readFile, void* context) override {
    std::string text;
    const bool read = readFile(context, u".ignore", text);
    std::string call = std::string("enter '").append(ToUtf8(path)).append("'");
    if (read) call.append(" ").append(text);
    calls.push_back(call);
  }
  void LeaveFolder() override { calls.push_back("leave"); }
  bool Excludes(WStringView name, bool isFolder) override {
    calls.push_back(std::string(isFolder ? "folder " : "file ").append(ToUtf8(name)));
    return name == u"skip" || name == u"x.c";
  }
  std::vector<std::string> calls;
};

TEST(TreeWalkFakeTest, FilterPassesEntriesOver) {
  FakeDisk disk(kRoot);
  disk.AddFile(".ignore", "skip");
  disk.AddFile("a.c", "x\n");
  disk.AddFile("x.c", "x\n");
  disk.AddFile("notes.txt", "x\n");
  disk.AddFile("skip/s.c", "x\n");
  disk.AddFile("sub/deep/y.c", "x\n");
  disk.AddFile("sub/deep/.ignore", "nothing");
  ListFilter filter;
  const FakeWalk normal = WalkFake(disk, {.subdir = true}, &filter);
  EXPECT_EQ(normal.status, hr::kOk);
  EXPECT_EQ(normal.output, Sep("Browsing folder '/'...\n.\nBrowsing folder '/sub'...\n"
                               "Browsing folder '/sub/deep'...\n.\n"));
  EXPECT_EQ(normal.totals.files, 2);
  EXPECT_EQ(disk.OpenCount("skip"), 0);  // an excluded folder is never opened
  // Only source files and folders are asked about; paths use '/' on every platform.
  const std::vector<std::string> expected = {
      "enter '' skip", "file a.c",    "file x.c",    "folder skip",
      "folder sub",    "enter 'sub'", "folder deep", "enter 'sub/deep' nothing",
      "file y.c",      "leave",       "leave",       "leave"};
  EXPECT_EQ(filter.calls, expected);

  const FakeWalk verbose = WalkFake(disk, {.subdir = true, .verbose = true}, &filter);
  EXPECT_NE(verbose.output.find(Sep("Skipping folder '/skip': excluded.\n")), std::string::npos);
}

TEST(TreeWalkFakeTest, FolderFilesReadForTheFilterAreClosed) {
  FakeDisk disk(kRoot);
  for (const char* folder : {"", "a/", "a/b/", "c/"}) {
    disk.AddFile(std::string(folder) + ".ignore", "skip");
    disk.AddFile(std::string(folder) + "x.h", "x\n");
  }
  ListFilter filter;
  EventLog log;
  CTreeWalk walk(log, disk, kRoot, {.subdir = true}, &filter);
  LineStats totals;
  totals.Reset();
  EXPECT_EQ(walk.WalkFolder(WString(1, platform::PathSeparator()), totals), hr::kOk);
  EXPECT_EQ(totals.files, 4);
  EXPECT_EQ(filter.calls.front(), "enter '' skip");
  EXPECT_EQ(disk.openFiles(), 0);  // while the walk, and its file objects, live on
}

TEST(TreeWalkFakeTest, WalkEndsWhenNobodyReads) {
  FakeDisk disk(kRoot);
  for (const char* name : {"a.c", "b.c", "c.c", "z/z.c"}) disk.AddFile(name, "x\n");
  EventLog log;
  log.budget = 2;  // the folder line and one file get through
  CTreeWalk walk(log, disk, kRoot, {.subdir = true});
  LineStats totals;
  EXPECT_EQ(walk.WalkFolder(WString(1, platform::PathSeparator()), totals), hr::kOk);
  const std::vector<std::string> expected = {"start /", "file / a.c 1", "end / 1"};
  EXPECT_EQ(log.events, expected);
  EXPECT_EQ(disk.OpenCount("z"), 0);
  EXPECT_EQ(disk.openFolders(), 0);
}

TEST(TreeWalkFakeTest, SingleFileThatCannotBeCountedSaysWhy) {
  const WString path = WString(kRoot) + platform::PathSeparator() + u"b.c";
  const struct {
    const char* what;
    std::function<void(FakeDisk&)> setup;
    HResult status;
  } rows[] = {
      {"counted", [](FakeDisk&) {}, hr::kOk},
      {"no permission", [](FakeDisk& d) { d.FailOpen("b.c", win32err::kAccessDenied); },
       HResultFromWin32(win32err::kAccessDenied)},
      {"big-endian UTF-16 mark", [](FakeDisk& d) { d.AddFile("b.c", "\xFE\xFFx"); },
       HResultFromWin32(win32err::kInvalidData)},
      {"not a file", [](FakeDisk& d) { d.AddOther("b.c"); },
       HResultFromWin32(win32err::kAccessDenied)},
      {"read fails", [](FakeDisk& d) { d.FailRead("b.c", 3, kIoDevice); },
       HResultFromWin32(kIoDevice)},
  };
  for (const auto& row : rows) {
    FakeDisk disk(kRoot);
    disk.AddFile("b.c", "int b;\n");
    row.setup(disk);
    testing::RecordingWriter writer;
    CTextReportSink sink(writer, false);
    LineStats totals;
    totals.Reset();
    EXPECT_EQ(CountSingleFile(sink, disk, path, u"b.c", totals), row.status) << row.what;
    EXPECT_EQ(writer.text(), Failed(row.status)
                                 ? "ERROR: cannot process file 'b.c'." + CodeSuffix(row.status)
                                 : ".")
        << row.what;
    EXPECT_EQ(totals.files, Failed(row.status) ? 0 : 1) << row.what;
    EXPECT_EQ(disk.openFiles(), 0) << row.what;
  }
}

TEST(TreeWalkFakeTest, NamesCannotDriveTheTerminal) {
  FakeDisk disk(kRoot);
  disk.AddFile("e\x1B[2J.c", "x\n");
  disk.AddFile("f\x7F\xC2\x85.c", "\xFE\xFF");
  disk.AddFolder("line\nbreak");
  const FakeWalk result = WalkFake(disk, {.subdir = true, .verbose = true});
  EXPECT_EQ(result.output.find('\x1B'), std::string::npos);
  EXPECT_NE(result.output.find("\ne?[2J.c (size"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("cannot process file 'f??.c'."), std::string::npos) << result.output;
  const FakeWalk failed = WalkFake(disk, {.subdir = true});
  EXPECT_NE(failed.output.find("cannot process file 'f??.c'."), std::string::npos);
}

TEST(TreeWalkFakeTest, PercentSignsInNamesAreWrittenAsTheyStand) {
  // The folder lines, names and blocks are composed in one reused buffer: a long name
  // before a short one must not leave its tail behind.
  FakeDisk disk(kRoot);
  disk.AddFile("100%d/a long name with 50%s%n.c", "x\n");
  disk.AddFile("100%d/b.c", "x\ny\n");
  const FakeWalk normal = WalkFake(disk, {.subdir = true});
  EXPECT_EQ(normal.output, Sep("Browsing folder '/'...\nBrowsing folder '/100%d'...\n..\n"));
  const FakeWalk verbose = WalkFake(disk, {.subdir = true, .verbose = true});
  EXPECT_NE(verbose.output.find(Sep("Browsing folder '/100%d'...\n\na long name with 50%s%n.c (size")),
            std::string::npos)
      << verbose.output;
  EXPECT_NE(verbose.output.find("\nb.c (size: 4 bytes, actual: 2 bytes)\n"), std::string::npos)
      << verbose.output;
  EXPECT_NE(verbose.output.find("Total number of lines:          2\n"), std::string::npos);
}

// A walk on one thread asks its reader before each file whether it still listens, and stops
// at the first failure; on worker threads, where the walk runs ahead, the reader must hear
// the same events, and no file may be opened once it stopped listening or a failure reached
// it.
TEST(TreeWalkFakeTest, NothingIsOpenedOnceTheReaderStopsListeningOrAFileFails) {
  const auto name = [](int file) {
    return std::string(file < 10 ? "0" : "").append(std::to_string(file)).append(".c");
  };
  const HResult code = HResultFromWin32(kIoDevice);
  const struct {
    const char* what;
    int budget;
    bool failure;
    std::vector<std::string> events;
  } rows[] = {
      {"listens for three events", 3, false,
       {"start /", "file / 00.c 1", "file / 01.c 1", "end / 2"}},
      {"listens for one event", 1, false, {"start /", "end / 0"}},
      {"the sixth file fails", -1, true,
       {"start /", "file / 00.c 1", "file / 01.c 1", "file / 02.c 1", "file / 03.c 1",
        "file / 04.c 1", Join({"fail 0 / 05.c", std::to_string(code)})}},
  };
  for (const auto& row : rows) {
    FakeDisk disk(kRoot);
    for (int file = 0; file < 60; ++file) disk.AddFile(name(file), "x\n");
    disk.AddFile("z/z.c", "x\n");
    if (row.failure) disk.FailRead("05.c", 0, kIoDevice);
    // Workers still opening files when the reader stops listening must be done before it
    // hears anything more.
    disk.SlowSharedOpens(std::chrono::milliseconds(1));
    for (const unsigned threads : {1u, 3u}) {
      const int before = disk.filesOpened();
      EventLog log;
      log.budget = row.budget;
      log.disk = &disk;
      CTreeWalk walk(log, disk, kRoot, {.subdir = true, .threads = threads});
      LineStats totals;
      totals.Reset();
      EXPECT_EQ(walk.WalkFolder(WString(1, platform::PathSeparator()), totals),
                row.failure ? code : hr::kOk)
          << row.what << ", " << threads;
      EXPECT_EQ(log.events, row.events) << row.what << ", " << threads;
      EXPECT_EQ(disk.filesOpened(), log.opened) << row.what << ", " << threads;
      EXPECT_EQ(log.opened > before, row.events.size() > 2) << row.what << ", " << threads;
      EXPECT_EQ(disk.OpenCount("z"), 0) << row.what << ", " << threads;
      EXPECT_EQ(disk.openFiles(), 0) << row.what << ", " << threads;
    }
  }
}

// Thread starters for the pipeline: none starts, or only the first.
bool NoThread(std::thread&, void (*)(void*), void*) { return false; }
std::atomic<int> threadsStarted{0};
bool FirstThreadOnly(std::thread& thread, void (*run)(void*), void* context) {
  return threadsStarted++ == 0 && StartSystemThread(thread, run, context);
}

TEST(TreeWalkFakeTest, WithoutWorkerThreadsTheWalksOwnThreadCounts) {
  FakeDisk disk(kRoot);
  for (int file = 0; file < 30; ++file) {
    disk.AddFile(std::string(file % 2 == 0 ? "a/" : "b/").append(std::to_string(file)).append(".c"),
                 std::string(static_cast<std::size_t>(file), '\n'));
  }
  const FakeWalk one = WalkFake(disk, {.subdir = true, .verbose = true});
  int read = disk.filesReadByOwnThread();
  const FakeWalk none =
      WalkFake(disk, {.subdir = true, .verbose = true, .threads = 4, .startThread = &NoThread});
  EXPECT_EQ(none.output, one.output);
  EXPECT_EQ(disk.filesReadByOwnThread() - read, 30);  // every file, and nothing lost
  threadsStarted = 0;
  const FakeWalk single = WalkFake(
      disk, {.subdir = true, .verbose = true, .threads = 4, .startThread = &FirstThreadOnly});
  EXPECT_EQ(single.output, one.output);
  EXPECT_EQ(single.totals.lines, one.totals.lines);
  EXPECT_EQ(disk.openFiles(), 0);
}

TEST(TreeWalkFakeTest, ThreadCountComesFromDigitsAlone) {
  const struct {
    const char* text;
    unsigned hardware;
    unsigned threads;
  } rows[] = {
      {nullptr, 6, 6}, {"", 6, 6},    {"1", 6, 1},     {"256", 6, 256},  {"257", 6, 6},
      {"0", 6, 6},     {"007", 6, 7}, {"-3", 6, 6},    {"+3", 6, 6},     {" 3", 6, 6},
      {"3 ", 6, 6},    {"3x", 6, 6},  {"2560", 6, 6},  {"99999999999999999999", 6, 6},
      {nullptr, 0, 1}, {"x", 0, 1},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ParseThreadCount(row.text, row.hardware), row.threads)
        << (row.text != nullptr ? row.text : "(none)") << ", " << row.hardware;
  }
}

TEST(TreeWalkFakeTest, KeepGoingPassesOverWhatFailsAndCountsTheRest) {
  const std::string root = "Browsing folder '/'...\n";
  const std::string rest = "Browsing folder '/y'...\n.\nBrowsing folder '/z'...\n.\n";
  const std::string fileFailure = root + ".ERROR: cannot process file 'b.c'.[C].\n" + rest;
  const struct {
    const char* what;
    std::function<void(FakeDisk&)> fault;
    HResult status;
    std::string output;  // with the code suffix where [C] stands
    int files;
  } rows[] = {
      {"file cannot be opened", [](FakeDisk& d) { d.FailOpen("b.c", win32err::kAccessDenied); },
       HResultFromWin32(win32err::kAccessDenied), fileFailure, 4},
      {"read fails part-way", [](FakeDisk& d) { d.FailRead("b.c", 1, kIoDevice); },
       HResultFromWin32(kIoDevice), fileFailure, 4},
      {"big-endian UTF-16 mark", [](FakeDisk& d) { d.AddFile("b.c", "\xFE\xFF\0x"); },
       HResultFromWin32(win32err::kInvalidData), fileFailure, 4},
      {"memory runs out", [](FakeDisk& d) { d.FailReadWithoutMemory("b.c"); }, hr::kOutOfMemory,
       fileFailure, 4},
      {"two files fail",
       [](FakeDisk& d) {
         d.FailOpen("b.c", kIoDevice);
         d.FailRead("y/y.c", 0, kIoDevice);
       },
       HResultFromWin32(kIoDevice),
       root + ".ERROR: cannot process file 'b.c'.[C].\nBrowsing folder '/y'...\n"
              "ERROR: cannot process file 'y.c'.[C]Browsing folder '/z'...\n.\n",
       3},
      {"file listing breaks off",
       [](FakeDisk& d) { d.FailListing("y", ListPass::kFiles, 0, kIoDevice); },
       HResultFromWin32(kIoDevice),
       root + "...\nBrowsing folder '/y'...\nERROR: cannot search for files in /y.[C]"
              "Browsing folder '/z'...\n.\n",
       4},
      {"sub-folder listing breaks off",
       [](FakeDisk& d) { d.FailListing("", ListPass::kFolders, 4, kIoDevice); },
       HResultFromWin32(kIoDevice),
       root + "...\nBrowsing folder '/y'...\n.\nERROR: cannot search for folders in /.[C]", 4},
      {"sub-folder cannot be opened",
       [](FakeDisk& d) { d.FailOpen("y", win32err::kAccessDenied); },
       HResultFromWin32(win32err::kAccessDenied),
       root + "...\nERROR: cannot search for files in /y[C]Browsing folder '/z'...\n.\n", 4},
      {"nothing fails", [](FakeDisk&) {}, hr::kOk, root + "...\n" + rest, 5},
  };
  for (const auto& row : rows) {
    for (const unsigned threads : {1u, 3u}) {
      FakeDisk disk(kRoot);
      for (const char* file : {"a.c", "b.c", "c.c", "y/y.c", "z/z.c"}) disk.AddFile(file, "x;\n");
      row.fault(disk);
      const FakeWalk result =
          WalkFake(disk, {.subdir = true, .threads = threads, .keepGoing = true});
      std::string expected;
      for (const char ch : row.output) {
        expected += ch;
        if (expected.ends_with("[C]")) {
          expected.resize(expected.size() - 3);
          expected += CodeSuffix(row.status);
        }
      }
      EXPECT_EQ(result.status, row.status) << row.what << ", " << threads;
      EXPECT_EQ(result.output, Sep(expected)) << row.what << ", " << threads;
      EXPECT_EQ(result.totals.files, row.files) << row.what << ", " << threads;
      EXPECT_EQ(result.totals.lines, row.files) << row.what << ", " << threads;
      EXPECT_EQ(disk.openFiles(), 0) << row.what;
      EXPECT_EQ(disk.openFolders(), 0) << row.what;
    }
  }
}

// Going on after failures, a folder's count leaves out its files that failed, whichever
// thread counted them, and the first failure in walk order is the walk's answer.
TEST(TreeWalkFakeTest, KeepGoingTellsTheSameEventsOnEveryThreadCount) {
  FakeDisk disk(kRoot);
  for (int folder = 0; folder < 12; ++folder) {
    for (int file = 0; file < 20; ++file) {
      const std::string path = std::string("f").append(std::to_string(folder)).append("/")
                                   .append(std::to_string(file)).append(".c");
      disk.AddFile(path, std::string(static_cast<std::size_t>(file * 50), '\n'));
      if ((folder * 20 + file) % 7 == 3) disk.FailRead(path, 10, kIoDevice);
    }
  }
  disk.FailOpen("f4/0.c", win32err::kAccessDenied);
  disk.FailListing("f9", ListPass::kFiles, 5, kIoDevice);
  const auto walk = [&disk](unsigned threads) {
    EventLog log;
    CTreeWalk tree(log, disk, kRoot, {.subdir = true, .threads = threads, .keepGoing = true});
    LineStats totals;
    totals.Reset();
    const HResult status = tree.WalkFolder(WString(1, platform::PathSeparator()), totals);
    log.events.push_back(std::to_string(status) + " " + std::to_string(totals.lines));
    return log.events;
  };
  const std::vector<std::string> one = walk(1);
  EXPECT_EQ(one.back(), std::to_string(HResultFromWin32(kIoDevice)) + " 90950");
  EXPECT_NE(std::find(one.begin(), one.end(), "end /f0 17"), one.end());
  for (const unsigned threads : {2u, 5u}) EXPECT_EQ(walk(threads), one) << threads;
  EXPECT_EQ(disk.openFiles(), 0);
}

// A tree drawn at random: folders a few levels deep, source files and others, links to
// folders (back to ancestors too) and to files, and, with faults, files that cannot be
// opened or read and listings that break off.
void BuildRandomTree(FakeDisk& disk, std::mt19937& random, bool faults) {
  std::vector<std::string> folders{""};
  std::vector<std::string> files;
  const auto pick = [&random](std::size_t size) {
    return static_cast<std::size_t>(random() % static_cast<std::uint32_t>(size));
  };
  const auto join = [](const std::string& folder, std::string_view name) {
    std::string path = folder;
    if (!path.empty()) path.push_back('/');
    return path.append(name);
  };
  const auto suffixed = [](std::string name, std::string_view suffix) {
    return name.append(suffix);
  };
  const int count = 30 + static_cast<int>(random() % 60);
  for (int i = 0; i < count; ++i) {
    const std::string folder = folders[pick(folders.size())];
    const std::string name =
        std::string(1, static_cast<char>('a' + random() % 6)).append(std::to_string(i));
    switch (random() % 10) {
      case 0:
      case 1:
        if (std::count(folder.begin(), folder.end(), '/') < 4) {
          disk.AddFolder(join(folder, name));
          folders.push_back(join(folder, name));
        }
        break;
      case 2:
        disk.AddFile(join(folder, suffixed(name, ".txt")), "not counted\n");
        break;
      case 3:
        if (folders.size() > 1) disk.AddLink(join(folder, name), folders[pick(folders.size())]);
        break;
      case 4:
        if (!files.empty()) {
          disk.AddLink(join(folder, suffixed(name, ".c")), files[pick(files.size())]);
        }
        break;
      default: {
        const std::string path = join(folder, suffixed(name, random() % 4 == 0 ? ".h" : ".c"));
        disk.AddFile(path, std::string(1 + random() % 300, '\n').append("int x;\n"));
        files.push_back(path);
        if (faults && random() % 23 == 0) disk.FailRead(path, random() % 200, kIoDevice);
        if (faults && random() % 31 == 0) disk.FailOpen(path, win32err::kAccessDenied);
      }
    }
  }
  if (faults && folders.size() > 2) {
    disk.FailListing(folders[1 + pick(folders.size() - 1)],
                     random() % 2 == 0 ? ListPass::kFiles : ListPass::kFolders, random() % 4,
                     kIoDevice);
    disk.FailOpen(folders[1 + pick(folders.size() - 1)], win32err::kAccessDenied);
  }
}

// Whatever the tree, its faults and the reader's patience, counting threads change nothing
// the reader hears, and every file they open is closed again; the same when the walk's
// thread opens each file itself.
TEST(TreeWalkFakeTest, RandomTreesGiveTheSameEventsOnEveryThreadCount) {
  for (std::uint32_t seed = 1; seed <= 20; ++seed) {
    std::mt19937 random(seed);
    FakeDisk disk(kRoot);
    BuildRandomTree(disk, random, seed % 3 != 0);
    const int stopAfter = seed % 4 == 0 ? static_cast<int>(random() % 40) : -1;
    for (const bool keepGoing : {false, true}) {
      const auto walk = [&](unsigned threads) {
        EventLog log;
        log.budget = stopAfter;
        CTreeWalk tree(log, disk, kRoot,
                       {.subdir = true, .threads = threads, .keepGoing = keepGoing});
        LineStats totals;
        totals.Reset();
        const HResult status = tree.WalkFolder(WString(1, platform::PathSeparator()), totals);
        log.events.push_back(Join({"status", std::to_string(status), std::to_string(totals.files),
                                   std::to_string(totals.lines)}));
        return log.events;
      };
      disk.ShareFiles(true);
      const std::vector<std::string> one = walk(1);
      for (const unsigned threads : {2u, 5u, seed % 4 == 1 ? 64u : 9u}) {
        EXPECT_EQ(walk(threads), one) << "seed " << seed << ", " << threads << " threads";
        EXPECT_EQ(disk.openFiles(), 0) << "seed " << seed << ", " << threads << " threads";
      }
      disk.ShareFiles(false);
      EXPECT_EQ(walk(3), one) << "seed " << seed << ", files opened by the walk";
    }
  }
}

}  // namespace
}  // namespace srctally
