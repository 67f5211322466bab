// How the program's console text looks on this platform, for tests that compare the bytes
// a run of the program writes.
#pragma once

namespace srctally::testing {

/// The separator the program prints in the relative folder paths of the walk.
extern const char kSep;
/// The bytes a line feed of the program's text becomes in its output.
extern const char kEol[];

}  // namespace srctally::testing
