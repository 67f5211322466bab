// Raw standard output and standard error lines on Windows.
#include "platform/byte_output.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/console_sink.h"

namespace srctally::platform {
namespace {

constexpr std::size_t kBufferLimit = 64 * 1024;
constexpr DWORD kWriteFault = 29;  // the code a write reports when the system gives none

class Win32StandardOutputBytes final : public IByteOutput {
 public:
  Win32StandardOutputBytes() : handle_(::GetStdHandle(STD_OUTPUT_HANDLE)) {
    // The document's bytes go out as they are: no CR before LF, no code page conversion.
    std::fflush(stdout);
    ::_setmode(::_fileno(stdout), _O_BINARY);
    pending_.reserve(kBufferLimit);
  }
  ~Win32StandardOutputBytes() override { Flush(); }

  bool Write(std::string_view bytes) override {
    if (failureCode_ != 0) return false;
    pending_.append(bytes);
    if (pending_.size() >= kBufferLimit) return Flush();
    return true;
  }
  bool Flush() override {
    std::string_view rest(pending_);
    while (failureCode_ == 0 && !rest.empty()) {
      const DWORD chunk = rest.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest.size());
      DWORD written = 0;
      if (handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) {
        failureCode_ = ERROR_INVALID_HANDLE;
      } else if (!::WriteFile(handle_, rest.data(), chunk, &written, nullptr)) {
        failureCode_ = ::GetLastError();
        if (failureCode_ == 0) failureCode_ = kWriteFault;
      } else if (written == 0) {
        failureCode_ = kWriteFault;
      } else {
        rest.remove_prefix(written);
      }
    }
    pending_.clear();
    return failureCode_ == 0;
  }
  bool Failed() const override { return failureCode_ != 0; }
  std::uint32_t FailureCode() const override { return failureCode_; }

 private:
  HANDLE handle_;
  std::string pending_;
  std::uint32_t failureCode_ = 0;
};

}  // namespace

std::unique_ptr<IByteOutput> CreateStandardOutputBytes() {
  return std::make_unique<Win32StandardOutputBytes>();
}

void WriteStandardError(WStringView text) {
  FlushStandardOutputSink();  // on a shared console or pipe the report's text comes first
  // The console sink keeps standard error in the C runtime's UTF-16 mode.
  const std::wstring wide(text.begin(), text.end());
  std::fputws(wide.c_str(), stderr);
  std::fflush(stderr);
}

std::string FileNameBytes(WStringView name) {
  // NTFS names are UTF-16: their stored form is the code units, little endian, which keeps
  // even an unpaired surrogate.
  std::string out;
  out.reserve(name.size() * 2);
  for (const char16_t unit : name) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
  return out;
}

}  // namespace srctally::platform
