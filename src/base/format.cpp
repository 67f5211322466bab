// The type-safe formatter behind every printf-style text of the program.
#include "base/format.h"

#include <algorithm>
#include <limits>

namespace srctally {

std::int64_t FormatArg::AsSigned() const {
  return kind_ == Kind::kSigned ? signed_ : static_cast<std::int64_t>(unsigned_);
}

std::uint64_t FormatArg::AsUnsigned() const {
  return kind_ == Kind::kSigned ? static_cast<std::uint64_t>(signed_) : unsigned_;
}

namespace {

struct Field {
  bool left = false, plus = false, blank = false, zero = false, alt = false;
  int width = 0;
  int precision = -1;
  int bits = 32;  // size of the integer the conversion reads
  char16_t conversion = 0;
};

class ArgCursor {
 public:
  explicit ArgCursor(FormatArgs args) : args_(args) {}
  const FormatArg* Next() { return index_ < args_.size() ? &args_[index_++] : nullptr; }
  int NextInt() {
    const FormatArg* arg = Next();
    return arg != nullptr ? static_cast<int>(arg->AsSigned()) : 0;
  }

 private:
  FormatArgs args_;
  std::size_t index_ = 0;
};

std::uint64_t Truncate(std::uint64_t value, int bits) {
  return bits >= 64 ? value : value & ((std::uint64_t{1} << bits) - 1);
}

std::int64_t SignExtend(std::uint64_t value, int bits) {
  if (bits >= 64) return static_cast<std::int64_t>(value);
  const std::uint64_t v = Truncate(value, bits);
  const std::uint64_t sign = std::uint64_t{1} << (bits - 1);
  return static_cast<std::int64_t>((v ^ sign) - sign);
}

WString Digits(std::uint64_t value, unsigned base, bool upper) {
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  WString digits;
  do {
    digits += static_cast<char16_t>(set[value % base]);
    value /= base;
  } while (value != 0);
  std::reverse(digits.begin(), digits.end());
  return digits;
}

void Pad(WString& out, WStringView prefix, WStringView body, const Field& field, bool zeroPad) {
  const std::size_t len = prefix.size() + body.size();
  const std::size_t width = field.width > 0 ? static_cast<std::size_t>(field.width) : 0;
  const std::size_t fill = width > len ? width - len : 0;
  if (field.left) {
    out.append(prefix).append(body).append(fill, u' ');
  } else if (zeroPad) {
    out.append(prefix).append(fill, u'0').append(body);
  } else {
    out.append(fill, u' ').append(prefix).append(body);
  }
}

void FormatInteger(WString& out, const Field& field, const FormatArg& arg) {
  WString prefix;
  std::uint64_t magnitude = 0;
  unsigned base = 10;
  const bool isSigned = field.conversion == u'd' || field.conversion == u'i';
  if (isSigned) {
    const std::int64_t value = SignExtend(arg.AsUnsigned(), field.bits);
    magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    if (value < 0) {
      prefix = u"-";
    } else if (field.plus) {
      prefix = u"+";
    } else if (field.blank) {
      prefix = u" ";
    }
  } else {
    magnitude = Truncate(arg.AsUnsigned(), field.bits);
    if (field.conversion == u'x' || field.conversion == u'X') base = 16;
    if (field.conversion == u'o') base = 8;
    if (field.alt && base == 16 && magnitude != 0)
      prefix = field.conversion == u'X' ? u"0X" : u"0x";
    if (field.alt && base == 8) prefix = u"0";
  }
  WString body = Digits(magnitude, base, field.conversion == u'X');
  if (field.precision >= 0) {
    if (field.precision == 0 && magnitude == 0) body.clear();
    if (body.size() < static_cast<std::size_t>(field.precision)) {
      body.insert(0, static_cast<std::size_t>(field.precision) - body.size(), u'0');
    }
  }
  Pad(out, prefix, body, field, field.zero && !field.left && field.precision < 0);
}

void FormatArgument(WString& out, const Field& field, const FormatArg* arg) {
  if (arg == nullptr) return;  // more conversions than arguments: print nothing
  switch (field.conversion) {
    case u's': {
      WString owned;
      WStringView text = arg->AsText();
      if (arg->kind() != FormatArg::Kind::kText) {
        owned = FormatV(u"%I64d", FormatArgs(arg, 1));
        text = owned;
      }
      if (field.precision >= 0 && text.size() > static_cast<std::size_t>(field.precision)) {
        text = text.substr(0, static_cast<std::size_t>(field.precision));
      }
      Pad(out, {}, text, field, false);
      return;
    }
    case u'c': {
      if (arg->kind() == FormatArg::Kind::kText) {
        Pad(out, {}, arg->AsText().substr(0, 1), field, false);
      } else {
        const char16_t ch = static_cast<char16_t>(arg->AsUnsigned());
        Pad(out, {}, WStringView(&ch, 1), field, false);
      }
      return;
    }
    default:
      if (arg->kind() == FormatArg::Kind::kText) {
        Pad(out, {}, arg->AsText(), field, false);
      } else {
        FormatInteger(out, field, *arg);
      }
  }
}

// Reads the decimal digits at format[i] into value. False when the number does not fit
// an int: such a field is no conversion, and accumulating further would overflow.
bool ReadNumber(WStringView format, std::size_t& i, int& value) {
  constexpr int kMax = std::numeric_limits<int>::max();
  bool fits = true;
  for (; i < format.size() && format[i] >= u'0' && format[i] <= u'9'; ++i) {
    const int digit = format[i] - u'0';
    if (value > (kMax - digit) / 10) fits = false;
    if (fits) value = value * 10 + digit;
  }
  return fits;
}

bool IsConversion(char16_t ch) {
  return ch == u'd' || ch == u'i' || ch == u'u' || ch == u'x' || ch == u'X' || ch == u'o' ||
         ch == u'c' || ch == u's';
}

}  // namespace

void AppendFormatV(WString& out, WStringView format, FormatArgs args) {
  ArgCursor cursor(args);
  std::size_t i = 0;
  const std::size_t n = format.size();
  while (i < n) {
    // The text up to the next conversion goes in as one piece.
    const std::size_t percent = std::min(format.find(u'%', i), n);
    if (percent > i) {
      out.append(format.substr(i, percent - i));
      i = percent;
      continue;
    }
    ++i;  // past the '%'
    if (i < n && format[i] == u'%') {
      out += u'%';
      ++i;
      continue;
    }
    const std::size_t start = i - 1;
    Field field;
    for (; i < n; ++i) {
      const char16_t f = format[i];
      if (f == u'-')
        field.left = true;
      else if (f == u'+')
        field.plus = true;
      else if (f == u' ')
        field.blank = true;
      else if (f == u'0')
        field.zero = true;
      else if (f == u'#')
        field.alt = true;
      else
        break;
    }
    bool fits = true;  // width and precision fit an int
    if (i < n && format[i] == u'*') {
      field.width = cursor.NextInt();
      if (field.width < 0) {
        field.left = true;
        // The most negative width has no positive counterpart.
        field.width = field.width == std::numeric_limits<int>::min() ? 0 : -field.width;
        fits = field.width != 0;
      }
      ++i;
    } else {
      fits = ReadNumber(format, i, field.width);
    }
    if (i < n && format[i] == u'.') {
      ++i;
      field.precision = 0;
      if (i < n && format[i] == u'*') {
        field.precision = cursor.NextInt();
        ++i;
      } else {
        fits = ReadNumber(format, i, field.precision) && fits;
      }
    }
    // Length modifiers decide how many bits of the argument the conversion reads.
    if (format.substr(i, 3) == u"I64")
      field.bits = 64, i += 3;
    else if (format.substr(i, 3) == u"I32")
      field.bits = 32, i += 3;
    else if (format.substr(i, 2) == u"hh")
      field.bits = 8, i += 2;
    else if (format.substr(i, 2) == u"ll")
      field.bits = 64, i += 2;
    else if (i < n && format[i] == u'h')
      field.bits = 16, ++i;
    else if (i < n && (format[i] == u'l' || format[i] == u'w'))
      ++i;
    else if (i < n &&
             (format[i] == u'z' || format[i] == u'j' || format[i] == u't' || format[i] == u'I'))
      field.bits = 64, ++i;
    if (i >= n || !IsConversion(format[i]) || !fits) {
      out.append(format.substr(start, i - start));  // not a conversion: keep the text as it is
      continue;
    }
    field.conversion = format[i++];
    FormatArgument(out, field, cursor.Next());
  }
}

WString FormatV(WStringView format, FormatArgs args) {
  WString out;
  AppendFormatV(out, format, args);
  return out;
}

}  // namespace srctally
