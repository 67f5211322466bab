// A minidump writer for POSIX that runs inside a fatal-signal handler: it writes with
// write/lseek only, reads the process's mappings from /proc, and keeps its scratch space in
// static buffers, since nothing may allocate or take a lock after a crash.
#include "platform/posix/minidump_writer.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>

#include "base/text.h"
#include "platform/minidump_format.h"

namespace srctally::platform {
namespace {

namespace md = minidump;

constexpr std::size_t kMaxStackBytes = 64 * 1024;
constexpr std::uint64_t kMaxGuardGapBytes = 2 * 1024 * 1024;
constexpr std::size_t kMaxModules = 1024;
constexpr std::size_t kNamePoolBytes = 128 * 1024;
constexpr std::size_t kReadBufferBytes = 16 * 1024;
constexpr std::size_t kMaxNameUnits = 4096;
constexpr std::size_t kPageBytes = 4096;

// ---------------------------------------------------------------------------------------
// The faulting thread's registers.

#if defined(__x86_64__)
using ContextRecord = md::ContextAmd64;
constexpr std::uint16_t kArchitecture = md::arch::kAmd64;
constexpr std::uint64_t kRedZoneBytes = 128;  // leaf functions may use this below the stack pointer

void FillContext(const void* userContext, ContextRecord& record) {
  const auto& uc = *static_cast<const ucontext_t*>(userContext);
  const greg_t* r = uc.uc_mcontext.gregs;
  auto reg = [r](int index) { return static_cast<std::uint64_t>(r[index]); };
  record.contextFlags =
      md::context::kAmd64 | md::context::kControl | md::context::kInteger | md::context::kSegments;
  record.rax = reg(REG_RAX), record.rcx = reg(REG_RCX), record.rdx = reg(REG_RDX);
  record.rbx = reg(REG_RBX), record.rsp = reg(REG_RSP), record.rbp = reg(REG_RBP);
  record.rsi = reg(REG_RSI), record.rdi = reg(REG_RDI);
  record.r8 = reg(REG_R8), record.r9 = reg(REG_R9), record.r10 = reg(REG_R10);
  record.r11 = reg(REG_R11), record.r12 = reg(REG_R12), record.r13 = reg(REG_R13);
  record.r14 = reg(REG_R14), record.r15 = reg(REG_R15);
  record.rip = reg(REG_RIP);
  record.eFlags = static_cast<std::uint32_t>(reg(REG_EFL));
  // cs, gs, fs and (on current kernels) ss, 16 bits each.
  const std::uint64_t segments = reg(REG_CSGSFS);
  record.segCs = static_cast<std::uint16_t>(segments);
  record.segGs = static_cast<std::uint16_t>(segments >> 16);
  record.segFs = static_cast<std::uint16_t>(segments >> 32);
  record.segSs = static_cast<std::uint16_t>(segments >> 48);
  if (uc.uc_mcontext.fpregs != nullptr) {
    // The kernel saves the floating-point state in the fxsave layout the record uses.
    static_assert(sizeof(*uc.uc_mcontext.fpregs) == sizeof(record.floatSave));
    std::memcpy(record.floatSave, uc.uc_mcontext.fpregs, sizeof(record.floatSave));
    record.mxCsr = uc.uc_mcontext.fpregs->mxcsr;
    record.contextFlags |= md::context::kFloatingPoint;
  }
}
std::uint64_t StackPointer(const ContextRecord& record) { return record.rsp; }
std::uint64_t ProgramCounter(const ContextRecord& record) { return record.rip; }

#elif defined(__aarch64__)
using ContextRecord = md::ContextArm64;
constexpr std::uint16_t kArchitecture = md::arch::kArm64;
constexpr std::uint64_t kRedZoneBytes = 0;

void FillContext(const void* userContext, ContextRecord& record) {
  const auto& uc = *static_cast<const ucontext_t*>(userContext);
  record.contextFlags = md::context::kArm64 | md::context::kControl | md::context::kInteger;
  for (int i = 0; i < 31; ++i) record.x[i] = uc.uc_mcontext.regs[i];
  record.sp = uc.uc_mcontext.sp;
  record.pc = uc.uc_mcontext.pc;
  record.cpsr = static_cast<std::uint32_t>(uc.uc_mcontext.pstate);
}
std::uint64_t StackPointer(const ContextRecord& record) { return record.sp; }
std::uint64_t ProgramCounter(const ContextRecord& record) { return record.pc; }

#else
// No register layout for this architecture: the dump carries an empty context.
struct ContextRecord {
  std::uint32_t contextFlags;
};
constexpr std::uint16_t kArchitecture = md::arch::kUnknown;
constexpr std::uint64_t kRedZoneBytes = 0;
void FillContext(const void*, ContextRecord& record) { record.contextFlags = 0; }
std::uint64_t StackPointer(const ContextRecord&) { return 0; }
std::uint64_t ProgramCounter(const ContextRecord&) { return 0; }
#endif

// ---------------------------------------------------------------------------------------
// Static scratch space; the handler runs once per process.

struct ModuleRange {
  std::uint64_t base;
  std::uint64_t end;
  std::uint64_t inode;
  std::size_t nameOffset;
  std::size_t nameLength;
  bool executable;
};

ModuleRange modules[kMaxModules];
std::size_t moduleCount = 0;
char namePool[kNamePoolBytes];
std::size_t namePoolUsed = 0;
char readBuffer[kReadBufferBytes];
char16_t nameUnits[kMaxNameUnits];

std::string_view NameOf(const ModuleRange& module) {
  return std::string_view(namePool + module.nameOffset, module.nameLength);
}

/// Calls visit with each line of the file at path (without the line end). A line longer
/// than the buffer is skipped.
template <typename Visit>
bool ForEachLine(const char* path, Visit visit) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::size_t used = 0;
  bool skipping = false;  // inside a line that did not fit
  bool ok = true;
  for (;;) {
    const ssize_t count = ::read(fd, readBuffer + used, sizeof(readBuffer) - used);
    if (count < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    used += static_cast<std::size_t>(count);
    std::size_t start = 0;
    for (std::size_t i = 0; i < used; ++i) {
      if (readBuffer[i] != '\n') continue;
      if (!skipping) visit(std::string_view(readBuffer + start, i - start));
      skipping = false;
      start = i + 1;
    }
    if (count == 0) {
      if (start < used && !skipping) visit(std::string_view(readBuffer + start, used - start));
      break;
    }
    std::memmove(readBuffer, readBuffer + start, used - start);
    used -= start;
    if (used == sizeof(readBuffer)) {
      used = 0;
      skipping = true;
    }
  }
  ::close(fd);
  return ok;
}

/// A range of readable memory, empty when end is 0.
struct MemoryRange {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
};

/// Groups the file mappings into modules (one per file, from its first to its last
/// consecutive mapping; only files with executable code count) and finds the readable
/// mapping that holds the stack pointer, and the nearest one above it (after a stack
/// overflow the stack pointer lies in the guard gap below the stack).
void CollectMappings(std::uint64_t stackPointer, MemoryRange& holding, MemoryRange& above) {
  moduleCount = 0;
  namePoolUsed = 0;
  holding = above = MemoryRange{};
  ForEachLine("/proc/self/maps", [&](std::string_view line) {
    md::MapsEntry entry;
    if (!md::ParseMapsLine(line, entry)) return;
    if (entry.readable && entry.start <= stackPointer && stackPointer < entry.end) {
      holding = {entry.start, entry.end};
    }
    if (entry.readable && entry.start > stackPointer &&
        (above.end == 0 || entry.start < above.start)) {
      above = {entry.start, entry.end};
    }
    if (entry.inode == 0 || entry.path.empty() || entry.path[0] != '/') return;
    if (moduleCount > 0) {
      ModuleRange& last = modules[moduleCount - 1];
      if (last.inode == entry.inode && NameOf(last) == entry.path) {
        if (entry.end > last.end) last.end = entry.end;
        last.executable = last.executable || entry.executable;
        return;
      }
      if (!last.executable) {  // a data-only file: give its slot to the next one
        namePoolUsed = last.nameOffset;
        --moduleCount;
      }
    }
    if (moduleCount == kMaxModules || entry.path.size() > kNamePoolBytes - namePoolUsed) return;
    std::memcpy(namePool + namePoolUsed, entry.path.data(), entry.path.size());
    modules[moduleCount++] = {entry.start,  entry.end,         entry.inode,
                              namePoolUsed, entry.path.size(), entry.executable};
    namePoolUsed += entry.path.size();
  });
  if (moduleCount > 0 && !modules[moduleCount - 1].executable) --moduleCount;
}

// ---------------------------------------------------------------------------------------
// The file.

/// Appends to the dump file and keeps the offset of the next byte. After the first failed
/// write it writes nothing more and keeps errno of that failure.
class DumpFile {
 public:
  explicit DumpFile(int fd) : fd_(fd) {}

  bool ok() const { return ok_; }
  int error() const { return error_; }
  std::uint32_t position() const { return position_; }

  std::uint32_t Append(const void* data, std::size_t size) {
    const std::uint32_t rva = position_;
    if (ok_ && !WriteAll(data, size)) Fail();
    position_ += static_cast<std::uint32_t>(size);
    return rva;
  }

  void PadTo(std::uint32_t alignment) {
    static const char kZeros[16] = {};
    Append(kZeros, (alignment - position_ % alignment) % alignment);
  }

  /// Copies process memory into the file; a page that cannot be read becomes zeros.
  std::uint32_t AppendMemory(std::uint64_t address, std::size_t size) {
    static const char kZeroPage[kPageBytes] = {};
    const std::uint32_t rva = position_;
    while (size > 0 && ok_) {
      const std::size_t chunk =
          kPageBytes - address % kPageBytes < size ? kPageBytes - address % kPageBytes : size;
      // The kernel reports EFAULT for memory it cannot read instead of faulting. The raw
      // system call also keeps memory checkers from vetting stack bytes that are not ours.
      const auto count = static_cast<ssize_t>(
          ::syscall(SYS_write, fd_, reinterpret_cast<const void*>(address), chunk));
      std::size_t done = 0;
      if (count > 0) {
        done = static_cast<std::size_t>(count);
      } else if (count < 0 && errno == EINTR) {
        continue;
      } else if (count < 0 && errno == EFAULT) {
        if (!WriteAll(kZeroPage, chunk)) Fail();
        done = chunk;
      } else {
        Fail();
        break;
      }
      address += done;
      size -= done;
      position_ += static_cast<std::uint32_t>(done);
    }
    return rva;
  }

  /// Appends the whole content of a file (for the /proc text streams).
  md::Location AppendFile(const char* path) {
    md::Location location{0, position_};
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return location;
    for (;;) {
      const ssize_t count = ::read(fd, readBuffer, sizeof(readBuffer));
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) break;
      Append(readBuffer, static_cast<std::size_t>(count));
      location.dataSize += static_cast<std::uint32_t>(count);
    }
    ::close(fd);
    return location;
  }

  /// Overwrites bytes already written (the header and the stream directory).
  void Rewrite(std::uint32_t offset, const void* data, std::size_t size) {
    if (!ok_) return;
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0 || !WriteAll(data, size)) Fail();
  }

 private:
  bool WriteAll(const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t count = ::write(fd_, bytes, size);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) {
        if (count == 0) errno = EIO;
        return false;
      }
      bytes += count;
      size -= static_cast<std::size_t>(count);
    }
    return true;
  }

  void Fail() {
    if (ok_) error_ = errno;
    ok_ = false;
  }

  int fd_;
  std::uint32_t position_ = 0;
  bool ok_ = true;
  int error_ = 0;
};

/// Writes a length-prefixed UTF-16 string with its terminating NUL (the length excludes
/// it) and returns its offset.
std::uint32_t AppendString(DumpFile& file, const char16_t* text, std::size_t length) {
  const std::uint32_t bytes = static_cast<std::uint32_t>(length * sizeof(char16_t));
  const std::uint32_t rva = file.Append(&bytes, sizeof(bytes));
  file.Append(text, bytes);
  const char16_t nul = 0;
  file.Append(&nul, sizeof(nul));
  file.PadTo(4);
  return rva;
}

std::size_t StringBytes(std::size_t length) {
  const std::size_t bytes = sizeof(std::uint32_t) + (length + 1) * sizeof(char16_t);
  return (bytes + 3) & ~std::size_t{3};
}

/// The module's name in UTF-16, in nameUnits; an over-long name is written empty.
std::size_t DecodeModuleName(const ModuleRange& module) {
  const std::size_t units = DecodeUtf8Lossless(NameOf(module), nameUnits, kMaxNameUnits);
  return units > kMaxNameUnits ? 0 : units;
}

void WriteModuleList(DumpFile& file, md::Directory& directory) {
  const std::uint32_t count = static_cast<std::uint32_t>(moduleCount);
  const std::uint32_t listRva = file.Append(&count, sizeof(count));
  // The stream covers the list itself; the names follow it outside the stream.
  const auto listSize =
      static_cast<std::uint32_t>(sizeof(count) + moduleCount * sizeof(md::Module));
  std::uint32_t nameRva = listRva + listSize;
  for (std::size_t i = 0; i < moduleCount; ++i) {
    md::Module module{};
    module.baseOfImage = modules[i].base;
    module.sizeOfImage = static_cast<std::uint32_t>(modules[i].end - modules[i].base);
    module.moduleNameRva = nameRva;
    file.Append(&module, sizeof(module));
    nameRva += static_cast<std::uint32_t>(StringBytes(DecodeModuleName(modules[i])));
  }
  for (std::size_t i = 0; i < moduleCount; ++i) {
    AppendString(file, nameUnits, DecodeModuleName(modules[i]));
  }
  directory = {md::stream::kModuleList, {listSize, listRva}};
}

bool IsHardwareFault(int signalNumber) {
  return signalNumber == SIGSEGV || signalNumber == SIGBUS || signalNumber == SIGILL ||
         signalNumber == SIGFPE;
}

}  // namespace

void GatherSystemFacts(SystemFacts& facts) {
  facts = SystemFacts{};
  facts.processorArchitecture = kArchitecture;
  const long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
  facts.processorCount = static_cast<std::uint8_t>(processors < 1     ? 1
                                                   : processors > 255 ? 255
                                                                      : processors);
  struct utsname names {};
  if (::uname(&names) != 0) return;
  // The release reads like "6.1.0-18-amd64": major, minor and patch level.
  std::uint32_t* numbers[] = {&facts.majorVersion, &facts.minorVersion, &facts.buildNumber};
  const char* text = names.release;
  for (std::uint32_t* number : numbers) {
    while (*text >= '0' && *text <= '9')
      *number = *number * 10 + static_cast<unsigned>(*text++ - '0');
    if (*text != '.') break;
    ++text;
  }
  std::string description =
      std::string(names.sysname) + " " + names.release + " " + names.version + " " + names.machine;
  const WString wide = FromUtf8Lossless(description);
  facts.descriptionLength = wide.size() < std::size(facts.description) - 1
                                ? wide.size()
                                : std::size(facts.description) - 1;
  std::memcpy(facts.description, wide.data(), facts.descriptionLength * sizeof(char16_t));
}

bool WriteMinidump(int fd, const FaultSnapshot& fault, const SystemFacts& facts) {
  static ContextRecord context;
  context = ContextRecord{};
  FillContext(fault.userContext, context);
  const std::uint64_t stackPointer = StackPointer(context);

  MemoryRange holding;
  MemoryRange above;
  CollectMappings(stackPointer, holding, above);
  // The stack from just below the stack pointer up to the end of its mapping, bounded. When
  // the stack pointer ran into the guard gap, the innermost frames lie just above it.
  std::uint64_t stackStart = stackPointer;
  std::uint64_t stackEnd = stackPointer;
  if (holding.end != 0) {
    stackStart = (stackPointer - kRedZoneBytes) & ~std::uint64_t{15};
    if (stackStart < holding.start || stackStart > stackPointer) stackStart = holding.start;
    stackEnd = holding.end;
  } else if (above.end != 0 && above.start - stackPointer <= kMaxGuardGapBytes) {
    stackStart = above.start;
    stackEnd = above.end;
  }
  if (stackEnd - stackStart > kMaxStackBytes) stackEnd = stackStart + kMaxStackBytes;

  DumpFile file(fd);
  constexpr std::uint32_t kStreamCount = 7;
  md::Header header{};
  md::Directory directory[kStreamCount] = {};
  file.Append(&header, sizeof(header));  // both rewritten once the streams are in
  file.Append(directory, sizeof(directory));

  md::SystemInfo system{};
  system.processorArchitecture = facts.processorArchitecture;
  system.numberOfProcessors = facts.processorCount;
  system.majorVersion = facts.majorVersion;
  system.minorVersion = facts.minorVersion;
  system.buildNumber = facts.buildNumber;
  system.platformId = md::kPlatformLinux;
  system.csdVersionRva = file.position() + static_cast<std::uint32_t>(sizeof(system));
  directory[0] = {md::stream::kSystemInfo, {sizeof(system), file.Append(&system, sizeof(system))}};
  AppendString(file, facts.description, facts.descriptionLength);
  file.PadTo(16);

  const md::Location contextLocation{sizeof(context), file.Append(&context, sizeof(context))};

  md::ExceptionStream exception{};
  exception.threadId = static_cast<std::uint32_t>(fault.threadId);
  exception.exceptionRecord.exceptionCode = static_cast<std::uint32_t>(fault.signalNumber);
  if (fault.info != nullptr) {
    exception.exceptionRecord.exceptionFlags = static_cast<std::uint32_t>(fault.info->si_code);
  }
  exception.exceptionRecord.exceptionAddress =
      fault.info != nullptr && IsHardwareFault(fault.signalNumber)
          ? reinterpret_cast<std::uint64_t>(fault.info->si_addr)
          : ProgramCounter(context);
  exception.threadContext = contextLocation;
  directory[1] = {md::stream::kException,
                  {sizeof(exception), file.Append(&exception, sizeof(exception))}};
  file.PadTo(16);

  const auto stackSize = static_cast<std::size_t>(stackEnd - stackStart);
  const md::MemoryDescriptor stack{
      stackStart,
      {static_cast<std::uint32_t>(stackSize), file.AppendMemory(stackStart, stackSize)}};

  const std::uint32_t one = 1;
  md::Thread thread{};
  thread.threadId = exception.threadId;
  thread.stack = stack;
  thread.threadContext = contextLocation;
  const std::uint32_t threadsRva = file.Append(&one, sizeof(one));
  file.Append(&thread, sizeof(thread));
  directory[2] = {md::stream::kThreadList, {file.position() - threadsRva, threadsRva}};

  const std::uint32_t memoryRva = file.Append(&one, sizeof(one));
  file.Append(&stack, sizeof(stack));
  directory[3] = {md::stream::kMemoryList, {file.position() - memoryRva, memoryRva}};

  WriteModuleList(file, directory[4]);
  directory[5] = {md::stream::kLinuxProcStatus, file.AppendFile("/proc/self/status")};
  directory[6] = {md::stream::kLinuxMaps, file.AppendFile("/proc/self/maps")};

  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  header.signature = md::kSignature;
  header.version = md::kVersion;
  header.numberOfStreams = kStreamCount;
  header.streamDirectoryRva = sizeof(header);
  header.timeDateStamp = static_cast<std::uint32_t>(now.tv_sec);
  file.Rewrite(0, &header, sizeof(header));
  file.Rewrite(sizeof(header), directory, sizeof(directory));
  if (!file.ok()) errno = file.error();
  return file.ok();
}

}  // namespace srctally::platform
