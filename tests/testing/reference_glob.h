// A plain statement of what a glob means, for checking the real matcher against: every way
// of splitting the text is tried, with the answers kept so the search stays small. Exact
// case; no character sets (patterns holding '[' are not its business).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace srctally::testing {

template <typename Unit>
class ReferenceGlob {
 public:
  using View = std::basic_string_view<Unit>;

  ReferenceGlob(View pattern, View text, bool pathName)
      : p_(pattern),
        t_(text),
        pathName_(pathName),
        memo_((pattern.size() + 1) * (text.size() + 1), kUnknown) {}

  bool Matches() { return Match(0, 0); }

 private:
  static constexpr std::int8_t kUnknown = -1;

  bool IsSlash(std::size_t ti) const { return t_[ti] == Unit('/'); }

  bool Match(std::size_t pi, std::size_t ti) {
    std::int8_t& known = memo_[pi * (t_.size() + 1) + ti];
    if (known == kUnknown) known = Compute(pi, ti) ? 1 : 0;
    return known == 1;
  }

  bool Compute(std::size_t pi, std::size_t ti) {
    if (pi == p_.size()) return ti == t_.size();
    if (p_[pi] == Unit('*')) {
      std::size_t q = pi;
      while (q < p_.size() && p_[q] == Unit('*')) ++q;
      const bool component = pathName_ && q - pi >= 2 && (pi == 0 || p_[pi - 1] == Unit('/'));
      if (component && q == p_.size()) return true;
      if (component && p_[q] == Unit('/')) {
        // No folder, or anything up to and including a '/'.
        if (Match(q + 1, ti)) return true;
        for (std::size_t k = ti; k < t_.size(); ++k) {
          if (IsSlash(k) && Match(q + 1, k + 1)) return true;
        }
        return false;
      }
      if (component && p_[q] == Unit('\\') && q + 1 < p_.size() && p_[q + 1] == Unit('/')) {
        for (std::size_t k = ti; k < t_.size(); ++k) {
          if (IsSlash(k) && Match(q + 2, k + 1)) return true;
        }
        return false;
      }
      for (std::size_t k = ti;; ++k) {
        if (Match(q, k)) return true;
        if (k == t_.size() || (pathName_ && IsSlash(k))) return false;
      }
    }
    if (p_[pi] == Unit('\\')) {
      if (pi + 1 == p_.size()) return false;
      return ti < t_.size() && t_[ti] == p_[pi + 1] && Match(pi + 2, ti + 1);
    }
    if (ti == t_.size()) return false;
    if (p_[pi] == Unit('?')) return !(pathName_ && IsSlash(ti)) && Match(pi + 1, ti + 1);
    return t_[ti] == p_[pi] && Match(pi + 1, ti + 1);
  }

  View p_;
  View t_;
  bool pathName_;
  std::vector<std::int8_t> memo_;
};

/// Whether text matches pattern (no '[' in it), by the plain statement.
template <typename Unit>
bool ReferenceMatch(std::basic_string_view<Unit> pattern, std::basic_string_view<Unit> text,
                    bool pathName) {
  return ReferenceGlob<Unit>(pattern, text, pathName).Matches();
}

}  // namespace srctally::testing
