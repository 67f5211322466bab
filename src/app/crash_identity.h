// Who the program is, for naming crash dumps: read from its own version data.
#pragma once

#include "platform/crash_dump.h"

namespace srctally {

/// Fills identity from the program file's version data: company and product names, the file
/// name and the file version. False, with the last error set, when the program file or its
/// version data or either name cannot be read; then no dump is written.
bool ReadCrashIdentity(CrashIdentity& identity);

}  // namespace srctally
