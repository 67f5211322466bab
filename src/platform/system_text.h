// The platform's wording of error codes, its local and universal time, its local date and
// time formats, and the string walk the error-text trimming uses.
#pragma once

#include <cstdint>

namespace srctally::platform {

/// Writes the system's message for code (a Win32 system error code or an HRESULT) into
/// buffer, NUL-terminated, at most capacity characters with the NUL. The text may end in
/// line breaks or blanks. False, with the last error set, when the system has no text.
bool FormatSystemMessage(std::uint32_t code, char16_t* buffer, std::uint32_t capacity);

/// The next character position after text (one code unit, or more where the platform treats
/// a pair or a combining sequence as one character). Never walks past the NUL.
const char16_t* NextCharacter(const char16_t* text);

/// A local wall-clock reading, read once and then formatted twice (date, time).
struct LocalTime {
  int year = 0, month = 0, day = 0, dayOfWeek = 0;
  int hour = 0, minute = 0, second = 0, milliseconds = 0;
};

/// The current local time. False, with the last error set, when it cannot be read.
bool ReadLocalTime(LocalTime& time);

/// The current time in UTC, in the same fields (a time stamp that reads the same in every
/// time zone). False, with the last error set, when it cannot be read.
bool ReadUniversalTime(LocalTime& time);

/// Writes the date of time in the user's short date format into buffer (NUL-terminated).
/// Returns the characters written with the NUL, 0 on failure (last error set; 122 when
/// capacity is too small).
std::uint32_t FormatLocalDate(const LocalTime& time, char16_t* buffer, std::uint32_t capacity);

/// The same for the time of day in the user's time format, seconds included.
std::uint32_t FormatLocalTimeOfDay(const LocalTime& time, char16_t* buffer, std::uint32_t capacity);

}  // namespace srctally::platform
