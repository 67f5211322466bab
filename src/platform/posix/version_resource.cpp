// The version block of an ELF program file: the contents of its ".srctally_version"
// section, found through the section headers (32- and 64-bit little-endian files).
#include "platform/version_resource.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "platform/last_error.h"

namespace srctally::platform {
namespace {

constexpr std::string_view kSectionName = ".srctally_version";
// The codes the version library gives for a file that is not a program with resources,
// and for a program without a version resource.
constexpr std::uint32_t kResourceDataNotFound = 1812;
constexpr std::uint32_t kResourceTypeNotFound = 1813;
constexpr std::uint32_t kSectionNoBits = 8;
// Bounds that keep a damaged file from making us read or allocate without limit.
constexpr std::uint64_t kMaxTableBytes = 16u << 20;
constexpr std::uint64_t kMaxNamesBytes = 1u << 20;
constexpr std::uint64_t kMaxBlockBytes = 1u << 20;

class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~ReadOnlyFile() {
    if (fd_ >= 0) {
      LastErrorKeeper keep;
      ::close(fd_);
    }
  }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  bool is_open() const { return fd_ >= 0; }

  // Reads exactly size bytes at offset; a short read is a file without the data.
  bool ReadAt(std::uint64_t offset, std::uint64_t size, std::string& out) const {
    try {
      out.assign(static_cast<std::size_t>(size), '\0');
    } catch (const std::bad_alloc&) {
      SetLastErrorCode(14);  // out of memory
      return false;
    }
    std::size_t done = 0;
    while (done < out.size()) {
      const ssize_t got =
          ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        SetLastErrorCode(Win32ErrorFromErrno(errno));
        return false;
      }
      if (got == 0) {
        SetLastErrorCode(kResourceDataNotFound);
        return false;
      }
      done += static_cast<std::size_t>(got);
    }
    return true;
  }

 private:
  int fd_;
};

std::uint64_t ReadLe(std::string_view bytes, std::size_t offset, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i-- > 0;)
    value = (value << 8) | static_cast<std::uint8_t>(bytes[offset + i]);
  return value;
}

// Field positions of the two ELF classes.
struct ElfLayout {
  std::size_t headerBytes, shoff, shentsize, shnum, shstrndx;    // in the file header
  std::size_t entryBytes, name, type, offset, size, link, word;  // in a section header
};
constexpr ElfLayout kElf32{52, 0x20, 0x2E, 0x30, 0x32, 40, 0, 4, 16, 20, 24, 4};
constexpr ElfLayout kElf64{64, 0x28, 0x3A, 0x3C, 0x3E, 64, 0, 4, 24, 32, 40, 8};

struct Section {
  std::uint32_t name = 0;
  std::uint32_t type = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::uint32_t link = 0;
};

Section SectionAt(std::string_view table, std::size_t at, const ElfLayout& elf) {
  Section section;
  section.name = static_cast<std::uint32_t>(ReadLe(table, at + elf.name, 4));
  section.type = static_cast<std::uint32_t>(ReadLe(table, at + elf.type, 4));
  section.offset = ReadLe(table, at + elf.offset, elf.word);
  section.size = ReadLe(table, at + elf.size, elf.word);
  section.link = static_cast<std::uint32_t>(ReadLe(table, at + elf.link, 4));
  return section;
}

bool NotFound(std::uint32_t code) {
  SetLastErrorCode(code);
  return false;
}

bool ReadSection(const ReadOnlyFile& file, const Section& section, std::uint64_t limit,
                 std::string& out) {
  if (section.type == kSectionNoBits || section.size > limit)
    return NotFound(kResourceDataNotFound);
  return file.ReadAt(section.offset, section.size, out);
}

}  // namespace

bool ReadVersionBlock(WStringView path, std::vector<std::uint8_t>& block) {
  const ReadOnlyFile file(ToUtf8(path));
  if (!file.is_open()) {
    SetLastErrorCode(Win32ErrorFromErrno(errno));
    return false;
  }
  std::string header;
  if (!file.ReadAt(0, kElf32.headerBytes, header)) return false;
  if (header.compare(0, 4,
                     "\x7F"
                     "ELF") != 0 ||
      header[5] != 1 /* little-endian */ || (header[4] != 1 && header[4] != 2)) {
    return NotFound(kResourceDataNotFound);
  }
  const ElfLayout& elf = header[4] == 1 ? kElf32 : kElf64;
  if (!file.ReadAt(0, elf.headerBytes, header)) return false;

  const std::uint64_t tableOffset = ReadLe(header, elf.shoff, elf.word);
  const std::uint64_t entryBytes = ReadLe(header, elf.shentsize, 2);
  std::uint64_t count = ReadLe(header, elf.shnum, 2);
  std::uint64_t namesIndex = ReadLe(header, elf.shstrndx, 2);
  if (tableOffset == 0 || entryBytes < elf.entryBytes) return NotFound(kResourceTypeNotFound);

  // Large files keep the real section count and name-table index in section 0.
  std::string table;
  if (count == 0 || namesIndex == 0xFFFF) {
    if (!file.ReadAt(tableOffset, entryBytes, table)) return false;
    const Section first = SectionAt(table, 0, elf);
    if (count == 0) count = first.size;
    if (namesIndex == 0xFFFF) namesIndex = first.link;
  }
  // A division, not count * entryBytes: a count taken from section 0 is a full word, and
  // the product could wrap around to a small table size that passes the check.
  if (count == 0 || namesIndex >= count || count > kMaxTableBytes / entryBytes) {
    return NotFound(kResourceDataNotFound);
  }
  if (!file.ReadAt(tableOffset, count * entryBytes, table)) return false;

  std::string names;
  const Section namesSection =
      SectionAt(table, static_cast<std::size_t>(namesIndex * entryBytes), elf);
  if (!ReadSection(file, namesSection, kMaxNamesBytes, names)) return false;

  for (std::uint64_t i = 1; i < count; ++i) {
    const Section section = SectionAt(table, static_cast<std::size_t>(i * entryBytes), elf);
    if (section.name >= names.size()) continue;
    const std::size_t end = names.find('\0', section.name);
    if (end == std::string::npos ||
        std::string_view(names).substr(section.name, end - section.name) != kSectionName) {
      continue;
    }
    std::string contents;
    if (!ReadSection(file, section, kMaxBlockBytes, contents)) return false;
    block.assign(contents.begin(), contents.end());
    return true;
  }
  return NotFound(kResourceTypeNotFound);
}

}  // namespace srctally::platform
