// The program's entry function, called by the platform's main with UTF-16 arguments.
#pragma once

#include <vector>

#include "base/text.h"

namespace srctally {

/// Runs srctally with the argument vector (argument 0 is the program path) and returns the
/// process exit code: 0 done (also after --help or --version), 1 problems reported, 2
/// counting failed or memory ran out. The platform's main calls InstallOutOfMemoryHandler
/// (app/last_words.h) first and turns a std::bad_alloc of its own into ReportOutOfMemory.
int RunProgram(std::vector<WString>& args);

}  // namespace srctally
