// Reads back the parts of a minidump that the crash tests check.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace srctally::testing {

struct DumpSummary {
  std::vector<std::uint32_t> streamTypes;
  std::uint16_t processorArchitecture = 0;
  std::uint32_t exceptionThreadId = 0;
  std::uint32_t exceptionCode = 0;
  std::uint64_t stackPointer = 0;  ///< from the exception's thread context
  std::uint64_t stackStart = 0;    ///< the exception thread's stack memory
  std::uint64_t stackSize = 0;
  std::vector<std::string> moduleNames;  ///< UTF-8
};

/// Reads the header, the stream directory, the system information, the exception with its
/// context, the exception thread's entry of the thread list and the module names. Returns
/// an empty text on success, else what is wrong with the file.
std::string ReadDump(const std::filesystem::path& file, DumpSummary& summary);

}  // namespace srctally::testing
