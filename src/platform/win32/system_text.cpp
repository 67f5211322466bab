// Error wording, local date and time, and character walking through the Windows API.
#include "platform/system_text.h"

#include <windows.h>

namespace srctally::platform {
namespace {

constexpr DWORD kFromSystemIgnoreInserts =
    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

SYSTEMTIME ToSystemTime(const LocalTime& time) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(time.year);
  st.wMonth = static_cast<WORD>(time.month);
  st.wDay = static_cast<WORD>(time.day);
  st.wDayOfWeek = static_cast<WORD>(time.dayOfWeek);
  st.wHour = static_cast<WORD>(time.hour);
  st.wMinute = static_cast<WORD>(time.minute);
  st.wSecond = static_cast<WORD>(time.second);
  st.wMilliseconds = static_cast<WORD>(time.milliseconds);
  return st;
}

LocalTime FromSystemTime(const SYSTEMTIME& st) {
  LocalTime time;
  time.year = st.wYear;
  time.month = st.wMonth;
  time.day = st.wDay;
  time.dayOfWeek = st.wDayOfWeek;
  time.hour = st.wHour;
  time.minute = st.wMinute;
  time.second = st.wSecond;
  time.milliseconds = st.wMilliseconds;
  return time;
}

wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

}  // namespace

bool FormatSystemMessage(std::uint32_t code, char16_t* buffer, std::uint32_t capacity) {
  return ::FormatMessageW(kFromSystemIgnoreInserts, nullptr, code, LANG_USER_DEFAULT, Wide(buffer),
                          capacity, nullptr) != 0;
}

const char16_t* NextCharacter(const char16_t* text) {
  return reinterpret_cast<const char16_t*>(::CharNextW(reinterpret_cast<const wchar_t*>(text)));
}

bool ReadLocalTime(LocalTime& time) {
  SYSTEMTIME st{};
  ::GetLocalTime(&st);
  time = FromSystemTime(st);
  return true;
}

bool ReadUniversalTime(LocalTime& time) {
  SYSTEMTIME st{};
  ::GetSystemTime(&st);
  time = FromSystemTime(st);
  return true;
}

std::uint32_t FormatLocalDate(const LocalTime& time, char16_t* buffer, std::uint32_t capacity) {
  const SYSTEMTIME st = ToSystemTime(time);
  return static_cast<std::uint32_t>(::GetDateFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr,
                                                     Wide(buffer), static_cast<int>(capacity)));
}

std::uint32_t FormatLocalTimeOfDay(const LocalTime& time, char16_t* buffer,
                                   std::uint32_t capacity) {
  const SYSTEMTIME st = ToSystemTime(time);
  return static_cast<std::uint32_t>(::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr,
                                                     Wide(buffer), static_cast<int>(capacity)));
}

}  // namespace srctally::platform
