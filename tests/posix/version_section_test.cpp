// Finding the version section in ELF files of both classes, written here byte by byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/version_resource.h"
#include "testing/temp_dir.h"

namespace srctally {
namespace {

void PutLe(std::string& bytes, std::size_t at, std::uint64_t value, std::size_t width) {
  if (bytes.size() < at + width) bytes.resize(at + width, '\0');
  for (std::size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// A minimal little-endian ELF file: a null section, the name table and one data section
// called sectionName holding payload. With extendedCount, the count and the name-table
// index live in section 0, as in files with very many sections.
std::string MakeElf(bool is64, const std::string& sectionName, const std::string& payload,
                    bool extendedCount = false) {
  const std::size_t headerBytes = is64 ? 64 : 52;
  const std::size_t entryBytes = is64 ? 64 : 40;
  const std::size_t word = is64 ? 8 : 4;
  const std::string names = std::string("\0.shstrtab\0", 11) + sectionName + '\0';
  const std::size_t namesAt = headerBytes;
  const std::size_t payloadAt = namesAt + names.size();
  const std::size_t tableAt = (payloadAt + payload.size() + 7) & ~std::size_t{7};

  std::string file =
      "\x7F"
      "ELF";
  file += static_cast<char>(is64 ? 2 : 1);
  file += '\x01';  // little-endian
  file += '\x01';
  PutLe(file, 16, 2, 2);  // ET_EXEC
  PutLe(file, is64 ? 0x28 : 0x20, tableAt, word);
  PutLe(file, is64 ? 0x3A : 0x2E, entryBytes, 2);
  PutLe(file, is64 ? 0x3C : 0x30, extendedCount ? 0 : 3, 2);
  PutLe(file, is64 ? 0x3E : 0x32, extendedCount ? 0xFFFF : 1, 2);
  file.replace(namesAt, names.size(), names);
  file.resize(payloadAt);
  file += payload;
  file.resize(tableAt + 3 * entryBytes, '\0');

  const auto section = [&](std::size_t index, std::uint32_t name, std::uint64_t offset,
                           std::uint64_t size, std::uint32_t link) {
    const std::size_t at = tableAt + index * entryBytes;
    PutLe(file, at, name, 4);
    PutLe(file, at + 4, index == 0 ? 0 : (index == 1 ? 3 : 1), 4);  // STRTAB, PROGBITS
    PutLe(file, at + (is64 ? 24 : 16), offset, word);
    PutLe(file, at + (is64 ? 32 : 20), size, word);
    PutLe(file, at + (is64 ? 40 : 24), link, 4);
  };
  section(0, 0, 0, extendedCount ? 3 : 0, extendedCount ? 1 : 0);
  section(1, 1, namesAt, names.size(), 0);
  section(2, 11, payloadAt, payload.size(), 0);
  return file;
}

TEST(VersionSectionTest, FindsSectionInBothElfClasses) {
  testing::TempDir dir;
  for (const bool is64 : {false, true}) {
    for (const bool extended : {false, true}) {
      const auto path = dir.Write("prog", MakeElf(is64, ".srctally_version", "VERSION!", extended));
      std::vector<std::uint8_t> block;
      ASSERT_TRUE(platform::ReadVersionBlock(FromUtf8Lossless(path.string()), block))
          << is64 << extended;
      EXPECT_EQ(std::string(block.begin(), block.end()), "VERSION!");
    }
  }
}

// A 64-bit file whose section 0 claims 2^58 + 2 sections of 64 bytes: the table's size
// wraps around to 128 bytes, which the file holds, so only the count itself gives it away.
// Read with the wrapped size, the walk over the sections would run far past the table.
std::string HugeCountElf() {
  std::string file =
      "\x7F"
      "ELF\x02\x01\x01";
  PutLe(file, 16, 2, 2);
  PutLe(file, 0x28, 64, 8);                               // section table right after the header
  PutLe(file, 0x3A, 64, 2);                               // entry size
  PutLe(file, 0x3C, 0, 2);                                // count: see section 0
  PutLe(file, 0x3E, 0xFFFF, 2);                           // name table index: see section 0
  PutLe(file, 64 + 32, (std::uint64_t{1} << 58) + 2, 8);  // section 0: size holds the count
  PutLe(file, 64 + 40, 1, 4);                             // section 0: link holds the index
  PutLe(file, 128 + 4, 3, 4);                             // section 1: the name table
  PutLe(file, 128 + 24, 192, 8);
  PutLe(file, 128 + 32, 11, 8);
  file.resize(192);
  file += std::string("\0.shstrtab\0", 11);
  return file;
}

TEST(VersionSectionTest, FilesWithoutTheSection) {
  testing::TempDir dir;
  struct Row {
    std::string contents;
    std::uint32_t error;
  };
  const Row rows[] = {
      {MakeElf(true, ".srctally_versions", "x"), 1813},
      {MakeElf(false, ".data", "x"), 1813},
      {"#!/bin/sh\n", 1812},
      {"", 1812},
      {MakeElf(true, ".srctally_version", "x").substr(0, 100), 1812},  // table cut off
      {HugeCountElf(), 1812},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.contents.size());
    const auto path = dir.Write("prog", row.contents);
    std::vector<std::uint8_t> block;
    EXPECT_FALSE(platform::ReadVersionBlock(FromUtf8Lossless(path.string()), block));
    EXPECT_EQ(platform::GetLastErrorCode(), row.error) << row.contents.size();
  }
  std::vector<std::uint8_t> block;
  EXPECT_FALSE(platform::ReadVersionBlock(FromUtf8Lossless((dir.path() / "none").string()), block));
  EXPECT_EQ(platform::GetLastErrorCode(), 2u);
}

}  // namespace
}  // namespace srctally
