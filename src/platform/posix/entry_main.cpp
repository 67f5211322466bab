// The POSIX entry point: hands the arguments, decoded losslessly to UTF-16, to the program.
#include <sys/resource.h>

#include <new>
#include <vector>

#include "app/last_words.h"
#include "app/program.h"
#include "base/text.h"

namespace {

// The walk descends one call level per folder level, and the deepest tree it can name
// (32,775 characters of relative path) has over 16,000 levels. The usual 8 MiB main stack
// would overflow first; Linux grows the main thread's stack up to the limit in force when
// it grows, so raising the soft limit here is enough.
void ReserveStackForDeepTrees() {
  constexpr rlim_t kWanted = rlim_t{64} << 20;
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
      limit.rlim_cur >= kWanted) {
    return;
  }
  limit.rlim_cur =
      limit.rlim_max == RLIM_INFINITY || limit.rlim_max >= kWanted ? kWanted : limit.rlim_max;
  ::setrlimit(RLIMIT_STACK, &limit);
}

}  // namespace

int main(int argc, char** argv) {
  srctally::InstallOutOfMemoryHandler();
  ReserveStackForDeepTrees();
  try {
    std::vector<srctally::WString> args;
    args.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) args.push_back(srctally::FromUtf8Lossless(argv[i]));
    return srctally::RunProgram(args);
  } catch (const std::bad_alloc&) {
    return srctally::ReportOutOfMemory();
  }
}
