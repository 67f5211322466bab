// The Windows clocks: the performance counter, GetTickCount and the affinity masks.
#include "platform/clock.h"

#include <windows.h>

namespace srctally::platform {
namespace {

class Win32Clock final : public IClock {
 public:
  std::uint64_t GetProcessAffinityMask() override {
    DWORD_PTR processMask = 0;
    DWORD_PTR systemMask = 0;
    ::GetProcessAffinityMask(::GetCurrentProcess(), &processMask, &systemMask);
    return processMask;
  }

  std::uint64_t SetThreadAffinityMask(std::uint64_t mask) override {
    return ::SetThreadAffinityMask(::GetCurrentThread(), static_cast<DWORD_PTR>(mask));
  }

  std::int64_t QueryFrequency() override {
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
  }

  std::int64_t QueryCounter() override {
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);
    return counter.QuadPart;
  }

  std::uint32_t GetTickCount() override { return ::GetTickCount(); }
};

}  // namespace

IClock& SystemClock() {
  static Win32Clock clock;
  return clock;
}

}  // namespace srctally::platform
