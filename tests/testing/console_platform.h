// How the program's console text looks on this platform, for tests that compare the bytes
// a run of the program writes.
#pragma once

#include <string>

namespace srctally::testing {

/// The separator the program prints in the relative folder paths of the walk.
extern const char kSep;
/// The bytes a line feed of the program's text becomes in its output.
extern const char kEol[];

/// UTF-8 text as the program's default redirected output (narrow text) shows it, read back
/// as UTF-8: a character the narrow encoding cannot hold reads "?". POSIX: the C locale's
/// Latin-1; Windows: the ANSI code page.
std::string ShownInNarrowText(const std::string& utf8);

/// The bytes of narrow text (as above) decoded to UTF-8.
std::string NarrowTextToUtf8(const std::string& bytes);

}  // namespace srctally::testing
