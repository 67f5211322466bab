// Error wording, local date and time, and character walking on POSIX.
#include "platform/system_text.h"

#include <locale.h>
#include <time.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/status.h"
#include "base/text.h"
#include "platform/last_error.h"

namespace srctally::platform {
namespace {

// The errno whose wording stands for a Win32 system code (the inverse of the errno mapping).
struct CodeToErrno {
  std::uint32_t code;
  int errorNumber;
};
constexpr CodeToErrno kCodeToErrno[] = {
    {0, 0},           {2, ENOENT},   {3, ENOENT},         {4, EMFILE},         {5, EACCES},
    {6, EBADF},       {11, ENOEXEC}, {13, EILSEQ},        {14, ENOMEM},        {17, EXDEV},
    {19, EROFS},      {20, ENODEV},  {25, ESPIPE},        {32, ETXTBSY},       {50, ENOTSUP},
    {80, EEXIST},     {87, EINVAL},  {109, EPIPE},        {111, ENAMETOOLONG}, {112, ENOSPC},
    {120, ENOSYS},    {128, ECHILD}, {145, ENOTEMPTY},    {161, EISDIR},       {167, ENOLCK},
    {170, EBUSY},     {183, EEXIST}, {206, ENAMETOOLONG}, {267, ENOTDIR},      {487, EFAULT},
    {534, EOVERFLOW}, {1003, EINTR}, {1117, EIO},         {1142, EMLINK},      {1921, ELOOP},
};

// Codes without an errno counterpart, and the HRESULTs the program reports.
struct CodeText {
  std::uint32_t code;
  const char* text;
};
constexpr CodeText kCodeTexts[] = {
    {1, "Incorrect function"},
    {18, "No more files"},
    {31, "A device attached to the system is not functioning"},
    {122, "The data area passed to a system call is too small"},
    {259, "No more data is available"},
    {0x80004001u, "Not implemented"},
    {0x80004003u, "Invalid pointer"},
    {0x80004004u, "Operation aborted"},
    {0x80004005u, "Unspecified error"},
    {0x8000FFFFu, "Catastrophic failure"},
};

constexpr std::uint32_t kMessageNotFound = 317;  // ERROR_MR_MID_NOT_FOUND

// strerror_r comes in a GNU flavour (returns the text) and an XSI one (fills the buffer).
[[maybe_unused]] const char* PickText(int result, const char* buffer) {
  return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* PickText(const char* result, const char*) { return result; }

const char* LookUpText(std::uint32_t code, char (&scratch)[256]) {
  for (const CodeText& row : kCodeTexts) {
    if (row.code == code) return row.text;
  }
  for (const CodeToErrno& row : kCodeToErrno) {
    if (row.code == code)
      return PickText(::strerror_r(row.errorNumber, scratch, sizeof scratch), scratch);
  }
  return nullptr;
}

// Copies text with its NUL into buffer; 0 and last error 122 when it does not fit.
std::uint32_t CopyOut(const WString& text, char16_t* buffer, std::uint32_t capacity) {
  if (text.size() + 1 > capacity) {
    SetLastErrorCode(win32err::kInsufficientBuffer);
    return 0;
  }
  std::memcpy(buffer, text.data(), text.size() * sizeof(char16_t));
  buffer[text.size()] = u'\0';
  return static_cast<std::uint32_t>(text.size() + 1);
}

// The user's time formats (LC_TIME from the environment); the C locale when it is unset or
// unknown. Built once; newlocale is not cheap.
locale_t UserTimeLocale() {
  static const locale_t locale = [] {
    locale_t user = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    return user != static_cast<locale_t>(nullptr)
               ? user
               : ::newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
  }();
  return locale;
}

std::uint32_t FormatTime(const LocalTime& time, const char* pattern, char16_t* buffer,
                         std::uint32_t capacity) {
  struct tm parts {};
  parts.tm_year = time.year - 1900;
  parts.tm_mon = time.month - 1;
  parts.tm_mday = time.day;
  parts.tm_wday = time.dayOfWeek;
  parts.tm_hour = time.hour;
  parts.tm_min = time.minute;
  parts.tm_sec = time.second;
  parts.tm_isdst = -1;
  char narrow[256];
  const std::size_t length = ::strftime_l(narrow, sizeof narrow, pattern, &parts, UserTimeLocale());
  if (length == 0) {
    SetLastErrorCode(win32err::kInsufficientBuffer);
    return 0;
  }
  return CopyOut(FromUtf8Lossless(std::string_view(narrow, length)), buffer, capacity);
}

}  // namespace

bool FormatSystemMessage(std::uint32_t code, char16_t* buffer, std::uint32_t capacity) {
  char scratch[256];
  const char* text = LookUpText(code, scratch);
  if (text == nullptr) {
    SetLastErrorCode(kMessageNotFound);
    return false;
  }
  if (capacity == 0) return false;
  const WString wide = FromUtf8Lossless(text);
  const std::size_t length = wide.size() < capacity ? wide.size() : capacity - 1;
  std::memcpy(buffer, wide.data(), length * sizeof(char16_t));
  buffer[length] = u'\0';
  return true;
}

const char16_t* NextCharacter(const char16_t* text) {
  if (*text == u'\0') return text;
  if (*text >= 0xD800 && *text <= 0xDBFF && text[1] >= 0xDC00 && text[1] <= 0xDFFF) return text + 2;
  return text + 1;
}

namespace {

// Reads the real-time clock and splits it into fields with split (localtime_r or gmtime_r).
template <class Split>
bool ReadCalendarTime(LocalTime& time, Split split) {
  struct timespec now {};
  struct tm parts {};
  if (::clock_gettime(CLOCK_REALTIME, &now) != 0 || split(&now.tv_sec, &parts) == nullptr) {
    SetLastErrorCode(Win32ErrorFromErrno(errno));
    return false;
  }
  time.year = parts.tm_year + 1900;
  time.month = parts.tm_mon + 1;
  time.day = parts.tm_mday;
  time.dayOfWeek = parts.tm_wday;
  time.hour = parts.tm_hour;
  time.minute = parts.tm_min;
  time.second = parts.tm_sec;
  time.milliseconds = static_cast<int>(now.tv_nsec / 1000000);
  return true;
}

}  // namespace

bool ReadLocalTime(LocalTime& time) { return ReadCalendarTime(time, ::localtime_r); }

bool ReadUniversalTime(LocalTime& time) { return ReadCalendarTime(time, ::gmtime_r); }

std::uint32_t FormatLocalDate(const LocalTime& time, char16_t* buffer, std::uint32_t capacity) {
  return FormatTime(time, "%x", buffer, capacity);
}

std::uint32_t FormatLocalTimeOfDay(const LocalTime& time, char16_t* buffer,
                                   std::uint32_t capacity) {
  return FormatTime(time, "%X", buffer, capacity);
}

}  // namespace srctally::platform
