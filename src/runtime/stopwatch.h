// Wall-clock time of a run from the high-resolution counter, read on one fixed processor
// and cross-checked against the millisecond tick counter.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace srctally {

/// Measures elapsed time. A plain value object of one thread; no operation reports errors.
/// Counter readings are pinned to the lowest-numbered processor the process may use, and
/// each reading is compared with the tick counter: when the counter and the ticks disagree
/// by more than 100 ms, the start is moved so that the counter's leap is not measured.
class Stopwatch {
 public:
  /// Uses the platform's real clocks.
  Stopwatch();
  /// Uses the given clocks, which must outlive the stopwatch.
  explicit Stopwatch(platform::IClock& clock);

  /// Starts (or restarts from zero) the measurement.
  void Start();
  /// Takes a final reading; the elapsed time is frozen at it.
  void Stop();
  /// Elapsed nanoseconds between Start and the last reading (a running stopwatch takes a
  /// reading first and keeps running). 0 when never started or without a high-resolution
  /// counter (frequency 0).
  std::int64_t ElapsedNanoseconds();

  bool running() const { return running_ != 0; }
  std::uint64_t affinityMask() const { return affinityMask_; }
  std::uint32_t lastTickCount() const { return lastTickCount_; }
  std::int64_t startCount() const { return startCount_; }
  std::int64_t lastCount() const { return lastCount_; }
  std::int64_t frequency() const { return frequency_; }

 private:
  void Restart();
  void Sample();

  platform::IClock* clock_;
  std::int32_t running_ = 0;
  std::uint64_t affinityMask_ = 1;
  std::uint32_t lastTickCount_ = 0;
  std::int64_t startCount_ = 0;
  std::int64_t lastCount_ = 0;
  std::int64_t frequency_ = 0;
};

}  // namespace srctally
