// No core file for a crash made on purpose; a file size limit to make dump writing fail.
#include <sys/resource.h>

#include <csignal>

void PrepareForDeliberateCrash() {
  const rlimit none{0, 0};
  ::setrlimit(RLIMIT_CORE, &none);
}

void LimitFileSize() {
  std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
  const rlimit small{512, 512};
  ::setrlimit(RLIMIT_FSIZE, &small);
}
