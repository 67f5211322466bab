// Loading shared libraries at run time, and the question whether a 32-bit process runs on a
// 64-bit system.
#pragma once

#include "base/text.h"

namespace srctally::platform {

/// An opaque handle of a loaded library; nullptr is none.
using ModuleHandle = void*;

/// Loads the library at the path MakeFullPath makes of name. asDataFile asks for a load that
/// only reads the library's resources (on POSIX the library is mapped all the same).
/// nullptr, with the last error set, on failure.
ModuleHandle LoadLibraryFromPath(WStringView name, bool asDataFile);

/// Loads a bare file name from the system directory (on POSIX through the dynamic loader's
/// own search); a name with a path part is resolved with MakeFullPath instead. nullptr, with
/// the last error set, on failure (87 for a bare name that is not relative).
ModuleHandle LoadSystemLibrary(WStringView name, bool asDataFile);

/// Frees a library loaded by one of the loaders. False, with the last error set, on failure.
bool FreeLibraryHandle(ModuleHandle module);

/// The address of the exported symbol name in module, or nullptr (last error set).
void* FindSymbol(ModuleHandle module, const char* name);

/// Whether this is a 32-bit process on a 64-bit system.
bool IsRunningOnWow64();

}  // namespace srctally::platform
