// Glob matching over UTF-16 names and '/'-separated paths.
#include "input/glob_pattern.h"

namespace srctally {
namespace {

enum class Outcome : std::uint8_t {
  kMatch,
  kNoMatch,
  kAbortAll,          // no later start of the text can match either
  kAbortToDoubleStar  // only a "**" further out can still match
};

bool IsGlobSpecial(char16_t ch) { return ch == u'*' || ch == u'?' || ch == u'[' || ch == u'\\'; }

bool IsAsciiLower(char16_t ch) { return ch >= u'a' && ch <= u'z'; }
bool IsAsciiUpper(char16_t ch) { return ch >= u'A' && ch <= u'Z'; }
bool IsAsciiDigit(char16_t ch) { return ch >= u'0' && ch <= u'9'; }
bool IsAsciiAlpha(char16_t ch) { return IsAsciiLower(ch) || IsAsciiUpper(ch); }
bool IsAsciiGraph(char16_t ch) { return ch > u' ' && ch < 0x7F; }

// Whether ch belongs to the POSIX class name ("alpha", "digit", ...). known is false for a
// name that is no class.
bool InNamedClass(WStringView name, char16_t ch, bool ignoreCase, bool& known) {
  known = true;
  if (name == u"alnum") return IsAsciiAlpha(ch) || IsAsciiDigit(ch);
  if (name == u"alpha") return IsAsciiAlpha(ch);
  if (name == u"blank") return ch == u' ' || ch == u'\t';
  if (name == u"cntrl") return ch < u' ' || ch == 0x7F;
  if (name == u"digit") return IsAsciiDigit(ch);
  if (name == u"graph") return IsAsciiGraph(ch);
  if (name == u"lower") return IsAsciiLower(ch);
  if (name == u"print") return IsAsciiGraph(ch) || ch == u' ';
  if (name == u"punct") return IsAsciiGraph(ch) && !IsAsciiAlpha(ch) && !IsAsciiDigit(ch);
  if (name == u"space") return ch == u' ' || (ch >= u'\t' && ch <= u'\r');
  if (name == u"upper") return IsAsciiUpper(ch) || (ignoreCase && IsAsciiLower(ch));
  if (name == u"xdigit") {
    return IsAsciiDigit(ch) || (ch >= u'a' && ch <= u'f') || (ch >= u'A' && ch <= u'F');
  }
  known = false;
  return false;
}

// One match of a pattern against a text. Recursion happens only at a '*', so its depth is
// bounded by the number of stars in the pattern.
class Matcher {
 public:
  Matcher(WStringView pattern, WStringView text, bool pathName, bool ignoreCase)
      : p_(pattern), t_(text), pathName_(pathName), ignoreCase_(ignoreCase) {}

  Outcome Match(std::size_t pi, std::size_t ti) const {
    for (; pi < p_.size(); ++pi, ++ti) {
      char16_t pc = p_[pi];
      if (ti == t_.size() && pc != u'*') return Outcome::kAbortAll;
      const char16_t tc = ti < t_.size() ? Fold(t_[ti]) : u'\0';
      switch (pc) {
        case u'\\':
          // The next character is literal; a trailing backslash matches nothing.
          if (++pi == p_.size()) return Outcome::kNoMatch;
          pc = p_[pi];
          [[fallthrough]];
        default:
          if (Fold(pc) != tc) return Outcome::kNoMatch;
          continue;
        case u'?':
          if (pathName_ && tc == u'/') return Outcome::kNoMatch;
          continue;
        case u'[': {
          const Outcome set = MatchSet(pi, tc);
          if (set != Outcome::kMatch) return set;
          continue;
        }
        case u'*': {
          const Outcome star = MatchStar(pi, ti);
          if (star != Outcome::kMatch || pi == p_.size()) return star;
          continue;  // a single star took the text up to the next '/'; go on from there
        }
      }
    }
    return ti == t_.size() ? Outcome::kMatch : Outcome::kNoMatch;
  }

 private:
  char16_t Fold(char16_t ch) const { return ignoreCase_ ? FoldNameCase(ch) : ch; }
  char16_t At(std::size_t i) const { return i < p_.size() ? p_[i] : u'\0'; }

  // The star run at p_[pi] against the text from ti. Answers the outcome of the whole rest
  // of the match, except when a single star stops at a '/' that the pattern also has:
  // then it answers kMatch with pi and ti on the two '/', for the caller to go on from.
  // pi == p_.size() on a kMatch means the whole match succeeded.
  Outcome MatchStar(std::size_t& pi, std::size_t& ti) const {
    std::size_t q = pi + 1;  // after the star run
    bool matchSlash = !pathName_;
    if (At(q) == u'*') {
      while (At(q) == u'*') ++q;
      const bool wholeComponent =
          (pi == 0 || p_[pi - 1] == u'/') &&
          (q == p_.size() || p_[q] == u'/' || (p_[q] == u'\\' && At(q + 1) == u'/'));
      if (!pathName_) {
        matchSlash = true;
      } else if (wholeComponent) {
        // "**/" may stand for no folder at all: "a/**/b" matches a/b.
        if (At(q) == u'/' && Match(q + 1, ti) == Outcome::kMatch) {
          pi = p_.size();
          return Outcome::kMatch;
        }
        matchSlash = true;
      } else {
        matchSlash = false;
      }
    }
    if (q == p_.size()) {
      // A trailing "**" takes everything; a trailing '*' only the rest of one component.
      if (!matchSlash && t_.find(u'/', ti) != WStringView::npos) return Outcome::kNoMatch;
      pi = p_.size();
      return Outcome::kMatch;
    }
    if (!matchSlash && p_[q] == u'/') {
      const std::size_t slash = t_.find(u'/', ti);
      if (slash == WStringView::npos) return Outcome::kNoMatch;
      pi = q;
      ti = slash;
      return Outcome::kMatch;
    }
    for (std::size_t cur = ti; cur < t_.size(); ++cur) {
      if (!IsGlobSpecial(p_[q])) {
        // A literal follows the star: skip to its next occurrence (within the component
        // when the star cannot cross a '/').
        const char16_t want = Fold(p_[q]);
        while (cur < t_.size() && (matchSlash || t_[cur] != u'/') && Fold(t_[cur]) != want) {
          ++cur;
        }
        if (cur == t_.size() || Fold(t_[cur]) != want) return Outcome::kNoMatch;
      }
      const Outcome rest = Match(q, cur);
      if (rest != Outcome::kNoMatch) {
        if (!matchSlash || rest != Outcome::kAbortToDoubleStar) {
          if (rest == Outcome::kMatch) pi = p_.size();
          return rest;
        }
      } else if (!matchSlash && t_[cur] == u'/') {
        return Outcome::kAbortToDoubleStar;
      }
    }
    return Outcome::kAbortAll;
  }

  bool SameChar(char16_t folded, char16_t patternChar) const { return folded == Fold(patternChar); }

  bool InRange(char16_t folded, char16_t low, char16_t high) const {
    if (low <= folded && folded <= high) return true;
    if (!ignoreCase_) return false;
    const char16_t upper = UpperNameCase(folded);
    return low <= upper && upper <= high;
  }

  // The set that starts at p_[pi] == '[' against the folded text character tc. On kMatch pi
  // is left on the set's closing ']'. A set without its ']' or with an unknown class name
  // is malformed and matches nothing.
  Outcome MatchSet(std::size_t& pi, char16_t tc) const {
    std::size_t i = pi + 1;
    char16_t pc = At(i);
    if (pc == u'^') pc = u'!';
    const bool negated = pc == u'!';
    if (negated) pc = At(++i);
    char16_t previous = u'\0';
    bool matched = false;
    do {
      if (pc == u'\0') return Outcome::kAbortAll;
      if (pc == u'\\') {
        pc = At(++i);
        if (pc == u'\0') return Outcome::kAbortAll;
        if (SameChar(tc, pc)) matched = true;
      } else if (pc == u'-' && previous != u'\0' && At(i + 1) != u'\0' && At(i + 1) != u']') {
        pc = At(++i);
        if (pc == u'\\') {
          pc = At(++i);
          if (pc == u'\0') return Outcome::kAbortAll;
        }
        if (InRange(tc, previous, pc)) matched = true;
        pc = u'\0';  // a range's end starts no further range
      } else if (pc == u'[' && At(i + 1) == u':') {
        const std::size_t nameStart = i + 2;
        std::size_t end = nameStart;
        while (At(end) != u'\0' && At(end) != u']') ++end;
        if (At(end) == u'\0') return Outcome::kAbortAll;
        if (end == nameStart || p_[end - 1] != u':') {
          // No ":]": the '[' is an ordinary member of the set.
          if (SameChar(tc, u'[')) matched = true;
        } else {
          bool known = false;
          if (InNamedClass(p_.substr(nameStart, end - 1 - nameStart), tc, ignoreCase_, known)) {
            matched = true;
          }
          if (!known) return Outcome::kAbortAll;
          i = end;
          pc = u'\0';
        }
      } else if (SameChar(tc, pc)) {
        matched = true;
      }
      previous = pc;
      pc = At(++i);
    } while (pc != u']');
    if (matched == negated || (pathName_ && tc == u'/')) return Outcome::kNoMatch;
    pi = i;
    return Outcome::kMatch;
  }

  WStringView p_;
  WStringView t_;
  bool pathName_;
  bool ignoreCase_;
};

}  // namespace

bool MatchGlob(WStringView pattern, WStringView text, bool pathName, GlobCase matchCase) {
  return Matcher(pattern, text, pathName, matchCase.ignoreCase).Match(0, 0) == Outcome::kMatch;
}

CGlobPattern::CGlobPattern(WStringView pattern, GlobCase matchCase)
    : pattern_(pattern), case_(matchCase) {
  const auto isSpecial = [](WStringView text) {
    for (const char16_t ch : text) {
      if (IsGlobSpecial(ch)) return true;
    }
    return false;
  };
  if (!isSpecial(pattern)) {
    kind_ = Kind::kLiteral;
    literal_ = pattern;
  } else if (pattern.size() > 1 && pattern[0] == u'*' && !isSpecial(pattern.substr(1))) {
    kind_ = Kind::kSuffix;
    literal_ = pattern.substr(1);
  }
}

bool CGlobPattern::EqualText(WStringView a, WStringView b) const {
  if (a.size() != b.size()) return false;
  if (!case_.ignoreCase) return a == b;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldNameCase(a[i]) != FoldNameCase(b[i])) return false;
  }
  return true;
}

bool CGlobPattern::Matches(WStringView text, bool pathName) const {
  switch (kind_) {
    case Kind::kLiteral:
      return EqualText(text, literal_);
    case Kind::kSuffix: {
      if (text.size() < literal_.size()) return false;
      const std::size_t headSize = text.size() - literal_.size();
      if (pathName && text.substr(0, headSize).find(u'/') != WStringView::npos) return false;
      return EqualText(text.substr(headSize), literal_);
    }
    case Kind::kGlob:
      break;
  }
  return MatchGlob(pattern_, text, pathName, case_);
}

}  // namespace srctally
