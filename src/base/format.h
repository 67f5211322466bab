// A small type-safe printf: the program's format texts keep their printf conventions, but
// the arguments carry their types, and a format asking for more arguments than were given
// never reads past them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <type_traits>

#include "base/text.h"

namespace srctally {

/// One formatting argument: a signed or unsigned integer, or a UTF-16 text.
class FormatArg {
 public:
  enum class Kind { kSigned, kUnsigned, kText };

  template <class T>
  requires std::is_integral_v<T> FormatArg(
      T value) {  // NOLINT(google-explicit-constructor): used in argument lists
    if constexpr (std::is_same_v<T, char16_t> || std::is_same_v<T, char32_t> ||
                  std::is_same_v<T, wchar_t>) {
      kind_ = Kind::kUnsigned;
      unsigned_ = static_cast<std::uint64_t>(value);
    } else if constexpr (std::is_signed_v<T>) {
      kind_ = Kind::kSigned;
      signed_ = value;
    } else {
      kind_ = Kind::kUnsigned;
      unsigned_ = value;
    }
  }
  FormatArg(WStringView text) : kind_(Kind::kText), text_(text) {}     // NOLINT
  FormatArg(const WString& text) : kind_(Kind::kText), text_(text) {}  // NOLINT
  FormatArg(const char16_t* text)                                      // NOLINT
      : kind_(Kind::kText), text_(text != nullptr ? WStringView(text) : WStringView()) {}

  Kind kind() const { return kind_; }
  std::int64_t AsSigned() const;
  std::uint64_t AsUnsigned() const;
  WStringView AsText() const { return text_; }

 private:
  Kind kind_;
  std::int64_t signed_ = 0;
  std::uint64_t unsigned_ = 0;
  WStringView text_;
};

using FormatArgs = std::span<const FormatArg>;

/// Formats like swprintf with the platform's conventions: flags - + blank 0 #, width and
/// precision (digits or *), length modifiers h hh l ll I32 I64 z j t (sizes taken from the
/// modifier: %hu prints the low 16 bits), conversions d i u x X o c s %.
/// %s takes a text; %c a character code. A missing argument prints nothing; an argument of
/// the other kind is converted (a text given to %d prints as text).
WString FormatV(WStringView format, FormatArgs args);

/// Appends to out; avoids a temporary for callers that build a line piece by piece.
void AppendFormatV(WString& out, WStringView format, FormatArgs args);

template <class... Args>
WString Format(WStringView format, const Args&... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
  return FormatV(format, FormatArgs(list, sizeof...(Args)));
}

}  // namespace srctally
