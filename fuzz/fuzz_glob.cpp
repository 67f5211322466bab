// The glob matcher with any pattern and text. The first byte holds the options (path
// names, case folded with the tests' table, bytes or UTF-16); the rest is the pattern, a
// NUL, and the text. Checks that the compiled pattern agrees with the matcher and, for
// patterns without sets, that folding case only ever adds matches and that the answer is
// the plain statement's. The run's time limit per input catches a matcher that backtracks without
// bound.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "testing/name_case.h"
#include "testing/reference_glob.h"
#include "walk/glob_pattern.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace srctally;
  if (size < 1) return 0;
  const bool pathName = (data[0] & 1) != 0;
  const bool ignoreCase = (data[0] & 2) != 0;
  const bool bytes = (data[0] & 4) != 0;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t split = rest.find('\0');
  const std::string_view pattern = rest.substr(0, split);
  const std::string_view text = split == std::string_view::npos ? "" : rest.substr(split + 1);
  const GlobCase folded = testing::TestNameCase();
  const GlobCase matchCase = ignoreCase ? folded : GlobCase();
  bool matches = false;
  bool matchesFolded = false;
  if (bytes) {
    matches = MatchGlob(pattern, text, pathName, matchCase);
    if (CByteGlobPattern(pattern, matchCase).Matches(text, pathName) != matches) std::abort();
    matchesFolded = MatchGlob(pattern, text, pathName, folded);
    // The plain statement takes time cubic in the sizes: only for small inputs.
    if (!ignoreCase && pattern.find('[') == std::string_view::npos &&
        pattern.size() * text.size() <= 20000 &&
        testing::ReferenceMatch<char>(pattern, text, pathName) != matches) {
      std::abort();
    }
  } else {
    const WString widePattern = FromUtf8Lossless(pattern);
    const WString wideText = FromUtf8Lossless(text);
    matches = MatchGlob(widePattern, wideText, pathName, matchCase);
    if (CGlobPattern(widePattern, matchCase).Matches(wideText, pathName) != matches) std::abort();
    matchesFolded = MatchGlob(widePattern, wideText, pathName, folded);
  }
  // Without sets (a negated set may lose a match when case folds), folding only adds
  // matches.
  if (matches && !matchesFolded && pattern.find('[') == std::string_view::npos) std::abort();
  return 0;
}
