// Raw standard output on Windows (standard error lines are written beside the console sink).
#include "platform/byte_output.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

namespace srctally::platform {
namespace {

class Win32StandardOutputBytes final : public CBufferedByteOutput {
 public:
  Win32StandardOutputBytes() : handle_(::GetStdHandle(STD_OUTPUT_HANDLE)) {
    // The document's bytes go out as they are: no CR before LF, no code page conversion.
    std::fflush(stdout);
    ::_setmode(::_fileno(stdout), _O_BINARY);
  }
  ~Win32StandardOutputBytes() override { Flush(); }

 private:
  std::uint32_t WriteOut(std::string_view bytes) override {
    if (handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
    while (!bytes.empty()) {
      const DWORD chunk =
          bytes.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes.size());
      DWORD written = 0;
      if (!::WriteFile(handle_, bytes.data(), chunk, &written, nullptr)) {
        const DWORD error = ::GetLastError();
        return error != 0 ? error : kWriteFault;
      }
      if (written == 0) return kWriteFault;
      bytes.remove_prefix(written);
    }
    return 0;
  }

  HANDLE handle_;
};

}  // namespace

std::unique_ptr<IByteOutput> CreateStandardOutputBytes() {
  return std::make_unique<Win32StandardOutputBytes>();
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

bool FileNameFromBytes(std::string_view bytes, WString& name) {
  if (bytes.size() % 2 != 0) return false;
  name.clear();
  name.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const auto low = static_cast<unsigned char>(bytes[i]);
    const auto high = static_cast<unsigned char>(bytes[i + 1]);
    name += static_cast<char16_t>(low | (high << 8));
  }
  return true;
}

}  // namespace srctally::platform
