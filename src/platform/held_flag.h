// A flag taken for the length of a scope.
#pragma once

#include <atomic>

namespace srctally::platform {

/// Clears a flag the scope holds when the scope ends, also when it ends by an exception
/// (running out of memory while the flag is held must not leave it held).
class CFlagRelease {
 public:
  explicit CFlagRelease(std::atomic<bool>& flag) : flag_(flag) {}
  ~CFlagRelease() { flag_.store(false); }
  CFlagRelease(const CFlagRelease&) = delete;
  CFlagRelease& operator=(const CFlagRelease&) = delete;

 private:
  std::atomic<bool>& flag_;
};

}  // namespace srctally::platform
