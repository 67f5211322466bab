// Status codes shared by every layer: HRESULT-style results and Win32 system error codes.
#pragma once

#include <cstdint>

namespace srctally {

/// An HRESULT-style status: 0 and positive values succeed, negative values fail.
using HResult = std::int32_t;

/// Named HRESULT values. The Windows SDK defines the same names as macros, so ours live in
/// a namespace with a k prefix and never collide with <windows.h>.
namespace hr {
inline constexpr HResult kOk = 0;
inline constexpr HResult kFalse = 1;
inline constexpr HResult kFail = static_cast<HResult>(0x80004005u);
inline constexpr HResult kPointer = static_cast<HResult>(0x80004003u);
inline constexpr HResult kHandle = static_cast<HResult>(0x80070006u);
inline constexpr HResult kInvalidArg = static_cast<HResult>(0x80070057u);
inline constexpr HResult kOutOfMemory = static_cast<HResult>(0x8007000Eu);
}  // namespace hr

/// Win32 system error codes used by the program. The POSIX layer maps errno values onto
/// these, so messages and exit codes read the same on every platform.
namespace win32err {
inline constexpr std::uint32_t kSuccess = 0;
inline constexpr std::uint32_t kInvalidFunction = 1;
inline constexpr std::uint32_t kFileNotFound = 2;
inline constexpr std::uint32_t kPathNotFound = 3;
inline constexpr std::uint32_t kTooManyOpenFiles = 4;
inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kInvalidHandle = 6;
inline constexpr std::uint32_t kBadFormat = 11;
inline constexpr std::uint32_t kWriteFault = 29;
inline constexpr std::uint32_t kInvalidData = 13;
inline constexpr std::uint32_t kOutOfMemory = 14;
inline constexpr std::uint32_t kNoMoreFiles = 18;
inline constexpr std::uint32_t kSharingViolation = 32;
inline constexpr std::uint32_t kNotSupported = 50;
inline constexpr std::uint32_t kFileExists = 80;
inline constexpr std::uint32_t kInvalidParameter = 87;
inline constexpr std::uint32_t kBufferOverflow = 111;
inline constexpr std::uint32_t kInsufficientBuffer = 122;
inline constexpr std::uint32_t kInvalidName = 123;
inline constexpr std::uint32_t kAlreadyExists = 183;
inline constexpr std::uint32_t kNoMoreItems = 259;
inline constexpr std::uint32_t kDirectory = 267;
inline constexpr std::uint32_t kArithmeticOverflow = 534;
inline constexpr std::uint32_t kCantResolveFilename = 1921;
}  // namespace win32err

/// HRESULT_FROM_WIN32: zero and negative codes pass unchanged, others get facility 7.
constexpr HResult HResultFromWin32(std::uint32_t code) {
  return static_cast<HResult>(code) <= 0 ? static_cast<HResult>(code)
                                         : static_cast<HResult>((code & 0xFFFFu) | 0x80070000u);
}

constexpr bool Failed(HResult status) { return status < 0; }
constexpr bool Succeeded(HResult status) { return status >= 0; }

}  // namespace srctally
