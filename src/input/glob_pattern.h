// Glob patterns for file and folder names and for paths below the source folder: '*', '?',
// '**', character classes and backslash escapes, compiled once and matched without
// allocating.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/text.h"

namespace srctally {

/// How patterns are compared with names. The platform decides: names are compared without
/// regard to case on Windows and exactly on POSIX.
struct GlobCase {
  bool ignoreCase = false;
};

/// Whether text matches pattern.
///
/// - '?' matches one character, '*' any run of characters, '[...]' one character of a set:
///   single characters, ranges "a-z", the classes "[:alpha:]", "[:digit:]" and the other
///   POSIX names; "[!...]" or "[^...]" matches one character outside the set; a ']' first
///   in the set stands for itself.
/// - '\' makes the next character literal, inside a set too.
/// - With pathName, '/' separates folders: '*', '?' and sets never match it; "**" between
///   separators (or at the pattern's start or end) matches any number of whole folders:
///   "**/x" finds x at any depth, "a/**" everything below a, "a/**/b" also a/b. Without
///   pathName, '/' is an ordinary character and "**" is a '*'.
/// A pattern that ends inside a set or with a lone '\' matches nothing.
bool MatchGlob(WStringView pattern, WStringView text, bool pathName, GlobCase matchCase);

/// A pattern compiled once for many matches: a pattern without wildcards compares as text,
/// "*literal" compares the end of the text, and any other goes through MatchGlob.
class CGlobPattern {
 public:
  /// pattern as written, escapes included.
  CGlobPattern(WStringView pattern, GlobCase matchCase);

  bool Matches(WStringView text, bool pathName) const;
  WStringView text() const { return pattern_; }

 private:
  enum class Kind : std::uint8_t { kLiteral, kSuffix, kGlob };

  bool EqualText(WStringView a, WStringView b) const;

  WString pattern_;  // as written
  WString literal_;  // kLiteral: the whole text; kSuffix: what follows the '*'
  Kind kind_ = Kind::kGlob;
  GlobCase case_;
};

}  // namespace srctally
