// Writes a minidump of the running process from inside a fatal-signal handler.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace srctally::platform {

/// Facts about the system, gathered when the handler is installed because the calls that
/// give them are not safe inside a signal handler.
struct SystemFacts {
  std::uint16_t processorArchitecture = 0;
  std::uint8_t processorCount = 0;
  std::uint32_t majorVersion = 0;
  std::uint32_t minorVersion = 0;
  std::uint32_t buildNumber = 0;
  char16_t description[256] = {};  ///< kernel name, release, version and machine
  std::size_t descriptionLength = 0;
};

/// Fills facts for this system; called at install time.
void GatherSystemFacts(SystemFacts& facts);

/// What the handler knows about the fault.
struct FaultSnapshot {
  int signalNumber = 0;
  const siginfo_t* info = nullptr;
  const void* userContext = nullptr;  ///< the handler's ucontext_t
  pid_t threadId = 0;
};

/// Writes the minidump into fd (open for writing, empty): header, system information,
/// exception with the thread context, the faulting thread with its stack memory, a memory
/// list, the modules from the process's mappings and the mappings' text. Uses only
/// async-signal-safe calls and static buffers. False with errno set when a write fails.
bool WriteMinidump(int fd, const FaultSnapshot& fault, const SystemFacts& facts);

}  // namespace srctally::platform
