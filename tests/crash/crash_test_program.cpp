// A test-only program: it arms the crash handler with a fixed identity and the program's own
// crash notification, then faults on purpose, so tests can watch the dump and the error
// line from outside the process.
//
// Usage: crash_test_program <mode> <product name>
//   write     writes through a null pointer
//   abort     calls abort()
//   overflow  recurses until the stack runs out
//   limited   writes through a null pointer with files limited to a few hundred bytes,
//             so the dump cannot be written completely (POSIX only)
//   killed    another process sends it SIGSEGV (POSIX only)
//   document  writes through a null pointer while standard output carries a document, so
//             the error line goes to standard error
// The company name is blank ("   "), the file version 1.2.3.4. A product name of "-" makes
// the identity unavailable, so no dump can be written. On POSIX, from the fault on every
// allocation through operator new ends the process with exit code 3: the way from the
// signal to the error line and the exit must not allocate.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "app/last_words.h"
#include "base/text.h"
#include "platform/console_sink.h"
#include "platform/crash_dump.h"
#include "platform/crash_handler.h"
#include "platform/file_system.h"

/// Keeps a deliberate crash from leaving core files or error windows behind.
void PrepareForDeliberateCrash();

/// Makes writes past a few hundred bytes of a file fail (where the platform can).
void LimitFileSize();

/// From now on an allocation ends the process with exit code 3 (where the platform checks).
void ForbidAllocation();

/// Has another process send this one SIGSEGV and waits for it (where the platform can).
void AwaitFatalSignalFromAnotherProcess();

namespace {

srctally::WString productName;

bool ProvideIdentity(srctally::CrashIdentity& identity) {
  if (productName == u"-") return false;
  srctally::WString path;
  if (!srctally::platform::GetModuleFilePath(path)) return false;
  identity.companyName = u"   ";
  identity.productName = productName;
  identity.programFileName = srctally::WString(srctally::platform::FindFileName(path));
  identity.hasVersion = true;
  const std::uint16_t version[4] = {1, 2, 3, 4};
  for (int i = 0; i < 4; ++i) identity.version[i] = version[i];
  return true;
}

/// Faults by writing through a null pointer. The undefined-behaviour sanitizer is told to
/// let the store happen, so sanitized builds fault the same way.
__attribute__((noinline, no_sanitize("undefined"))) void WriteThroughNull() {
  volatile int* volatile target = nullptr;  // volatile: the store cannot be optimised away
  *target = 42;
}

/// Far deeper than any stack; volatile so the compiler cannot see the recursion's end.
volatile int recursionLimit = 1 << 30;

/// Recurses until the stack runs out; the frame's array keeps it from becoming a loop.
__attribute__((noinline)) int Recurse(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  return depth < recursionLimit ? Recurse(depth + 1) + frame[0] : frame[0];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: crash_test_program <write|abort|overflow|limited> <product>\n", stderr);
    return 2;
  }
  const std::string_view mode = argv[1];
  productName = srctally::FromUtf8Lossless(argv[2]);
  PrepareForDeliberateCrash();
  srctally::SetCrashIdentityProvider(ProvideIdentity);
  srctally::platform::InstallCrashHandler();
  const std::unique_ptr<srctally::platform::IConsoleSink> sink =
      srctally::platform::CreateStandardOutputSink();
  srctally::SetLastWordsOutput(sink.get(), nullptr);
  srctally::SetCrashNotification(srctally::FatalReport);
  if (mode == "write") {
    ForbidAllocation();
    WriteThroughNull();
  } else if (mode == "abort") {
    ForbidAllocation();
    std::abort();
  } else if (mode == "overflow") {
    ForbidAllocation();
    return Recurse(0);
  } else if (mode == "limited") {
    LimitFileSize();
    ForbidAllocation();
    WriteThroughNull();
  } else if (mode == "document") {
    srctally::SendLastWordsToStandardError();
    ForbidAllocation();
    WriteThroughNull();
  } else if (mode == "killed") {
    AwaitFatalSignalFromAnotherProcess();
  }
  std::fputs("no crash\n", stdout);
  return 0;
}
