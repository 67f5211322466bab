// POSIX: '/' between folder names and bare line feeds in every output mode.
#include "testing/console_platform.h"

namespace srctally::testing {

const char kSep = '/';
const char kEol[] = "\n";

}  // namespace srctally::testing
