// No core file for a crash made on purpose; a file size limit to make dump writing fail;
// an allocation guard; a fatal signal sent by another process.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> allocationForbidden{false};

void* Allocate(std::size_t size) {
  if (allocationForbidden.load(std::memory_order_relaxed)) {
    constexpr char kMessage[] = "allocation after the fault\n";
    (void)!::write(2, kMessage, sizeof(kMessage) - 1);
    ::_exit(3);
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

}  // namespace

// Every allocation through operator new passes the guard.
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

void PrepareForDeliberateCrash() {
  const rlimit none{0, 0};
  ::setrlimit(RLIMIT_CORE, &none);
}

void LimitFileSize() {
  std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
  const rlimit small{512, 512};
  ::setrlimit(RLIMIT_FSIZE, &small);
}

void ForbidAllocation() { allocationForbidden = true; }

void AwaitFatalSignalFromAnotherProcess() {
  const pid_t self = ::getpid();
  if (::fork() == 0) {
    ::kill(self, SIGSEGV);
    ::_exit(0);
  }
  for (int i = 0; i < 100; ++i) ::usleep(100 * 1000);  // the signal ends the wait
}
