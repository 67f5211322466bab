// Readable text for system error codes, the local date and time stamp, the UTC time stamp
// of ISO 8601, and the translation of C library error numbers into system error codes. All
// work on caller buffers and never allocate.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "platform/last_error.h"
#include "platform/system_text.h"

namespace srctally {

/// Capacity of the error and date text buffers, the terminating NUL included.
inline constexpr std::uint32_t kSystemTextCapacity = 256;
using SystemTextBuffer = char16_t[kSystemTextCapacity];

/// Whether an HRESULT carries a plain system error code in its low 16 bits (bits 16 to 28
/// equal facility 7); bit 28 set or any other facility does not.
constexpr bool CarriesSystemErrorCode(std::uint32_t code) {
  return (code & 0x1FFF0000u) == 0x00070000u;
}

/// Writes the system's text for code followed by its number, " (%d)" for a system code or a
/// code up to 0xFFFF, " (0x%08X)" for any other HRESULT. Trailing "\r\n\t " is cut before
/// the number. False, with the platform's last error kept, when the system has no text.
bool GetSystemErrorText(std::uint32_t code, SystemTextBuffer& buffer);

/// The finishing steps of GetSystemErrorText on a message already in buffer: cuts the
/// trailing line breaks, tabs and blanks and appends the code suffix (bounded by the buffer).
void FinishSystemErrorText(std::uint32_t code, SystemTextBuffer& buffer);

/// Writes the local date, one blank and the local time in the user's formats. Returns the
/// length of that text plus one (its NUL), or 0 on failure with the last error set: 122
/// when the date leaves no room for the time.
std::uint32_t GetLocalDateTimeText(SystemTextBuffer& buffer);

/// Joins a date and a time text in buffer the way GetLocalDateTimeText does. Each
/// formatter is called as f(char16_t* out, std::uint32_t capacity) and returns the
/// characters it wrote with their NUL, 0 on failure.
template <class DateFormatter, class TimeFormatter>
std::uint32_t ComposeDateTimeText(SystemTextBuffer& buffer, DateFormatter formatDate,
                                  TimeFormatter formatTime);

/// Room for a UTC time stamp, "2026-12-10T03:04:05Z", with its NUL.
using TimeStampBuffer = char[21];

/// Writes time, a UTC reading, as an ISO 8601 time stamp to the second:
/// "YYYY-MM-DDTHH:MM:SSZ". False, with buffer empty, when a field is out of its range
/// (years 0 to 9999, a second of 60 allowed for a leap second), so a broken clock gives no
/// stamp rather than a malformed one.
bool FormatUtcTimeStamp(const platform::LocalTime& time, TimeStampBuffer& buffer);

/// The current UTC time as FormatUtcTimeStamp writes it. False, with buffer empty, when
/// the clock cannot be read or gives a time out of range.
bool GetUtcTimeStamp(TimeStampBuffer& buffer);

/// Sets the last error to the system code the errno table pairs with errorNumber (numbers
/// as the Windows C runtime numbers them: ERANGE 34, STRUNCATE 80). A number not in the
/// table leaves the last error unchanged.
void SetLastErrorFromErrno(int errorNumber);

/// One row of the errno table.
struct ErrnoMapping {
  int errorNumber;
  std::uint32_t systemCode;
};

/// The 39 rows of the errno table, for callers that need the mapping without the side effect.
extern const ErrnoMapping kErrnoTable[39];

template <class DateFormatter, class TimeFormatter>
std::uint32_t ComposeDateTimeText(SystemTextBuffer& buffer, DateFormatter formatDate,
                                  TimeFormatter formatTime) {
  const std::uint32_t dateCount = formatDate(buffer, kSystemTextCapacity);
  if (dateCount == 0) return 0;
  if (kSystemTextCapacity - dateCount < 1) {
    platform::SetLastErrorCode(win32err::kInsufficientBuffer);
    return 0;
  }
  buffer[dateCount - 1] = u' ';
  const std::uint32_t timeCount = formatTime(buffer + dateCount, kSystemTextCapacity - dateCount);
  if (timeCount == 0) return 0;
  return dateCount + timeCount;
}

}  // namespace srctally
