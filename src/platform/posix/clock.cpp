// The POSIX clocks: CLOCK_MONOTONIC in nanoseconds as the high-resolution counter and its
// milliseconds as the wrapping tick counter; affinity through the scheduler's CPU sets.
#include "platform/clock.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>

namespace srctally::platform {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
constexpr int kMaskBits = 64;

std::int64_t MonotonicNanoseconds() {
  timespec now{};
  if (::clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
  return static_cast<std::int64_t>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

std::uint64_t MaskFromSet(const cpu_set_t& set) {
  std::uint64_t mask = 0;
  for (int cpu = 0; cpu < kMaskBits && cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &set)) mask |= std::uint64_t{1} << cpu;
  }
  return mask;
}

cpu_set_t SetFromMask(std::uint64_t mask) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int cpu = 0; cpu < kMaskBits && cpu < CPU_SETSIZE; ++cpu) {
    if ((mask >> cpu) & 1u) CPU_SET(cpu, &set);
  }
  return set;
}

class PosixClock final : public IClock {
 public:
  std::uint64_t GetProcessAffinityMask() override {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof(set), &set) != 0) return 0;
    return MaskFromSet(set);
  }

  std::uint64_t SetThreadAffinityMask(std::uint64_t mask) override {
    // The interface speaks in 64-bit masks, but a thread may be allowed on processors
    // beyond them. The full previous set is kept so that handing back the returned mask
    // restores it exactly instead of narrowing the thread to the first 64 processors.
    cpu_set_t previous;
    CPU_ZERO(&previous);
    const pthread_t self = ::pthread_self();
    if (::pthread_getaffinity_np(self, sizeof(previous), &previous) != 0) return 0;
    cpu_set_t wanted;
    if (hasSaved_ && mask == savedMask_) {
      wanted = saved_;
    } else if (mask == 0) {
      return 0;
    } else {
      wanted = SetFromMask(mask);
    }
    if (::pthread_setaffinity_np(self, sizeof(wanted), &wanted) != 0) return 0;
    saved_ = previous;
    savedMask_ = MaskFromSet(previous);
    hasSaved_ = true;
    return savedMask_;
  }

  std::int64_t QueryFrequency() override { return kNanosecondsPerSecond; }

  std::int64_t QueryCounter() override { return MonotonicNanoseconds(); }

  std::uint32_t GetTickCount() override {
    // Truncation to 32 bits is the wrap-around of a millisecond tick counter.
    return static_cast<std::uint32_t>(MonotonicNanoseconds() / 1'000'000);
  }

 private:
  cpu_set_t saved_{};
  std::uint64_t savedMask_ = 0;
  bool hasSaved_ = false;
};

}  // namespace

IClock& SystemClock() {
  // One clock per thread: the saved affinity set belongs to the thread that changed it.
  thread_local PosixClock clock;
  return clock;
}

}  // namespace srctally::platform
