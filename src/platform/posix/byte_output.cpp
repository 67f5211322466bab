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
constexpr std::size_t kBufferLimit = 64 * 1024;

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

class PosixStandardOutputBytes final : public IByteOutput {
 public:
  PosixStandardOutputBytes() { pending_.reserve(kBufferLimit); }
  ~PosixStandardOutputBytes() override { Flush(); }

  bool Write(std::string_view bytes) override {
    if (failureCode_ != 0) return false;
    pending_.append(bytes);
    if (pending_.size() >= kBufferLimit) return Flush();
    return true;
  }
  bool Flush() override {
    if (failureCode_ == 0 && !pending_.empty()) {
      const int error = WriteAll(kOutput, pending_);
      if (error != 0) {
        failureCode_ = Win32ErrorFromErrno(error);
        if (failureCode_ == 0) failureCode_ = 29;  // ERROR_WRITE_FAULT: never lose a failure
      }
    }
    pending_.clear();
    return failureCode_ == 0;
  }
  bool Failed() const override { return failureCode_ != 0; }
  std::uint32_t FailureCode() const override { return failureCode_; }

 private:
  std::string pending_;
  std::uint32_t failureCode_ = 0;
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

}  // namespace srctally::platform
