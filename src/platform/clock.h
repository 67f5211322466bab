// The clocks and processor affinity the stopwatch reads, behind one small interface so
// tests can drive it with scripted readings.
#pragma once

#include <cstdint>

namespace srctally::platform {

/// Time sources of the platform. Failures are not reported: a failed query returns 0.
class IClock {
 public:
  virtual ~IClock() = default;

  /// The set of processors the process may run on, one bit per processor (0 on failure).
  virtual std::uint64_t GetProcessAffinityMask() = 0;

  /// Restricts the calling thread to the processors in mask and returns the mask it had
  /// before (0 on failure; the thread then stays where it was). Passing the returned value
  /// back restores the previous affinity.
  virtual std::uint64_t SetThreadAffinityMask(std::uint64_t mask) = 0;

  /// Ticks per second of the high-resolution counter; 0 when there is none.
  virtual std::int64_t QueryFrequency() = 0;

  /// The high-resolution counter (0 on failure).
  virtual std::int64_t QueryCounter() = 0;

  /// A coarse millisecond counter that wraps around after 2^32 ms.
  virtual std::uint32_t GetTickCount() = 0;
};

/// The platform's real clocks. Lives for the whole process.
IClock& SystemClock();

}  // namespace srctally::platform
