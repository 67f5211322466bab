// Glob matching over UTF-16 names and '/'-separated paths, and over UTF-8 bytes.
//
// The matcher never tries every way of splitting the text between the stars. A single '*'
// cannot cross a '/', so once the pattern has moved past it only the latest star can still
// take more text: the match goes back to that star alone, one character further each time.
// When that star can take no more (its text ends or reaches a '/'), only a "**/" further
// out can help, and it goes on at the next folder. So each star and each folder of the text
// is tried a bounded number of times, and the work grows with the product of the lengths.
#include "walk/glob_pattern.h"

#include <type_traits>

namespace srctally {
namespace {

constexpr char32_t kEnd = 0xFFFFFFFF;   // past the end of the pattern
constexpr char32_t kNone = 0xFFFFFFFE;  // no member before this one in a set
constexpr std::size_t kNoStar = static_cast<std::size_t>(-1);

// The UTF-8 character at bytes[i] (i < size): its code point, or for a byte that starts
// none, the raw-byte unit U+DC00 + byte, which no character equals. Answers its length.
std::size_t ReadUtf8Char(std::string_view bytes, std::size_t i, char32_t& ch) {
  const std::size_t length = DecodeUtf8At(bytes, i, ch);
  if (length != 0) return length;
  ch = 0xDC00 + static_cast<unsigned char>(bytes[i]);
  return 1;
}

bool IsAsciiLower(char32_t ch) { return ch >= U'a' && ch <= U'z'; }
bool IsAsciiUpper(char32_t ch) { return ch >= U'A' && ch <= U'Z'; }
bool IsAsciiDigit(char32_t ch) { return ch >= U'0' && ch <= U'9'; }
bool IsAsciiAlpha(char32_t ch) { return IsAsciiLower(ch) || IsAsciiUpper(ch); }
bool IsAsciiGraph(char32_t ch) { return ch > U' ' && ch < 0x7F; }

// One match of a pattern against a text; see MatchGlob. Unit is char16_t (a surrogate pair
// is one character) or char (every byte is one, as git matches).
template <typename Unit>
class Matcher {
 public:
  using View = std::basic_string_view<Unit>;

  Matcher(View pattern, View text, bool pathName, GlobCase matchCase)
      : p_(pattern), t_(text), pathName_(pathName), case_(matchCase) {}

  bool Run() const {
    std::size_t pi = 0;
    std::size_t ti = 0;
    std::size_t starP = kNoStar;    // the latest single star: the pattern after it...
    std::size_t starT = 0;          // ...and where the text it took ends now
    std::size_t folderP = kNoStar;  // the latest "**/": the pattern after it...
    std::size_t folderT = 0;        // ...and where the folders it took end now
    for (;;) {
      if (pi < p_.size()) {
        if (p_[pi] != Unit('*')) {
          const Step step = MatchOne(pi, ti);
          if (step == Step::kMatched) continue;
          if (step == Step::kMalformed) return false;
        } else {
          std::size_t q = pi + 1;
          while (q < p_.size() && p_[q] == Unit('*')) ++q;
          const Kind kind = KindOfStars(pi, q);
          if (kind == Kind::kRest) return true;
          if (kind == Kind::kFolders || kind == Kind::kSomeFolders) {
            // "**/" takes no folder first (not "**\/", which needs at least one '/'), then
            // one more whole folder on each restart.
            folderP = q + (kind == Kind::kFolders ? 1 : 2);
            folderT = ti;
            starP = kNoStar;
            if (kind == Kind::kFolders) {
              pi = folderP;
              continue;
            }
          } else {
            // A trailing star takes the rest of the text when it may.
            if (q == p_.size() && (!pathName_ || t_.find(Unit('/'), ti) == View::npos)) {
              return true;
            }
            starP = pi = q;
            starT = ti;
            continue;
          }
        }
      } else if (ti == t_.size()) {
        return true;
      }
      // A mismatch: the latest star takes one character more, or failing that the latest
      // "**/" one folder more.
      if (starP != kNoStar && starT < t_.size() && (!pathName_ || t_[starT] != Unit('/'))) {
        char32_t skipped = 0;
        starT += Read(t_, starT, skipped);
        pi = starP;
        ti = starT;
        continue;
      }
      starP = kNoStar;
      if (folderP == kNoStar) return false;
      const std::size_t slash = t_.find(Unit('/'), folderT);
      if (slash == View::npos) return false;
      folderT = slash + 1;
      pi = folderP;
      ti = folderT;
    }
  }

 private:
  enum class Step : std::uint8_t { kMatched, kFailed, kMalformed };
  enum class Kind : std::uint8_t {
    kOne,          // '*', or "**" that is not a whole component: within one name
    kFolders,      // "**/" as a whole component: no folder or any number of them
    kSomeFolders,  // "**\/" as a whole component: at least one folder
    kRest,         // a trailing "/**" or a lone "**": everything that is left
  };
  static constexpr bool kBytes = std::is_same_v<Unit, char>;

  // The star run p_[pi..q).
  Kind KindOfStars(std::size_t pi, std::size_t q) const {
    if (!pathName_ || q - pi < 2 || (pi != 0 && p_[pi - 1] != Unit('/'))) return Kind::kOne;
    if (q == p_.size()) return Kind::kRest;
    if (p_[q] == Unit('/')) return Kind::kFolders;
    if (p_[q] == Unit('\\') && q + 1 < p_.size() && p_[q + 1] == Unit('/')) {
      return Kind::kSomeFolders;
    }
    return Kind::kOne;
  }

  static char32_t UnitAt(View s, std::size_t i) {
    return i < s.size() ? static_cast<char32_t>(static_cast<std::make_unsigned_t<Unit>>(s[i]))
                        : kEnd;
  }

  // The character of s at i, a byte or a UTF-16 character (a surrogate pair is one), and
  // its length in units; kEnd and 0 past the end.
  static std::size_t Read(View s, std::size_t i, char32_t& ch) {
    ch = UnitAt(s, i);
    if (ch == kEnd) return 0;
    if constexpr (!kBytes) {
      const char32_t low = UnitAt(s, i + 1);
      if (ch >= 0xD800 && ch <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
        ch = 0x10000 + ((ch - 0xD800) << 10) + (low - 0xDC00);
        return 2;
      }
    }
    return 1;
  }

  // The pattern element at p_[pi], which is no star, against the text at ti; on kMatched
  // both are moved past what matched.
  Step MatchOne(std::size_t& pi, std::size_t& ti) const {
    if (ti == t_.size()) return Step::kFailed;
    switch (UnitAt(p_, pi)) {
      case U'\\':
        // The next character is literal; a trailing backslash matches nothing.
        if (++pi == p_.size()) return Step::kMalformed;
        return MatchLiteral(pi, ti) ? Step::kMatched : Step::kFailed;
      case U'?': {
        if (pathName_ && t_[ti] == Unit('/')) return Step::kFailed;
        char32_t ch = 0;
        ti += Read(t_, ti, ch);
        ++pi;
        return Step::kMatched;
      }
      case U'[':
        return MatchSet(pi, ti);
      default:
        return MatchLiteral(pi, ti) ? Step::kMatched : Step::kFailed;
    }
  }

  // A literal character: unit by unit when case counts; folded, a UTF-16 unit or a UTF-8
  // character at a time.
  bool MatchLiteral(std::size_t& pi, std::size_t& ti) const {
    // Equal units match, except over bytes where the first byte of a UTF-8 character is
    // the same in both forms of some letters ("É" and "é"): those compare whole.
    const bool whole = kBytes && static_cast<unsigned char>(p_[pi]) >= 0x80;
    if (!case_.IgnoresCase() || (p_[pi] == t_[ti] && !whole)) {
      if (p_[pi] != t_[ti]) return false;
      ++pi;
      ++ti;
      return true;
    }
    char32_t a = UnitAt(p_, pi);
    char32_t b = UnitAt(t_, ti);
    std::size_t patternLength = 1;
    std::size_t textLength = 1;
    if constexpr (kBytes) {
      patternLength = ReadUtf8Char(p_, pi, a);
      textLength = ReadUtf8Char(t_, ti, b);
    }
    if (!case_.Same(a, b)) return false;
    pi += patternLength;
    ti += textLength;
    return true;
  }

  // Members of a set compare as characters; over bytes only ASCII bytes fold, as a byte of
  // a longer UTF-8 character has no case.
  bool Folds(char32_t ch) const { return case_.IgnoresCase() && (!kBytes || ch < 0x80); }

  bool SameMember(char32_t ch, char32_t member) const {
    return ch == member || (Folds(ch) && Folds(member) && case_.Same(ch, member));
  }

  bool InRange(char32_t ch, char32_t low, char32_t high) const {
    const auto in = [low, high](char32_t c) { return low <= c && c <= high; };
    return in(ch) || (Folds(ch) && (in(case_.Upper(ch)) || in(case_.Lower(ch))));
  }

  static bool NameIs(View name, std::string_view ascii) {
    if (name.size() != ascii.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
      if (UnitAt(name, i) != static_cast<unsigned char>(ascii[i])) return false;
    }
    return true;
  }

  // Whether ch belongs to the POSIX class name ("alpha", "digit", ...), ASCII only. known
  // is false for a name that is no class.
  bool InNamedClass(View name, char32_t ch, bool& known) const {
    known = true;
    const bool fold = case_.IgnoresCase();
    if (NameIs(name, "alnum")) return IsAsciiAlpha(ch) || IsAsciiDigit(ch);
    if (NameIs(name, "alpha")) return IsAsciiAlpha(ch);
    if (NameIs(name, "blank")) return ch == U' ' || ch == U'\t';
    if (NameIs(name, "cntrl")) return ch < U' ' || ch == 0x7F;
    if (NameIs(name, "digit")) return IsAsciiDigit(ch);
    if (NameIs(name, "graph")) return IsAsciiGraph(ch);
    if (NameIs(name, "lower")) return IsAsciiLower(ch) || (fold && IsAsciiUpper(ch));
    if (NameIs(name, "print")) return IsAsciiGraph(ch) || ch == U' ';
    if (NameIs(name, "punct")) return IsAsciiGraph(ch) && !IsAsciiAlpha(ch) && !IsAsciiDigit(ch);
    if (NameIs(name, "space")) return ch == U' ' || (ch >= U'\t' && ch <= U'\r');
    if (NameIs(name, "upper")) return IsAsciiUpper(ch) || (fold && IsAsciiLower(ch));
    if (NameIs(name, "xdigit")) {
      return IsAsciiDigit(ch) || (ch >= U'a' && ch <= U'f') || (ch >= U'A' && ch <= U'F');
    }
    known = false;
    return false;
  }

  // The set that starts at p_[pi] == '[' against the text character at ti. A set without
  // its ']' or with an unknown class name is malformed.
  Step MatchSet(std::size_t& pi, std::size_t& ti) const {
    char32_t tc = 0;
    const std::size_t textLength = Read(t_, ti, tc);
    std::size_t i = pi + 1;
    char32_t pc = 0;
    std::size_t length = Read(p_, i, pc);
    if (pc == U'^') pc = U'!';
    const bool negated = pc == U'!';
    if (negated) {
      i += length;
      length = Read(p_, i, pc);
    }
    char32_t previous = kNone;
    bool matched = false;
    do {
      if (pc == kEnd) return Step::kMalformed;
      if (pc == U'\\') {
        i += length;
        length = Read(p_, i, pc);
        if (pc == kEnd) return Step::kMalformed;
        if (SameMember(tc, pc)) matched = true;
      } else if (pc == U'-' && previous != kNone && UnitAt(p_, i + 1) != kEnd &&
                 UnitAt(p_, i + 1) != U']') {
        i += length;
        length = Read(p_, i, pc);
        if (pc == U'\\') {
          i += length;
          length = Read(p_, i, pc);
          if (pc == kEnd) return Step::kMalformed;
        }
        if (InRange(tc, previous, pc)) matched = true;
        pc = kNone;  // a range's end starts no further range
      } else if (pc == U'[' && UnitAt(p_, i + 1) == U':') {
        const std::size_t nameStart = i + 2;
        std::size_t end = nameStart;
        while (end < p_.size() && p_[end] != Unit(']')) ++end;
        if (end == p_.size()) return Step::kMalformed;
        if (end == nameStart || p_[end - 1] != Unit(':')) {
          // No ":]": the '[' is an ordinary member of the set, and so is the ':'.
          if (SameMember(tc, U'[')) matched = true;
        } else {
          bool known = false;
          if (InNamedClass(p_.substr(nameStart, end - 1 - nameStart), tc, known)) matched = true;
          if (!known) return Step::kMalformed;
          i = end;
          length = 1;
          pc = kNone;
        }
      } else if (SameMember(tc, pc)) {
        matched = true;
      }
      previous = pc;
      i += length;
      length = Read(p_, i, pc);
    } while (pc != U']');
    if (matched == negated || (pathName_ && tc == U'/')) return Step::kFailed;
    pi = i + 1;
    ti += textLength;
    return Step::kMatched;
  }

  View p_;
  View t_;
  bool pathName_;
  GlobCase case_;
};

template <typename Unit>
bool HasSpecial(std::basic_string_view<Unit> text) {
  for (const Unit ch : text) {
    if (IsGlobSpecial(static_cast<std::make_unsigned_t<Unit>>(ch))) return true;
  }
  return false;
}

}  // namespace

bool GlobCase::Equal(WStringView a, WStringView b) const {
  if (a.size() != b.size()) return false;
  if (table_ == nullptr) return a == b;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && table_->upper[a[i]] != table_->upper[b[i]]) return false;
  }
  return true;
}

bool GlobCase::Equal(std::string_view a, std::string_view b) const {
  if (table_ == nullptr) return a == b;
  return PrefixLength(a, b) == a.size();
}

std::size_t GlobCase::PrefixLength(std::string_view text, std::string_view prefix) const {
  if (table_ == nullptr) return text.starts_with(prefix) ? prefix.size() : std::string_view::npos;
  std::size_t i = 0;
  std::size_t j = 0;
  while (j < prefix.size()) {
    if (i == text.size()) return std::string_view::npos;
    char32_t x = 0;
    char32_t y = 0;
    i += ReadUtf8Char(text, i, x);
    j += ReadUtf8Char(prefix, j, y);
    if (!Same(x, y)) return std::string_view::npos;
  }
  return i;
}

bool MatchGlob(WStringView pattern, WStringView text, bool pathName, GlobCase matchCase) {
  return Matcher<char16_t>(pattern, text, pathName, matchCase).Run();
}

bool MatchGlob(std::string_view pattern, std::string_view text, bool pathName, GlobCase matchCase) {
  return Matcher<char>(pattern, text, pathName, matchCase).Run();
}

template <typename Unit>
CBasicGlobPattern<Unit>::CBasicGlobPattern(View pattern, GlobCase matchCase)
    : pattern_(pattern), case_(matchCase) {
  if (!HasSpecial(pattern)) {
    kind_ = Kind::kLiteral;
    literal_ = pattern;
    return;
  }
  if (pattern.size() < 2 || pattern[0] != Unit('*') || HasSpecial(pattern.substr(1))) return;
  const View tail = pattern.substr(1);
  if constexpr (std::is_same_v<Unit, char>) {
    // Folded, a character's two forms may differ in length: only ASCII compares by length.
    if (matchCase.IgnoresCase()) {
      for (const char ch : tail) {
        if (static_cast<unsigned char>(ch) >= 0x80) return;
      }
    }
  } else {
    // A tail that starts with the second half of a surrogate pair would split a character.
    if (tail[0] >= 0xDC00 && tail[0] <= 0xDFFF) return;
  }
  kind_ = Kind::kSuffix;
  literal_ = tail;
}

template <typename Unit>
bool CBasicGlobPattern<Unit>::Matches(View text, bool pathName) const {
  switch (kind_) {
    case Kind::kLiteral:
      return case_.Equal(text, View(literal_));
    case Kind::kSuffix: {
      if (text.size() < literal_.size()) return false;
      const std::size_t headSize = text.size() - literal_.size();
      if (pathName && text.substr(0, headSize).find(Unit('/')) != View::npos) return false;
      return case_.Equal(text.substr(headSize), View(literal_));
    }
    case Kind::kGlob:
      break;
  }
  return MatchGlob(View(pattern_), text, pathName, case_);
}

template class CBasicGlobPattern<char16_t>;
template class CBasicGlobPattern<char>;

}  // namespace srctally
