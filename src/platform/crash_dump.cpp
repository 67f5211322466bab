// Dump path composition and the crash settings. Everything that may run after a crash works
// in fixed buffers: no allocation, no locks, no locale.
#include "platform/crash_dump.h"

namespace srctally {
namespace {

CrashNotification crashNotification = nullptr;
CrashIdentityProvider crashIdentityProvider = nullptr;

/// Appends to a fixed buffer and remembers whether anything did not fit.
class BoundedAppender {
 public:
  explicit BoundedAppender(DumpPath& path) : path_(path) {}

  void Append(WStringView text) {
    for (char16_t ch : text) Put(ch);
  }
  void Append(const char16_t* literal) { Append(WStringView(literal)); }

  /// Appends a separator unless the text already ends with one, then the component.
  void AppendComponent(WStringView component, char16_t separator) {
    if (path_.length == 0 || path_.text[path_.length - 1] != separator) Put(separator);
    Append(component);
  }

  /// Appends value in decimal, padded on the left with pad to at least width digits.
  void AppendNumber(unsigned value, int width, char16_t pad) {
    char16_t digits[12];
    int count = 0;
    do {
      digits[count++] = static_cast<char16_t>(u'0' + value % 10);
      value /= 10;
    } while (value != 0);
    for (int i = count; i < width; ++i) Put(pad);
    while (count > 0) Put(digits[--count]);
  }

  /// Terminates the text; false when something did not fit.
  bool Finish() {
    if (overflow_ || path_.length >= kDumpPathCapacity) return false;
    path_.text[path_.length] = u'\0';
    return true;
  }

 private:
  void Put(char16_t ch) {
    // The last slot is kept for the terminating NUL.
    if (path_.length + 1 >= kDumpPathCapacity) {
      overflow_ = true;
      return;
    }
    path_.text[path_.length++] = ch;
  }

  DumpPath& path_;
  bool overflow_ = false;
};

unsigned AsUnsigned(int value) { return value < 0 ? 0u : static_cast<unsigned>(value); }

void Clear(DumpPath& path) {
  path.text[0] = u'\0';
  path.length = 0;
  path.folderCount = 0;
}

}  // namespace

WStringView TrimBlanks(WStringView text) {
  const std::size_t first = text.find_first_not_of(u' ');
  if (first == WStringView::npos) return {};
  return text.substr(first, text.find_last_not_of(u' ') - first + 1);
}

bool ComposeDumpPath(WStringView localAppData, char16_t separator, const CrashIdentity& identity,
                     const DumpTime& time, WStringView archSuffix, DumpPath& path) {
  Clear(path);
  if (localAppData.empty() || identity.programFileName.empty()) return false;
  BoundedAppender out(path);
  out.Append(localAppData);
  for (WStringView folder : {TrimBlanks(identity.companyName), TrimBlanks(identity.productName)}) {
    if (folder.empty()) continue;
    out.AppendComponent(folder, separator);
    path.folderLengths[path.folderCount++] = path.length;
  }
  out.AppendComponent(identity.programFileName, separator);
  if (identity.hasVersion) {
    for (int part = 0; part < 4; ++part) {
      out.Append(part == 0 ? u"_" : u".");
      out.AppendNumber(identity.version[part], 1, u'0');
    }
    out.Append(archSuffix);
  }
  out.Append(u"_");
  out.AppendNumber(AsUnsigned(time.year), 4, u' ');
  out.Append(u"-");
  out.AppendNumber(AsUnsigned(time.month), 2, u'0');
  out.Append(u"-");
  out.AppendNumber(AsUnsigned(time.day), 2, u'0');
  out.Append(u"_");
  out.AppendNumber(AsUnsigned(time.hour), 2, u'0');
  out.AppendNumber(AsUnsigned(time.minute), 2, u'0');
  out.AppendNumber(AsUnsigned(time.second), 2, u'0');
  out.Append(u"_");
  out.AppendNumber(AsUnsigned(time.milliseconds), 3, u'0');
  out.Append(u".dmp");
  if (!out.Finish()) {
    Clear(path);
    return false;
  }
  return true;
}

DumpTime DumpTimeFromUnix(std::int64_t seconds, int milliseconds, std::int32_t utcOffsetSeconds) {
  constexpr std::int64_t kSecondsPerDay = 86400;
  const std::int64_t local = seconds + utcOffsetSeconds;
  std::int64_t days = local / kSecondsPerDay;
  std::int64_t secondOfDay = local % kSecondsPerDay;
  if (secondOfDay < 0) {
    secondOfDay += kSecondsPerDay;
    --days;
  }
  // Civil date from a day count (proleptic Gregorian calendar, eras of 400 years).
  const std::int64_t shifted = days + 719468;
  const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
  const std::int64_t dayOfEra = shifted - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;

  DumpTime time;
  time.year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
  time.month = static_cast<int>(month);
  time.day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  time.hour = static_cast<int>(secondOfDay / 3600);
  time.minute = static_cast<int>(secondOfDay / 60 % 60);
  time.second = static_cast<int>(secondOfDay % 60);
  time.milliseconds = milliseconds;
  return time;
}

std::size_t EncodeUtf8(const char16_t* text, char* out, std::size_t capacity) {
  const WStringView view(text);
  std::size_t used = 0;
  char bytes[kMaxUtf8CharBytes];
  for (std::size_t i = 0; i < view.size();) {
    const std::size_t length = EncodeUtf8Char(view, i, bytes);
    if (length >= capacity - used) return 0;  // the NUL must fit behind it
    for (std::size_t k = 0; k < length; ++k) out[used++] = bytes[k];
  }
  if (capacity == 0) return 0;
  out[used] = '\0';
  return used;
}

void SetCrashNotification(CrashNotification notification) { crashNotification = notification; }

CrashNotification GetCrashNotification() { return crashNotification; }

void SetCrashIdentityProvider(CrashIdentityProvider provider) { crashIdentityProvider = provider; }

CrashIdentityProvider GetCrashIdentityProvider() { return crashIdentityProvider; }

}  // namespace srctally
