// No core file for a crash made on purpose.
#include <sys/resource.h>

void PrepareForDeliberateCrash() {
  const rlimit none{0, 0};
  ::setrlimit(RLIMIT_CORE, &none);
}
