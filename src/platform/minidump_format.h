// The minidump file format: the records a post-mortem image is made of, laid out byte for
// byte as debuggers read them, and the small text helpers the writer needs after a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace srctally::minidump {

inline constexpr std::uint32_t kSignature = 0x504D444D;  // "MDMP"
inline constexpr std::uint32_t kVersion = 0xA793;        // low 16 bits of the version field

/// Stream types.
namespace stream {
inline constexpr std::uint32_t kThreadList = 3;
inline constexpr std::uint32_t kModuleList = 4;
inline constexpr std::uint32_t kMemoryList = 5;
inline constexpr std::uint32_t kException = 6;
inline constexpr std::uint32_t kSystemInfo = 7;
inline constexpr std::uint32_t kLinuxCpuInfo = 0x47670003;
inline constexpr std::uint32_t kLinuxProcStatus = 0x47670004;
inline constexpr std::uint32_t kLinuxMaps = 0x47670009;
}  // namespace stream

/// Processor architectures of the system information stream.
namespace arch {
inline constexpr std::uint16_t kX86 = 0;
inline constexpr std::uint16_t kAmd64 = 9;
inline constexpr std::uint16_t kArm64 = 12;
inline constexpr std::uint16_t kUnknown = 0xFFFF;
}  // namespace arch

/// The operating system id that minidump readers take for Linux.
inline constexpr std::uint32_t kPlatformLinux = 0x8201;

/// Context flags: the architecture bit plus what the record holds.
namespace context {
inline constexpr std::uint32_t kAmd64 = 0x00100000;
inline constexpr std::uint32_t kArm64 = 0x00400000;
inline constexpr std::uint32_t kControl = 0x1;
inline constexpr std::uint32_t kInteger = 0x2;
inline constexpr std::uint32_t kSegments = 0x4;
inline constexpr std::uint32_t kFloatingPoint = 0x8;
}  // namespace context

#pragma pack(push, 4)

struct Location {
  std::uint32_t dataSize;
  std::uint32_t rva;
};

struct Header {
  std::uint32_t signature;
  std::uint32_t version;
  std::uint32_t numberOfStreams;
  std::uint32_t streamDirectoryRva;
  std::uint32_t checkSum;
  std::uint32_t timeDateStamp;
  std::uint64_t flags;
};

struct Directory {
  std::uint32_t streamType;
  Location location;
};

struct MemoryDescriptor {
  std::uint64_t startOfMemoryRange;
  Location memory;
};

struct Thread {
  std::uint32_t threadId;
  std::uint32_t suspendCount;
  std::uint32_t priorityClass;
  std::uint32_t priority;
  std::uint64_t teb;
  MemoryDescriptor stack;
  Location threadContext;
};

struct ExceptionRecord {
  std::uint32_t exceptionCode;
  std::uint32_t exceptionFlags;
  std::uint64_t exceptionRecord;
  std::uint64_t exceptionAddress;
  std::uint32_t numberParameters;
  std::uint32_t unusedAlignment;
  std::uint64_t exceptionInformation[15];
};

struct ExceptionStream {
  std::uint32_t threadId;
  std::uint32_t alignment;
  ExceptionRecord exceptionRecord;
  Location threadContext;
};

struct SystemInfo {
  std::uint16_t processorArchitecture;
  std::uint16_t processorLevel;
  std::uint16_t processorRevision;
  std::uint8_t numberOfProcessors;
  std::uint8_t productType;
  std::uint32_t majorVersion;
  std::uint32_t minorVersion;
  std::uint32_t buildNumber;
  std::uint32_t platformId;
  std::uint32_t csdVersionRva;
  std::uint16_t suiteMask;
  std::uint16_t reserved2;
  std::uint32_t cpuInformation[6];
};

struct FixedFileInfo {
  std::uint32_t fields[13];
};

struct Module {
  std::uint64_t baseOfImage;
  std::uint32_t sizeOfImage;
  std::uint32_t checkSum;
  std::uint32_t timeDateStamp;
  std::uint32_t moduleNameRva;
  FixedFileInfo versionInfo;
  Location cvRecord;
  Location miscRecord;
  std::uint64_t reserved0;
  std::uint64_t reserved1;
};

/// The register record of an x86-64 thread.
struct ContextAmd64 {
  std::uint64_t homes[6];
  std::uint32_t contextFlags;
  std::uint32_t mxCsr;
  std::uint16_t segCs, segDs, segEs, segFs, segGs, segSs;
  std::uint32_t eFlags;
  std::uint64_t dr0, dr1, dr2, dr3, dr6, dr7;
  std::uint64_t rax, rcx, rdx, rbx, rsp, rbp, rsi, rdi;
  std::uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
  std::uint64_t rip;
  std::uint8_t floatSave[512];  ///< the fxsave image
  std::uint8_t vectorRegisters[26 * 16];
  std::uint64_t vectorControl;
  std::uint64_t debugControl;
  std::uint64_t lastBranchToRip;
  std::uint64_t lastBranchFromRip;
  std::uint64_t lastExceptionToRip;
  std::uint64_t lastExceptionFromRip;
};

/// The register record of an ARM64 thread.
struct ContextArm64 {
  std::uint32_t contextFlags;
  std::uint32_t cpsr;
  std::uint64_t x[31];  ///< x0..x28, fp, lr
  std::uint64_t sp;
  std::uint64_t pc;
  std::uint8_t v[32 * 16];
  std::uint32_t fpcr;
  std::uint32_t fpsr;
  std::uint32_t bcr[8];
  std::uint64_t bvr[8];
  std::uint32_t wcr[2];
  std::uint64_t wvr[2];
};

#pragma pack(pop)

static_assert(sizeof(Header) == 32);
static_assert(sizeof(Directory) == 12);
static_assert(sizeof(MemoryDescriptor) == 16);
static_assert(sizeof(Thread) == 48);
static_assert(sizeof(ExceptionRecord) == 152);
static_assert(sizeof(ExceptionStream) == 168);
static_assert(sizeof(SystemInfo) == 56);
static_assert(sizeof(Module) == 108);
static_assert(sizeof(ContextAmd64) == 1232);
static_assert(sizeof(ContextArm64) == 912);

/// One line of the process's memory map: "start-end perms offset dev inode [path]".
struct MapsEntry {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  std::uint64_t offset = 0;
  std::uint64_t inode = 0;
  bool readable = false;
  bool executable = false;
  std::string_view path;  ///< empty for anonymous memory; points into the parsed line
};

/// Parses one memory-map line (without its line end). False when the line is malformed.
/// Allocates nothing.
bool ParseMapsLine(std::string_view line, MapsEntry& entry);

}  // namespace srctally::minidump
