// Glob patterns for file and folder names and for paths below the source folder: '*', '?',
// '**', character classes and backslash escapes, compiled once and matched without
// allocating, over UTF-16 text (a character at a time) or UTF-8 bytes (a byte at a time).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/text.h"
#include "platform/file_system.h"

namespace srctally {

/// How names compare: exactly, or without regard to case through the file system's own
/// case table. The one comparison of names for exclude patterns and ignore rules.
class GlobCase {
 public:
  /// Exact comparison.
  GlobCase() = default;
  /// Folds case through table; a null table compares exactly.
  explicit GlobCase(const platform::NameCaseTable* table) : table_(table) {}

  bool IgnoresCase() const { return table_ != nullptr; }

  /// Whether two characters (code points; a unit 0xDC80..0xDCFF may stand for a raw byte)
  /// are the same in a name. Only units of the Basic Multilingual Plane fold.
  bool Same(char32_t a, char32_t b) const {
    if (a == b) return true;
    return table_ != nullptr && a <= 0xFFFF && b <= 0xFFFF && table_->upper[a] == table_->upper[b];
  }
  /// The upper- and lower-case forms of ch; ch itself when case counts or ch has none.
  char32_t Upper(char32_t ch) const { return Folds(ch) ? table_->upper[ch] : ch; }
  char32_t Lower(char32_t ch) const { return Folds(ch) ? table_->lower[ch] : ch; }

  /// Whether two names are the same, character by character.
  bool Equal(WStringView a, WStringView b) const;
  /// The same for UTF-8 names; a byte that is not part of a UTF-8 character only equals
  /// itself.
  bool Equal(std::string_view a, std::string_view b) const;
  /// How many bytes at the start of the UTF-8 text are the same as prefix, character by
  /// character; npos when text does not start with prefix.
  std::size_t PrefixLength(std::string_view text, std::string_view prefix) const;

 private:
  bool Folds(char32_t ch) const { return table_ != nullptr && ch <= 0xFFFF; }

  const platform::NameCaseTable* table_ = nullptr;
};

/// Whether text matches pattern, both UTF-16; '?' and a set match one character (a surrogate
/// pair is one).
///
/// - '?' matches one character, '*' any run of characters, '[...]' one character of a set:
///   single characters, ranges "a-z", the classes "[:alpha:]", "[:digit:]" and the other
///   POSIX names (ASCII only); "[!...]" or "[^...]" matches one character outside the set;
///   a ']' first in the set stands for itself.
/// - '\' makes the next character literal, inside a set too.
/// - With pathName, '/' separates folders: '*', '?' and sets never match it; "**" between
///   separators (or at the pattern's start or end) matches any number of whole folders:
///   "**/x" finds x at any depth, "a/**" everything below a, "a/**/b" also a/b; any other
///   "**" is a '*'. Without pathName, '/' is an ordinary character and "**" is a '*'.
/// A pattern that ends inside a set, names an unknown class or ends with a lone '\' matches
/// nothing. The time taken grows with the product of the lengths, never exponentially.
bool MatchGlob(WStringView pattern, WStringView text, bool pathName, GlobCase matchCase);

/// The same over bytes, as git matches its ignore rules: '?', '*' and sets match bytes, so
/// '?' never matches a character of two or more UTF-8 bytes. Literal characters compare as
/// UTF-8 characters, with matchCase.
bool MatchGlob(std::string_view pattern, std::string_view text, bool pathName, GlobCase matchCase);

/// A pattern compiled once for many matches: a pattern without wildcards compares as text,
/// "*literal" compares the end of the text, and any other goes through MatchGlob. Unit is
/// char16_t for UTF-16 or char for UTF-8 bytes.
template <typename Unit>
class CBasicGlobPattern {
 public:
  using View = std::basic_string_view<Unit>;

  /// pattern as written, escapes included.
  CBasicGlobPattern(View pattern, GlobCase matchCase);

  bool Matches(View text, bool pathName) const;
  View text() const { return pattern_; }

 private:
  enum class Kind : std::uint8_t { kLiteral, kSuffix, kGlob };

  std::basic_string<Unit> pattern_;  // as written
  std::basic_string<Unit> literal_;  // kLiteral: the whole text; kSuffix: what follows the '*'
  Kind kind_ = Kind::kGlob;
  GlobCase case_;
};

using CGlobPattern = CBasicGlobPattern<char16_t>;
using CByteGlobPattern = CBasicGlobPattern<char>;

extern template class CBasicGlobPattern<char16_t>;
extern template class CBasicGlobPattern<char>;

/// Whether ch has a meaning of its own in a pattern: '*', '?', '[' or '\'.
constexpr bool IsGlobSpecial(char32_t ch) {
  return ch == U'*' || ch == U'?' || ch == U'[' || ch == U'\\';
}

}  // namespace srctally
