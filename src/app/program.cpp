// Placeholder entry function until the driver lands.
#include "app/program.h"

namespace srctally {

int RunProgram(std::vector<WString>& args) { return args.empty() ? 1 : 0; }

}  // namespace srctally
