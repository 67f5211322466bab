// Stopwatch readings: processor choice, leap check against the tick counter, elapsed time.
#include "runtime/stopwatch.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace srctally {
namespace {

constexpr std::int64_t kLeapToleranceMs = 100;
constexpr double kNanosecondsPerSecond = 1e9;

/// value * multiplier / divisor truncated toward zero, without the overflow of forming the
/// full product first (the quotient and the remainder are scaled separately). divisor > 0.
std::int64_t ScaleTruncated(std::int64_t value, std::int64_t multiplier, std::int64_t divisor) {
  const std::int64_t quotient = value / divisor;
  const std::int64_t remainder = value % divisor;
  return quotient * multiplier + remainder * multiplier / divisor;
}

/// Milliseconds between two tick readings. A wrapped counter gives (max - last) + now,
/// one less than the modular difference, as the tick interval has always been taken.
std::uint32_t TickInterval(std::uint32_t last, std::uint32_t now) {
  return now >= last ? now - last : (0xFFFFFFFFu - last) + now;
}

/// The lowest processor of the process mask as a single-bit mask; an empty mask means
/// processor 0.
std::uint64_t LowestProcessor(std::uint64_t processMask) {
  if (processMask == 0) processMask = 1;
  std::uint64_t mask = 1;
  while ((processMask & mask) == 0) mask <<= 1;
  return mask;
}

}  // namespace

Stopwatch::Stopwatch() : Stopwatch(platform::SystemClock()) {}

Stopwatch::Stopwatch(platform::IClock& clock) : clock_(&clock) {}

void Stopwatch::Start() {
  running_ = 1;
  Restart();
}

void Stopwatch::Stop() {
  running_ = 0;
  Sample();
}

std::int64_t Stopwatch::ElapsedNanoseconds() {
  if (running_ != 0) Sample();
  if (frequency_ == 0) return 0;
  // The difference wraps instead of overflowing if a leap correction pushed the start far.
  const auto ticks = static_cast<std::int64_t>(static_cast<std::uint64_t>(lastCount_) -
                                               static_cast<std::uint64_t>(startCount_));
  const double nanoseconds =
      static_cast<double>(ticks) * kNanosecondsPerSecond / static_cast<double>(frequency_);
  // Truncation toward zero; values beyond the 64-bit range saturate rather than overflow.
  if (!(std::fabs(nanoseconds) < 9.2e18)) {
    return nanoseconds < 0 ? std::numeric_limits<std::int64_t>::min()
                           : std::numeric_limits<std::int64_t>::max();
  }
  return static_cast<std::int64_t>(nanoseconds);
}

void Stopwatch::Restart() {
  affinityMask_ = LowestProcessor(clock_->GetProcessAffinityMask());
  const std::uint64_t previous = clock_->SetThreadAffinityMask(affinityMask_);
  frequency_ = clock_->QueryFrequency();
  startCount_ = clock_->QueryCounter();
  lastTickCount_ = clock_->GetTickCount();
  clock_->SetThreadAffinityMask(previous);
  if (startCount_ < 0) startCount_ = 0;
  lastCount_ = startCount_;
}

void Stopwatch::Sample() {
  const std::uint64_t previous = clock_->SetThreadAffinityMask(affinityMask_);
  std::int64_t now = clock_->QueryCounter();
  clock_->SetThreadAffinityMask(previous);

  const std::uint32_t ticks = clock_->GetTickCount();
  const std::uint32_t tickInterval = TickInterval(lastTickCount_, ticks);
  lastTickCount_ = ticks;
  if (now < 0) now = 0;

  // Without a high-resolution counter there is nothing to compare (and nothing to divide by).
  if (frequency_ > 0) {
    const auto counterMs =
        static_cast<std::int32_t>(ScaleTruncated(now - lastCount_, 1000, frequency_));
    const auto difference = static_cast<std::int32_t>(static_cast<std::int64_t>(counterMs) -
                                                      static_cast<std::int32_t>(tickInterval));
    if (std::llabs(difference) > kLeapToleranceMs) {
      startCount_ += ScaleTruncated(difference, frequency_, 1000);
    }
  }
  lastCount_ = now;
}

}  // namespace srctally
