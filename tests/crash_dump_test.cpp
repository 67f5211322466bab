// Dump names, time stamps and the crash-safe text helpers, without any disk.
#include "platform/crash_dump.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/minidump_format.h"

namespace srctally {
namespace {

CrashIdentity Identity(WString company, WString product, bool hasVersion = true) {
  CrashIdentity identity;
  identity.companyName = std::move(company);
  identity.productName = std::move(product);
  identity.programFileName = u"srctally.exe";
  identity.hasVersion = hasVersion;
  const std::uint16_t version[4] = {1, 2, 3, 4};
  for (int i = 0; i < 4; ++i) identity.version[i] = version[i];
  return identity;
}

const DumpTime kCrashTime{2026, 12, 7, 14, 30, 5, 123};

TEST(ComposeDumpPath, NamesFoldersAndFileFromTheIdentity) {
  struct Row {
    WString localAppData;
    CrashIdentity identity;
    DumpTime time;
    WString expected;
    std::size_t folderCount;
  };
  const Row rows[] = {
      {u"C:\\Local", Identity(u"   ", u"Source Tally"), kCrashTime,
       u"C:\\Local\\Source Tally\\srctally.exe_1.2.3.4_x86_2026-12-07_143005_123.dmp", 1},
      {u"C:\\Local", Identity(u"  Acme  Tools ", u" Source Tally "), kCrashTime,
       u"C:\\Local\\Acme  Tools\\Source Tally\\srctally.exe_1.2.3.4_x86_2026-12-07_143005_123.dmp",
       2},
      // Only U+0020 is trimmed: tabs stay part of the folder name.
      {u"C:\\Local", Identity(u"\tAcme\t ", u"P"), kCrashTime,
       u"C:\\Local\\\tAcme\t\\P\\srctally.exe_1.2.3.4_x86_2026-12-07_143005_123.dmp", 2},
      // A blank product puts the dump in the company folder, or in local data itself.
      {u"C:\\Local", Identity(u"Acme", u""), kCrashTime,
       u"C:\\Local\\Acme\\srctally.exe_1.2.3.4_x86_2026-12-07_143005_123.dmp", 1},
      {u"C:\\Local\\", Identity(u"", u"  "), kCrashTime,
       u"C:\\Local\\srctally.exe_1.2.3.4_x86_2026-12-07_143005_123.dmp", 0},
      // Without version data the name goes straight on with the time stamp.
      {u"C:\\Local",
       Identity(u"", u"P", false),
       {2027, 1, 2, 3, 4, 5, 6},
       u"C:\\Local\\P\\srctally.exe_2027-01-02_030405_006.dmp",
       1},
      {u"C:\\Local",
       Identity(u"", u"P", false),
       {999, 1, 2, 0, 0, 0, 0},
       u"C:\\Local\\P\\srctally.exe_ 999-01-02_000000_000.dmp",
       1},
  };
  for (const Row& row : rows) {
    DumpPath path;
    ASSERT_TRUE(ComposeDumpPath(row.localAppData, u'\\', row.identity, row.time, u"_x86", path))
        << ToUtf8(row.expected);
    EXPECT_EQ(WString(path.text), row.expected);
    EXPECT_EQ(path.length, row.expected.size());
    ASSERT_EQ(path.folderCount, row.folderCount) << ToUtf8(row.expected);
  }
}

TEST(ComposeDumpPath, FolderPrefixesEndAtTheCompanyAndProductFolders) {
  DumpPath path;
  ASSERT_TRUE(ComposeDumpPath(u"/home/u/.local/share/", u'/', Identity(u" Acme ", u"Tally"),
                              kCrashTime, u"_x64", path));
  ASSERT_EQ(path.folderCount, 2u);
  const WString text(path.text);
  EXPECT_EQ(text.substr(0, path.folderLengths[0]), u"/home/u/.local/share/Acme");
  EXPECT_EQ(text.substr(0, path.folderLengths[1]), u"/home/u/.local/share/Acme/Tally");
  EXPECT_EQ(text.substr(path.folderLengths[1]),
            u"/srctally.exe_1.2.3.4_x64_2026-12-07_143005_123.dmp");
}

TEST(ComposeDumpPath, APathThatDoesNotFitFailsCleanly) {
  const WString tail = u"\\P\\srctally.exe_1.2.3.4_x86_2026-12-07_143005_123.dmp";
  for (const std::size_t total : {kDumpPathCapacity - 1, kDumpPathCapacity, std::size_t{400}}) {
    const WString localAppData = u"C:" + WString(total - tail.size() - 2, u'a');
    DumpPath path;
    const bool fits = total < kDumpPathCapacity;
    EXPECT_EQ(ComposeDumpPath(localAppData, u'\\', Identity(u"", u"P"), kCrashTime, u"_x86", path),
              fits)
        << total;
    EXPECT_EQ(path.length, fits ? total : 0u);
    EXPECT_EQ(WString(path.text).size(), path.length);
    if (!fits) {
      EXPECT_EQ(path.folderCount, 0u);
    }
  }
}

TEST(ComposeDumpPath, NeedsAFolderAndAProgramName) {
  DumpPath path;
  EXPECT_FALSE(ComposeDumpPath(u"", u'/', Identity(u"", u"P"), kCrashTime, u"_x64", path));
  CrashIdentity nameless = Identity(u"", u"P");
  nameless.programFileName.clear();
  EXPECT_FALSE(ComposeDumpPath(u"/data", u'/', nameless, kCrashTime, u"_x64", path));
}

TEST(DumpTimeFromUnix, GivesTheLocalCalendarDateAndTime) {
  struct Row {
    std::int64_t seconds;
    int milliseconds;
    std::int32_t offset;
    DumpTime expected;
  };
  const Row rows[] = {
      {0, 0, 0, {1970, 1, 1, 0, 0, 0, 0}},
      {1796653805, 123, 0, {2026, 12, 7, 14, 30, 5, 123}},
      {1796653805, 999, 3600 * 10, {2026, 12, 8, 0, 30, 5, 999}},
      {1709251199, 0, 0, {2024, 2, 29, 23, 59, 59, 0}},
      {1709251199, 0, 1, {2024, 3, 1, 0, 0, 0, 0}},
      {-3600, 7, 0, {1969, 12, 31, 23, 0, 0, 7}},
      {0, 0, -1, {1969, 12, 31, 23, 59, 59, 0}},
      {4107542400, 0, -86400, {2100, 2, 28, 0, 0, 0, 0}},
  };
  for (const Row& row : rows) {
    const DumpTime t = DumpTimeFromUnix(row.seconds, row.milliseconds, row.offset);
    const DumpTime& e = row.expected;
    EXPECT_TRUE(t.year == e.year && t.month == e.month && t.day == e.day && t.hour == e.hour &&
                t.minute == e.minute && t.second == e.second && t.milliseconds == e.milliseconds)
        << row.seconds << " " << row.offset << ": " << t.year << "-" << t.month << "-" << t.day
        << " " << t.hour << ":" << t.minute << ":" << t.second;
  }
}

TEST(EncodeUtf8, MatchesTheLosslessConversion) {
  const WString texts[] = {u"/tmp/a b",
                           u"caf\u00e9 \u20ac",
                           u"\U0001F600",
                           WString(1, char16_t(0xDC81)),
                           WString(1, char16_t(0xD800)) + u"x",
                           u""};
  for (const WString& text : texts) {
    char out[32];
    const std::size_t length = EncodeUtf8(text.c_str(), out, sizeof(out));
    EXPECT_EQ(std::string(out, length), ToUtf8(text));
    EXPECT_EQ(out[length], '\0');
  }
  char small[4];
  EXPECT_EQ(EncodeUtf8(u"abcd", small, sizeof(small)), 0u);
  EXPECT_EQ(EncodeUtf8(u"abc", small, sizeof(small)), 3u);
  EXPECT_EQ(EncodeUtf8(u"a\u20ac", small, sizeof(small)), 0u);
}

TEST(ParseMapsLine, ReadsAddressesPermissionsInodeAndPath) {
  minidump::MapsEntry entry;
  ASSERT_TRUE(
      minidump::ParseMapsLine("7f2c1a000000-7f2c1a028000 r-xp 00002000 fe:01 1312345    "
                              "/usr/lib/x86_64-linux-gnu/libc.so.6",
                              entry));
  EXPECT_EQ(entry.start, 0x7f2c1a000000u);
  EXPECT_EQ(entry.end, 0x7f2c1a028000u);
  EXPECT_EQ(entry.offset, 0x2000u);
  EXPECT_EQ(entry.inode, 1312345u);
  EXPECT_TRUE(entry.readable);
  EXPECT_TRUE(entry.executable);
  EXPECT_EQ(entry.path, "/usr/lib/x86_64-linux-gnu/libc.so.6");

  ASSERT_TRUE(minidump::ParseMapsLine("7ffd0000-7ffd1000 rw-p 00000000 00:00 0 ", entry));
  EXPECT_FALSE(entry.executable);
  EXPECT_EQ(entry.inode, 0u);
  EXPECT_EQ(entry.path, "");
  ASSERT_TRUE(
      minidump::ParseMapsLine("1000-2000 ---p 00000000 08:02 77 /a dir/x (deleted)", entry));
  EXPECT_FALSE(entry.readable);
  EXPECT_EQ(entry.path, "/a dir/x (deleted)");

  for (const char* bad : {"", "zz-10 r-xp 0 0:0 0", "1000-2000", "2000-1000 r-xp 0 00:00 0",
                          "1000-2000 r-xp 00000000 fe01 5 /x"}) {
    EXPECT_FALSE(minidump::ParseMapsLine(bad, entry)) << bad;
  }
}

}  // namespace
}  // namespace srctally
