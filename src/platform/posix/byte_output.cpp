// Raw standard output and standard error lines on POSIX.
#include "platform/byte_output.h"

#include <unistd.h>

#include <cerrno>

#include "platform/console_sink.h"
#include "platform/last_error.h"

namespace srctally::platform {
namespace {

constexpr int kOutput = 1;
constexpr int kError = 2;

// Writes all of bytes to fd, retrying after signals; the errno of a failure, else 0.
int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;  // no progress: the device takes nothing more
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

class PosixStandardOutputBytes final : public CBufferedByteOutput {
 public:
  ~PosixStandardOutputBytes() override { Flush(); }

 private:
  std::uint32_t WriteOut(std::string_view bytes) override {
    const int error = WriteAll(kOutput, bytes);
    if (error == 0) return 0;
    const std::uint32_t code = Win32ErrorFromErrno(error);
    return code != 0 ? code : kWriteFault;  // never lose a failure
  }
};

}  // namespace

std::unique_ptr<IByteOutput> CreateStandardOutputBytes() {
  return std::make_unique<PosixStandardOutputBytes>();
}

void WriteStandardError(WStringView text) {
  FlushStandardOutputSink();  // on a shared terminal or pipe the report's text comes first
  // A terminal would take stray bytes as the start of a character: show U+FFFD instead.
  const std::string bytes =
      ToUtf8(text, ::isatty(kError) == 1 ? RawBytes::kReplace : RawBytes::kKeep);
  WriteAll(kError, bytes);
}

std::string FileNameBytes(WStringView name) { return ToUtf8(name); }

bool FileNameFromBytes(std::string_view bytes, WString& name) {
  name = FromUtf8Lossless(bytes);
  return true;
}

}  // namespace srctally::platform
