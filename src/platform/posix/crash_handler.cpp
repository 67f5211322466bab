// The POSIX crash handler: fatal signals are caught on an alternate stack and a minidump is
// written into the local application data folder, named like the Windows dumps. Everything
// that is not async-signal-safe (identity, folder, UTC offset, system facts) is worked out
// when the handler is installed; the handler itself only reads it.
#include "platform/crash_handler.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>

#include "base/status.h"
#include "platform/crash_dump.h"
#include "platform/last_error.h"
#include "platform/posix/minidump_writer.h"

namespace srctally::platform {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr std::size_t kAlternateStackBytes = 256 * 1024;
constexpr std::size_t kUtf8PathCapacity = kDumpPathCapacity * 3 + 1;
constexpr std::uint32_t kFileNameTooLong = 206;  // the Win32 code for an over-long path
constexpr std::uint32_t kNoVersionData = 1813;   // the Win32 code for a missing resource

struct CrashState {
  bool ready = false;  ///< identity and folder are known
  std::uint32_t setupError = 0;
  CrashIdentity identity;
  WString localAppData;
  std::string localAppDataBytes;
  std::int32_t utcOffsetSeconds = 0;
  SystemFacts facts;
};

CrashState crashState;
volatile sig_atomic_t handlingCrash = 0;
DumpPath dumpPath;

/// $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share.
bool FindLocalAppData(WString& folder) {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome != nullptr && dataHome[0] == '/') {
    folder = FromUtf8Lossless(dataHome);
    return true;
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return false;
  folder = FromUtf8Lossless(home);
  if (folder.back() != u'/') folder += u'/';
  folder += u".local/share";
  return true;
}

void PrepareCrashState() {
  CrashState& state = crashState;
  state.ready = false;
  const CrashIdentityProvider provider = GetCrashIdentityProvider();
  if (provider == nullptr) {
    state.setupError = kNoVersionData;
  } else if (!provider(state.identity)) {
    state.setupError = GetLastErrorCode();
  } else if (!FindLocalAppData(state.localAppData)) {
    state.setupError = win32err::kPathNotFound;
  } else {
    state.localAppDataBytes = ToUtf8(state.localAppData);
    state.ready = true;
  }
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_r(&now, &local) != nullptr) {
    state.utcOffsetSeconds = static_cast<std::int32_t>(local.tm_gmtoff);
  }
  GatherSystemFacts(state.facts);
}

void InstallAlternateStack() {
  static void* stackMemory = nullptr;
  if (stackMemory == nullptr) {
    void* memory = ::mmap(nullptr, kAlternateStackBytes, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return;
    stackMemory = memory;
  }
  stack_t stack{};
  stack.ss_sp = stackMemory;
  stack.ss_size = kAlternateStackBytes;
  ::sigaltstack(&stack, nullptr);
}

/// Creates every folder of an absolute path that does not exist yet (like the local
/// application data folder, which the platform creates on demand on Windows).
void CreateFolderChain(const char* path) {
  char folder[kUtf8PathCapacity];
  std::size_t length = 0;
  for (; path[length] != '\0' && length + 1 < sizeof(folder); ++length) {
    if (path[length] == '/' && length > 0) {
      folder[length] = '\0';
      ::mkdir(folder, 0700);
    }
    folder[length] = path[length];
  }
  folder[length] = '\0';
  ::mkdir(folder, 0700);
}

/// Creates the folder named by the first length characters of path; an existing one is
/// fine too.
bool CreateFolder(const DumpPath& path, std::size_t length) {
  char16_t folder[kDumpPathCapacity];
  for (std::size_t i = 0; i < length; ++i) folder[i] = path.text[i];
  folder[length] = u'\0';
  char bytes[kUtf8PathCapacity];
  if (EncodeUtf8(folder, bytes, sizeof(bytes)) == 0) {
    errno = ENAMETOOLONG;
    return false;
  }
  return ::mkdir(bytes, 0700) == 0 || errno == EEXIST;
}

bool Fail(int errorNumber) {
  SetLastErrorCode(Win32ErrorFromErrno(errorNumber));
  return false;
}

/// Composes the dump path into dumpPath and writes the dump. Async-signal-safe.
bool WriteCrashDump(int signalNumber, const siginfo_t* info, const void* userContext) {
  const CrashState& state = crashState;
  if (!state.ready) {
    SetLastErrorCode(state.setupError);
    return false;
  }
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const DumpTime time =
      DumpTimeFromUnix(now.tv_sec, static_cast<int>(now.tv_nsec / 1000000), state.utcOffsetSeconds);
  char pathBytes[kUtf8PathCapacity];
  if (!ComposeDumpPath(state.localAppData, u'/', state.identity, time, CrashArchitectureSuffix(),
                       dumpPath) ||
      EncodeUtf8(dumpPath.text, pathBytes, sizeof(pathBytes)) == 0) {
    SetLastErrorCode(kFileNameTooLong);
    return false;
  }
  CreateFolderChain(state.localAppDataBytes.c_str());
  for (std::size_t i = 0; i < dumpPath.folderCount; ++i) {
    if (!CreateFolder(dumpPath, dumpPath.folderLengths[i])) return Fail(errno);
  }
  // An existing file of the same name is replaced, never followed through a link.
  const int fd = ::open(pathBytes, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Fail(errno);
  FaultSnapshot fault;
  fault.signalNumber = signalNumber;
  fault.info = info;
  fault.userContext = userContext;
  fault.threadId = static_cast<pid_t>(::syscall(SYS_gettid));
  bool written = WriteMinidump(fd, fault, state.facts);
  int error = errno;
  if (::close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  if (!written) {
    ::unlink(pathBytes);  // no partial dump is left behind
    return Fail(error);
  }
  return true;
}

void RestoreDefaultAction(int signalNumber) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signalNumber, &action, nullptr);
}

// Whether another process sent the signal (kill, sigqueue): that is no crash of ours, and
// the sender (or the parent) must see the signal's own effect. Faults the kernel raises
// carry a positive code of their own; abort() and raise() send from this very process.
bool SentByAnotherProcess(const siginfo_t* info) {
  if (info == nullptr) return false;
  bool sent = info->si_code == SI_USER || info->si_code == SI_QUEUE;
#if defined(SI_TKILL)
  sent = sent || info->si_code == SI_TKILL;
#endif
  return sent && info->si_pid != ::getpid();
}

void HandleFatalSignal(int signalNumber, siginfo_t* info, void* userContext) {
  const int savedErrno = errno;
  if (handlingCrash == 0 && !SentByAnotherProcess(info)) {
    handlingCrash = 1;
    if (WriteCrashDump(signalNumber, info, userContext)) {
      if (const CrashNotification notify = GetCrashNotification()) notify(dumpPath.text);
    }
  }
  // The platform's own handling follows: the signal is delivered again with its default
  // action as soon as this handler returns (a fault re-executes its instruction as well);
  // a signal from another process thus ends this one as if no handler had been there.
  RestoreDefaultAction(signalNumber);
  ::raise(signalNumber);
  errno = savedErrno;
}

}  // namespace

void InstallCrashHandler() {
  PrepareCrashState();
  InstallAlternateStack();
  for (const int signalNumber : kFatalSignals) {
    struct sigaction action {};
    action.sa_sigaction = HandleFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    ::sigaction(signalNumber, &action, nullptr);
  }
}

const char16_t* CrashArchitectureSuffix() {
#if defined(__aarch64__)
  return u"_arm64";
#elif defined(__x86_64__)
  return u"_x64";
#elif defined(__i386__)
  return u"_x86";
#else
  return u"";
#endif
}

}  // namespace srctally::platform
