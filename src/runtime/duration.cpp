// The duration pattern scanner: fields, literal text and optional bracketed sections.
#include "runtime/duration.h"

#include <cmath>
#include <new>
#include <vector>

#include "base/format.h"

namespace srctally {
namespace {

constexpr char16_t kFixedPattern[] =
    u"[d 'day(s)' [h 'hour(s)' [m 'minute(s)' ]]]s[.fff] 'second(s)'";

enum class FieldClass { kNone, kDays, kHours, kMinutes, kSeconds, kFraction };

FieldClass ClassOf(char16_t ch) {
  switch (ch) {
    case u'd':
      return FieldClass::kDays;
    case u'h':
    case u'H':
      return FieldClass::kHours;
    case u'm':
      return FieldClass::kMinutes;
    case u's':
      return FieldClass::kSeconds;
    case u'f':
      return FieldClass::kFraction;
    default:
      return FieldClass::kNone;
  }
}

std::int64_t UnitOf(FieldClass field) {
  switch (field) {
    case FieldClass::kDays:
      return 86'400'000'000'000;
    case FieldClass::kHours:
      return 3'600'000'000'000;
    case FieldClass::kMinutes:
      return 60'000'000'000;
    case FieldClass::kSeconds:
      return 1'000'000'000;
    default:
      return 0;
  }
}

/// Text gathered at one bracket depth; allZero until a field prints a non-zero number.
struct DurationSection {
  int level = 0;
  bool allZero = true;
  WString text;
};

class DurationScanner {
 public:
  explicit DurationScanner(std::int64_t nanoseconds) : remaining_(nanoseconds) {}

  WString Run(WStringView pattern) {
    // The terminating NUL is read like any other character: it ends a field in progress.
    for (std::size_t i = 0; i <= pattern.size(); ++i) {
      const char16_t ch = i < pattern.size() ? pattern[i] : u'\0';
      if (!Step(ch) || ch == u'\0') break;
    }
    return std::move(current_.text);
  }

 private:
  enum class State { kNormal, kQuoteOpened, kInQuote, kInField };

  // One character; false when scanning stops early.
  bool Step(char16_t ch) {
    const bool quote = ch == u'\'';
    const bool bracket = ch == u'[' || ch == u']';
    const FieldClass field = ClassOf(ch);
    switch (state_) {
      case State::kNormal:
        if (quote) {
          state_ = State::kQuoteOpened;
        } else if (bracket) {
          return Bracket(ch);
        } else if (field != FieldClass::kNone) {
          StartField(field);
        } else {
          Append(ch);
        }
        return true;
      case State::kQuoteOpened:
        Append(ch);  // '' is one quote; anything else opens literal text
        state_ = quote ? State::kNormal : State::kInQuote;
        return true;
      case State::kInQuote:
        if (quote) {
          state_ = State::kNormal;
        } else {
          Append(ch);
        }
        return true;
      case State::kInField:
        if (field == field_) {
          ++width_;
          return true;
        }
        EmitField();
        if (field != FieldClass::kNone) {
          StartField(field);
        } else if (quote) {
          state_ = State::kQuoteOpened;
        } else if (bracket) {
          state_ = State::kNormal;
          return Bracket(ch);
        } else {
          state_ = State::kNormal;
          Append(ch);
        }
        return true;
    }
    return true;
  }

  void Append(char16_t ch) {
    if (ch != u'\0') current_.text += ch;
  }

  void StartField(FieldClass field) {
    field_ = field;
    width_ = 1;
    state_ = State::kInField;
  }

  void EmitField() {
    std::int64_t printed = 0;
    if (field_ == FieldClass::kFraction) {
      printed = width_ < 9 ? remaining_ / static_cast<std::int64_t>(std::pow(10.0, 9 - width_))
                           : remaining_;
    } else {
      const std::int64_t unit = UnitOf(field_);
      printed = remaining_ / unit;
      remaining_ %= unit;
    }
    if (printed != 0) current_.allZero = false;
    if (width_ == 1) {
      AppendFormatV(current_.text, u"%I64d", Args(printed));
    } else {
      const FormatArg args[] = {FormatArg(width_), FormatArg(printed)};
      AppendFormatV(current_.text, u"%0*I64d", FormatArgs(args));
    }
    field_ = FieldClass::kNone;
  }

  static FormatArgs Args(const FormatArg& arg) { return FormatArgs(&arg, 1); }

  // A bracket changes the depth and closes the current section; at depth 0 the pending
  // sections are resolved. False when the depth falls below 0.
  bool Bracket(char16_t ch) {
    depth_ += ch == u'[' ? 1 : -1;
    if (depth_ < 0) return false;
    if (!current_.text.empty()) {
      try {
        pending_.push_back(current_);
      } catch (const std::bad_alloc&) {
        return false;
      }
    }
    current_ = DurationSection{depth_, true, WString()};
    if (depth_ == 0) Resolve();
    return true;
  }

  void Resolve() {
    int threshold = 0;
    for (const DurationSection& section : pending_) {
      if (threshold == 0 && !section.allZero) threshold = section.level;
      if (section.level == 0 || (threshold > 0 && section.level >= threshold)) {
        current_.text += section.text;
      }
    }
    pending_.clear();
  }

  std::int64_t remaining_;
  State state_ = State::kNormal;
  FieldClass field_ = FieldClass::kNone;
  int width_ = 0;
  int depth_ = 0;
  DurationSection current_;
  std::vector<DurationSection> pending_;
};

}  // namespace

WString FormatDuration(std::int64_t nanoseconds) {
  return FormatDurationPattern(kFixedPattern, nanoseconds);
}

WString FormatDurationPattern(WStringView pattern, std::int64_t nanoseconds) {
  // Like a NUL-terminated text, the pattern ends at its first NUL.
  const std::size_t end = pattern.find(u'\0');
  if (end != WStringView::npos) pattern = pattern.substr(0, end);
  return DurationScanner(nanoseconds).Run(pattern);
}

}  // namespace srctally
