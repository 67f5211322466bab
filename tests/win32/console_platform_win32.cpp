// Windows: '\' between folder names, and the C runtime's text modes write CR LF.
#include "testing/console_platform.h"

namespace srctally::testing {

const char kSep = '\\';
const char kEol[] = "\r\n";

}  // namespace srctally::testing
