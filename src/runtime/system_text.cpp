// System error text with its code, local date-time stamps, and the errno table.
#include "runtime/system_text.h"

#include <cstddef>

#include "base/text.h"
#include "platform/last_error.h"
#include "platform/system_text.h"

namespace srctally {

// C library error numbers as the Windows C runtime numbers them, paired with the system
// error code a failure of that kind reports.
const ErrnoMapping kErrnoTable[39] = {
    {1, 5},            // EPERM: ERROR_ACCESS_DENIED
    {2, 2},            // ENOENT: ERROR_FILE_NOT_FOUND
    {3, 2},            // ESRCH: ERROR_FILE_NOT_FOUND
    {4, 1003},         // EINTR: ERROR_CAN_NOT_COMPLETE
    {5, 1117},         // EIO: ERROR_IO_DEVICE
    {6, 20},           // ENXIO: ERROR_BAD_UNIT
    {7, 87},           // E2BIG: ERROR_INVALID_PARAMETER
    {8, 11},           // ENOEXEC: ERROR_BAD_FORMAT
    {9, 6},            // EBADF: ERROR_INVALID_HANDLE
    {10, 128},         // ECHILD: ERROR_WAIT_NO_CHILDREN
    {11, 14},          // EAGAIN: ERROR_OUTOFMEMORY
    {12, 14},          // ENOMEM: ERROR_OUTOFMEMORY
    {13, 5},           // EACCES: ERROR_ACCESS_DENIED
    {14, 487},         // EFAULT: ERROR_INVALID_ADDRESS
    {16, 170},         // EBUSY: ERROR_BUSY
    {17, 80},          // EEXIST: ERROR_FILE_EXISTS
    {18, 17},          // EXDEV: ERROR_NOT_SAME_DEVICE
    {19, 20},          // ENODEV: ERROR_BAD_UNIT
    {20, 267},         // ENOTDIR: ERROR_DIRECTORY
    {21, 161},         // EISDIR: ERROR_BAD_PATHNAME
    {22, 87},          // EINVAL: ERROR_INVALID_PARAMETER
    {23, 4},           // ENFILE: ERROR_TOO_MANY_OPEN_FILES
    {24, 4},           // EMFILE: ERROR_TOO_MANY_OPEN_FILES
    {25, 1},           // ENOTTY: ERROR_INVALID_FUNCTION
    {27, 112},         // EFBIG: ERROR_DISK_FULL
    {28, 112},         // ENOSPC: ERROR_DISK_FULL
    {29, 25},          // ESPIPE: ERROR_SEEK
    {30, 19},          // EROFS: ERROR_WRITE_PROTECT
    {31, 1142},        // EMLINK: ERROR_TOO_MANY_LINKS
    {32, 109},         // EPIPE: ERROR_BROKEN_PIPE
    {33, 87},          // EDOM: ERROR_INVALID_PARAMETER
    {34, 534},         // ERANGE: ERROR_ARITHMETIC_OVERFLOW
    {36, 32},          // EDEADLK: ERROR_SHARING_VIOLATION
    {38, 111},         // ENAMETOOLONG: ERROR_BUFFER_OVERFLOW
    {39, 167},         // ENOLCK: ERROR_LOCK_FAILED
    {40, 120},         // ENOSYS: ERROR_CALL_NOT_IMPLEMENTED
    {41, 145},         // ENOTEMPTY: ERROR_DIR_NOT_EMPTY
    {42, 13},          // EILSEQ: ERROR_INVALID_DATA
    {80, 0x000401A0},  // STRUNCATE: (truncation)
};

namespace {

bool IsTrailingBreak(char16_t ch) {
  return ch == u'\r' || ch == u'\n' || ch == u'\t' || ch == u' ';
}

// Cuts the last run of line breaks, tabs and blanks, walking the text character by character
// as the platform defines characters.
void CutTrailingBreaks(char16_t* text) {
  char16_t* runStart = nullptr;
  for (char16_t* p = text; *p != u'\0';) {
    if (!IsTrailingBreak(*p)) {
      runStart = nullptr;
    } else if (runStart == nullptr) {
      runStart = p;
    }
    p = const_cast<char16_t*>(platform::NextCharacter(p));
  }
  if (runStart != nullptr) *runStart = u'\0';
}

// Appends suffix to the NUL-terminated text in buffer, truncating it to the buffer.
void AppendBounded(SystemTextBuffer& buffer, WStringView suffix) {
  std::size_t length = 0;
  while (length < kSystemTextCapacity && buffer[length] != u'\0') ++length;
  if (length >= kSystemTextCapacity) return;
  for (char16_t ch : suffix) {
    if (length + 1 >= kSystemTextCapacity) break;
    buffer[length++] = ch;
  }
  buffer[length] = u'\0';
}

// " (%d)" of a 16-bit value, without allocating.
std::size_t FormatDecimalSuffix(std::uint32_t value, char16_t (&out)[30]) {
  char16_t digits[8];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  std::size_t length = 0;
  out[length++] = u' ';
  out[length++] = u'(';
  while (count > 0) out[length++] = digits[--count];
  out[length++] = u')';
  return length;
}

// " (0x%08X)", without allocating.
std::size_t FormatHexSuffix(std::uint32_t value, char16_t (&out)[30]) {
  const char16_t* hex = u"0123456789ABCDEF";
  std::size_t length = 0;
  for (char16_t ch : WStringView(u" (0x")) out[length++] = ch;
  for (int shift = 28; shift >= 0; shift -= 4) out[length++] = hex[(value >> shift) & 0xFu];
  out[length++] = u')';
  return length;
}

}  // namespace

void FinishSystemErrorText(std::uint32_t code, SystemTextBuffer& buffer) {
  buffer[kSystemTextCapacity - 1] = u'\0';
  CutTrailingBreaks(buffer);
  char16_t suffix[30];
  const bool decimal = CarriesSystemErrorCode(code) || code <= 0xFFFFu;
  const std::size_t length =
      decimal ? FormatDecimalSuffix(code & 0xFFFFu, suffix) : FormatHexSuffix(code, suffix);
  AppendBounded(buffer, WStringView(suffix, length));
}

bool GetSystemErrorText(std::uint32_t code, SystemTextBuffer& buffer) {
  const std::uint32_t lookup = CarriesSystemErrorCode(code) ? (code & 0xFFFFu) : code;
  if (!platform::FormatSystemMessage(lookup, buffer, kSystemTextCapacity)) return false;
  FinishSystemErrorText(code, buffer);
  return true;
}

std::uint32_t GetLocalDateTimeText(SystemTextBuffer& buffer) {
  platform::LocalTime now;
  if (!platform::ReadLocalTime(now)) return 0;
  return ComposeDateTimeText(
      buffer,
      [&now](char16_t* out, std::uint32_t capacity) {
        return platform::FormatLocalDate(now, out, capacity);
      },
      [&now](char16_t* out, std::uint32_t capacity) {
        return platform::FormatLocalTimeOfDay(now, out, capacity);
      });
}

bool FormatUtcTimeStamp(const platform::LocalTime& time, TimeStampBuffer& buffer) {
  buffer[0] = '\0';
  const struct {
    int value, low, high, digits;
    char after;
  } fields[] = {
      {time.year, 0, 9999, 4, '-'}, {time.month, 1, 12, 2, '-'},  {time.day, 1, 31, 2, 'T'},
      {time.hour, 0, 23, 2, ':'},   {time.minute, 0, 59, 2, ':'}, {time.second, 0, 60, 2, 'Z'},
  };
  for (const auto& field : fields) {
    if (field.value < field.low || field.value > field.high) return false;
  }
  std::size_t at = 0;
  for (const auto& field : fields) {
    int rest = field.value;
    for (int digit = field.digits - 1; digit >= 0; --digit) {
      buffer[at + static_cast<std::size_t>(digit)] = static_cast<char>('0' + rest % 10);
      rest /= 10;
    }
    at += static_cast<std::size_t>(field.digits);
    buffer[at++] = field.after;
  }
  buffer[at] = '\0';
  return true;
}

bool GetUtcTimeStamp(TimeStampBuffer& buffer) {
  buffer[0] = '\0';
  platform::LocalTime now;
  return platform::ReadUniversalTime(now) && FormatUtcTimeStamp(now, buffer);
}

void SetLastErrorFromErrno(int errorNumber) {
  for (const ErrnoMapping& row : kErrnoTable) {
    if (row.errorNumber == errorNumber) platform::SetLastErrorCode(row.systemCode);
  }
}

}  // namespace srctally
