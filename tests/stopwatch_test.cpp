// Stopwatch readings against a scripted clock.
#include "runtime/stopwatch.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace srctally {
namespace {

// Hands out scripted counter and tick readings and records every affinity change.
class FakeClock : public platform::IClock {
 public:
  std::uint64_t processMask = 1;
  std::uint64_t threadMask = 0xFF;
  std::int64_t frequency = 10'000'000;
  std::deque<std::int64_t> counters;
  std::deque<std::uint32_t> ticks;
  std::vector<std::uint64_t> affinityCalls;

  std::uint64_t GetProcessAffinityMask() override { return processMask; }
  std::uint64_t SetThreadAffinityMask(std::uint64_t mask) override {
    affinityCalls.push_back(mask);
    const std::uint64_t previous = threadMask;
    threadMask = mask;
    return previous;
  }
  std::int64_t QueryFrequency() override { return frequency; }
  std::int64_t QueryCounter() override { return Next(counters); }
  std::uint32_t GetTickCount() override { return Next(ticks); }

 private:
  template <class T>
  static T Next(std::deque<T>& queue) {
    if (queue.empty()) return 0;
    const T value = queue.front();
    queue.pop_front();
    return value;
  }
};

TEST(StopwatchTest, NeverStartedReadsZero) {
  FakeClock clock;
  Stopwatch watch(clock);
  EXPECT_EQ(watch.ElapsedNanoseconds(), 0);
  EXPECT_EQ(watch.affinityMask(), 1u);
  EXPECT_TRUE(clock.affinityCalls.empty());
}

TEST(StopwatchTest, PinsToLowestAllowedProcessorAndRestores) {
  struct Row {
    std::uint64_t processMask;
    std::uint64_t expected;
  };
  for (const Row row :
       {Row{0b1100, 0b0100}, Row{0, 1}, Row{0b1011, 1}, Row{1ull << 63, 1ull << 63}}) {
    FakeClock clock;
    clock.processMask = row.processMask;
    Stopwatch watch(clock);
    watch.Start();
    watch.Stop();
    EXPECT_EQ(watch.affinityMask(), row.expected) << row.processMask;
    // Each reading pins, then hands back the thread's own mask.
    EXPECT_EQ(clock.affinityCalls,
              (std::vector<std::uint64_t>{row.expected, 0xFF, row.expected, 0xFF}));
  }
}

TEST(StopwatchTest, LeapCheckAgainstTickCounter) {
  struct Row {
    std::uint32_t tickMs;
    std::int64_t expectedStart;
    std::int64_t expectedNs;
  };
  // 25 000 000 counter ticks at 10 MHz are 2 500 ms; corrections only beyond 100 ms.
  for (const Row row : {Row{2500, 1000, 2'500'000'000}, Row{2300, 2'001'000, 2'300'000'000},
                        Row{2420, 1000, 2'500'000'000}, Row{2700, -1'999'000, 2'700'000'000},
                        // exactly 100 ms apart either way is still within the tolerance
                        Row{2400, 1000, 2'500'000'000}, Row{2600, 1000, 2'500'000'000},
                        Row{2399, 1'011'000, 2'399'000'000}}) {
    FakeClock clock;
    clock.counters = {1000, 25'001'000};
    clock.ticks = {5000, 5000 + row.tickMs};
    Stopwatch watch(clock);
    watch.Start();
    watch.Stop();
    EXPECT_EQ(watch.startCount(), row.expectedStart) << row.tickMs;
    EXPECT_EQ(watch.ElapsedNanoseconds(), row.expectedNs) << row.tickMs;
  }
}

TEST(StopwatchTest, WrappedTickCounterLosesOneMillisecond) {
  // 231 ms of counter time against 0x1F ticks across the wrap: the 200 ms difference is
  // removed, leaving exactly the tick interval, 0x1F ms (not 0x20).
  FakeClock clock;
  clock.frequency = 1000;
  clock.counters = {0, 231};
  clock.ticks = {0xFFFFFFF0u, 0x10};
  Stopwatch watch(clock);
  watch.Start();
  watch.Stop();
  EXPECT_EQ(watch.lastTickCount(), 0x10u);
  EXPECT_EQ(watch.ElapsedNanoseconds(), 0x1F * 1'000'000);
}

TEST(StopwatchTest, RunningReadTakesSampleAndKeepsRunning) {
  FakeClock clock;
  clock.counters = {0, 10'000'000, 20'000'000};
  clock.ticks = {0, 1000, 2000};
  Stopwatch watch(clock);
  watch.Start();
  EXPECT_EQ(watch.ElapsedNanoseconds(), 1'000'000'000);
  EXPECT_TRUE(watch.running());
  watch.Stop();
  EXPECT_FALSE(watch.running());
  EXPECT_EQ(watch.ElapsedNanoseconds(), 2'000'000'000);
  EXPECT_EQ(watch.ElapsedNanoseconds(), 2'000'000'000);  // frozen
  EXPECT_TRUE(clock.counters.empty());
}

TEST(StopwatchTest, NegativeReadingsClampAndMissingCounterReadsZero) {
  FakeClock clock;
  clock.counters = {-50, -20};
  clock.ticks = {0, 0};
  Stopwatch watch(clock);
  watch.Start();
  EXPECT_EQ(watch.startCount(), 0);
  watch.Stop();
  EXPECT_EQ(watch.lastCount(), 0);
  EXPECT_EQ(watch.ElapsedNanoseconds(), 0);

  FakeClock noCounter;
  noCounter.frequency = 0;
  noCounter.counters = {0, 5'000'000};
  noCounter.ticks = {0, 9999};
  Stopwatch idle(noCounter);
  idle.Start();
  idle.Stop();  // must not divide by the zero frequency
  EXPECT_EQ(idle.startCount(), 0);
  EXPECT_EQ(idle.ElapsedNanoseconds(), 0);
}

TEST(StopwatchTest, RealClockAdvances) {
  Stopwatch watch;
  watch.Start();
  watch.Stop();
  EXPECT_GE(watch.ElapsedNanoseconds(), 0);
  EXPECT_GT(watch.frequency(), 0);
}

}  // namespace
}  // namespace srctally
