// A strict reader for the minidump records the crash tests look at: every offset is checked
// against the file size before it is read.
#include "testing/minidump_reader.h"

#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>

#include "base/text.h"
#include "platform/minidump_format.h"

namespace srctally::testing {
namespace {

namespace md = minidump;

class Bytes {
 public:
  explicit Bytes(std::string data) : data_(std::move(data)) {}

  template <typename T>
  bool Read(std::uint64_t offset, T& value) const {
    if (offset > data_.size() || data_.size() - offset < sizeof(T)) return false;
    std::memcpy(&value, data_.data() + offset, sizeof(T));
    return true;
  }

  bool ReadString(std::uint32_t rva, std::string& text) const {
    std::uint32_t length = 0;
    if (!Read(rva, length) || length % 2 != 0 || data_.size() - rva - 4 < length) return false;
    WString wide(length / 2, u'\0');
    std::memcpy(wide.data(), data_.data() + rva + 4, length);
    text = ToUtf8(wide);
    return true;
  }

 private:
  std::string data_;
};

}  // namespace

std::string ReadDump(const std::filesystem::path& file, DumpSummary& summary) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return "cannot open the dump";
  const Bytes bytes(std::string(std::istreambuf_iterator<char>(in), {}));

  md::Header header{};
  if (!bytes.Read(0, header)) return "no header";
  if (header.signature != md::kSignature) return "wrong signature";
  if ((header.version & 0xFFFF) != md::kVersion) return "wrong version";
  md::Location systemInfo{}, exception{}, threads{}, modules{};
  for (std::uint32_t i = 0; i < header.numberOfStreams; ++i) {
    md::Directory entry{};
    if (!bytes.Read(header.streamDirectoryRva + std::uint64_t{i} * sizeof(entry), entry)) {
      return "stream directory cut short";
    }
    summary.streamTypes.push_back(entry.streamType);
    if (entry.streamType == md::stream::kSystemInfo) systemInfo = entry.location;
    if (entry.streamType == md::stream::kException) exception = entry.location;
    if (entry.streamType == md::stream::kThreadList) threads = entry.location;
    if (entry.streamType == md::stream::kModuleList) modules = entry.location;
  }

  md::SystemInfo system{};
  if (systemInfo.dataSize < sizeof(system) || !bytes.Read(systemInfo.rva, system)) {
    return "no system information";
  }
  summary.processorArchitecture = system.processorArchitecture;

  md::ExceptionStream record{};
  if (exception.dataSize < sizeof(record) || !bytes.Read(exception.rva, record)) {
    return "no exception stream";
  }
  summary.exceptionThreadId = record.threadId;
  summary.exceptionCode = record.exceptionRecord.exceptionCode;
  if (system.processorArchitecture == md::arch::kAmd64) {
    md::ContextAmd64 context{};
    if (record.threadContext.dataSize < sizeof(context) ||
        !bytes.Read(record.threadContext.rva, context)) {
      return "no x86-64 context";
    }
    if ((context.contextFlags & md::context::kAmd64) == 0) return "context is not x86-64";
    summary.stackPointer = context.rsp;
  } else if (system.processorArchitecture == md::arch::kArm64) {
    md::ContextArm64 context{};
    if (record.threadContext.dataSize < sizeof(context) ||
        !bytes.Read(record.threadContext.rva, context)) {
      return "no ARM64 context";
    }
    summary.stackPointer = context.sp;
  }

  std::uint32_t threadCount = 0;
  if (!bytes.Read(threads.rva, threadCount) || threadCount == 0) return "no threads";
  bool found = false;
  for (std::uint32_t i = 0; i < threadCount; ++i) {
    md::Thread thread{};
    if (!bytes.Read(threads.rva + 4 + std::uint64_t{i} * sizeof(thread), thread)) {
      return "thread list cut short";
    }
    if (thread.threadId != record.threadId) continue;
    found = true;
    summary.stackStart = thread.stack.startOfMemoryRange;
    summary.stackSize = thread.stack.memory.dataSize;
    std::uint8_t last = 0;
    if (thread.stack.memory.dataSize != 0 &&
        !bytes.Read(std::uint64_t{thread.stack.memory.rva} + thread.stack.memory.dataSize - 1,
                    last)) {
      return "stack memory lies outside the file";
    }
  }
  if (!found) return "the exception thread is not in the thread list";

  std::uint32_t moduleCount = 0;
  if (!bytes.Read(modules.rva, moduleCount)) return "no module list";
  for (std::uint32_t i = 0; i < moduleCount; ++i) {
    md::Module module{};
    std::string name;
    if (!bytes.Read(modules.rva + 4 + std::uint64_t{i} * sizeof(module), module) ||
        !bytes.ReadString(module.moduleNameRva, name)) {
      return "module list cut short";
    }
    summary.moduleNames.push_back(name);
  }
  return {};
}

}  // namespace srctally::testing
