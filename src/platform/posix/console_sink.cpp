// Standard output on POSIX: encodes in the sink, writes every piece to a terminal and
// blocks of up to 64 KiB to a redirected output; keys come raw from a terminal's input. A
// failed write is remembered with its cause, and nothing more is written after it.
#include "platform/console_sink.h"

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "base/console_encoding.h"
#include "base/status.h"
#include "platform/held_flag.h"
#include "platform/last_error.h"

namespace srctally::platform {
namespace {

constexpr int kInput = 0;
constexpr int kOutput = 1;
constexpr int kError = 2;
constexpr std::size_t kBufferLimit = 64 * 1024;

// The narrow encoding of the user's locale: UTF-8 when its codeset says so, else Latin-1.
ConsoleCharset LocaleNarrowCharset() {
  const locale_t user = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (user == static_cast<locale_t>(nullptr)) return ConsoleCharset::kLatin1;
  const char* codeset = ::nl_langinfo_l(CODESET, user);
  const bool utf8 = codeset != nullptr &&
                    (::strcasecmp(codeset, "UTF-8") == 0 || ::strcasecmp(codeset, "utf8") == 0);
  ::freelocale(user);
  return utf8 ? ConsoleCharset::kUtf8 : ConsoleCharset::kLatin1;
}

// A standard descriptor the process was started without is taken by /dev/null at once, so
// that no file the run opens later becomes "standard output". Output is opened read-only:
// every write to it then fails with EBADF, as writes to the closed descriptor would.
void KeepStandardDescriptorsTaken() {
  for (int fd = kInput; fd <= kError; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = ::open("/dev/null", fd == kError ? O_WRONLY : O_RDONLY);
    if (opened >= 0 && opened != fd) ::close(opened);  // fd was taken meanwhile
  }
}

// Writes all of bytes to fd, retrying after signals and waiting while a non-blocking
// descriptor is full. Answers 0, or the Win32 code of the failure.
std::uint32_t WriteAll(int fd, const char* bytes, std::size_t size) noexcept {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      struct pollfd ready {
        fd, POLLOUT, 0
      };
      if (::poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
    }
    if (n == 0) return win32err::kWriteFault;  // no progress and no reason given
    const std::uint32_t code = Win32ErrorFromErrno(errno);
    return code != 0 ? code : win32err::kWriteFault;
  }
  return 0;
}

// Encodes text piece by piece into a buffer on the stack and writes it to fd (standard
// output unless told): no allocation, no lock, only write(2), so a signal handler may call
// it.
void WriteUrgentText(const char16_t* text, const ConsoleEncoding& encoding,
                     int fd = kOutput) noexcept {
  constexpr std::size_t kMaxUnits = 1024;
  std::size_t length = 0;
  while (length < kMaxUnits && text[length] != u'\0') ++length;
  char bytes[512];
  for (std::size_t at = 0; at < length;) {
    // 64 units at most in 512 bytes: four UTF-8 bytes per unit, a CR LF for a line feed.
    std::size_t piece = std::min<std::size_t>(64, length - at);
    if (piece < length - at && text[at + piece - 1] >= 0xD800 && text[at + piece - 1] <= 0xDBFF)
      --piece;  // keep a surrogate pair together
    WriteAll(fd, bytes,
             EncodeConsoleBytes(WStringView(text + at, piece), encoding, bytes, sizeof(bytes)));
    at += piece;
  }
}

// Reads one byte, retrying after signals; false at end of input or on an error.
bool ReadByte(unsigned char& byte) {
  for (;;) {
    const ssize_t n = ::read(kInput, &byte, 1);
    if (n == 1) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

// One UTF-8 encoded key; a malformed sequence and characters beyond the 16-bit range
// answer U+FFFD.
char16_t ReadUtf8Key() {
  char bytes[4] = {};
  unsigned char byte = 0;
  if (!ReadByte(byte)) return 0;
  bytes[0] = static_cast<char>(byte);
  const std::size_t length = Utf8LeadLength(byte);
  for (std::size_t k = 1; k < length; ++k) {
    if (!ReadByte(byte)) return 0;
    bytes[k] = static_cast<char>(byte);
  }
  char32_t cp = 0;
  const std::size_t decoded = DecodeUtf8At(std::string_view(bytes, length ? length : 1), 0, cp);
  return decoded == 0 || cp > 0xFFFF || cp == 0 ? char16_t{0xFFFD} : static_cast<char16_t>(cp);
}

class PosixConsoleSink;

// The sink over standard output while it lives, so that a line for standard error can first
// send out what the report still holds. Only the main thread creates, ends and writes it.
PosixConsoleSink* liveSink = nullptr;

class PosixConsoleSink final : public IConsoleSink {
 public:
  PosixConsoleSink()
      : terminal_(::isatty(kOutput) == 1),
        narrow_(LocaleNarrowCharset()),
        encoding_{terminal_ ? ConsoleCharset::kUtf8 : narrow_, false, terminal_} {
    // Room for a full block and the longest piece after it, so that appending seldom moves
    // the bytes a crash may still have to write.
    pending_.reserve(kBufferLimit + kBufferLimit / 4);
    liveSink = this;
  }
  ~PosixConsoleSink() override {
    if (liveSink == this) liveSink = nullptr;
    WriteOut();
  }

  bool IsTerminal() const override { return terminal_; }
  void SetMode(std::uint32_t translationMode) override {
    encoding_ = EncodingForMode(translationMode, narrow_, false);
    encoding_.replaceRawBytes = terminal_;
  }
  void Write(WStringView text) override {
    if (failure_ != 0) return;         // the report is broken off; nothing more is worth writing
    if (busy_.exchange(true)) return;  // a crash on another thread is writing the last words
    {
      const CFlagRelease release(busy_);  // also when running out of memory throws
      AppendConsoleBytes(pending_, text, encoding_);
    }
    if (pending_.size() >= kBufferLimit) WriteOut();
  }
  void WriteUrgently(const char16_t* text) noexcept override {
    // The waiting bytes go first, unless the crash came while they were being changed or
    // written (on this thread or another): then they are left out rather than cut or
    // written twice.
    if (!busy_.exchange(true)) {
      WriteAll(kOutput, pending_.data(), pending_.size());
      pending_.clear();
      busy_.store(false);
    }
    WriteUrgentText(text, encoding_);
  }
  // A terminal shows every piece at once, so the progress line stays live. Redirected
  // output is written in blocks: the walk's lines and dots would otherwise cost a system
  // call each. A failed write is then found when the block is written, and the walk stops
  // at the next file it asks about.
  void Flush() override {
    if (terminal_) WriteOut();
  }
  void FlushAll() override { WriteOut(); }
  char16_t ReadKey() override;
  bool HasFailed() const override { return failure_ != 0; }
  std::uint32_t FailureCode() const override { return failure_; }

 private:
  void WriteOut() {
    if (busy_.exchange(true)) return;  // a crash on another thread is writing the last words
    if (failure_ == 0 && !pending_.empty()) {
      failure_ = WriteAll(kOutput, pending_.data(), pending_.size());
    }
    pending_.clear();
    busy_.store(false);
  }

  bool terminal_;
  ConsoleCharset narrow_;
  ConsoleEncoding encoding_;
  std::string pending_;
  // Held while pending_ is changed or written, by the report or by the last words of a
  // crash on any thread, so neither sees the other's half-done work. Lock-free, so a signal
  // handler may take it; whoever finds it held leaves pending_ alone.
  std::atomic<bool> busy_{false};
  static_assert(std::atomic<bool>::is_always_lock_free);
  std::uint32_t failure_ = 0;
};

char16_t PosixConsoleSink::ReadKey() {
  WriteOut();  // the question must be visible before the wait
  struct termios saved {};
  if (::isatty(kInput) != 1 || ::tcgetattr(kInput, &saved) != 0) return ReadUtf8Key();
  struct termios raw = saved;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  ::tcsetattr(kInput, TCSANOW, &raw);
  const char16_t key = ReadUtf8Key();
  ::tcsetattr(kInput, TCSANOW, &saved);
  return key;
}

}  // namespace

std::unique_ptr<IConsoleSink> CreateStandardOutputSink() {
  KeepStandardDescriptorsTaken();
  return std::make_unique<PosixConsoleSink>();
}

void FlushStandardOutputSink() {
  if (liveSink != nullptr) liveSink->FlushAll();
}

void WriteUrgentlyToStandardOutput(const char16_t* text) noexcept {
  WriteUrgentText(text, ConsoleEncoding{ConsoleCharset::kUtf8, false});
}

void WriteUrgentlyToStandardError(const char16_t* text) noexcept {
  // As WriteStandardError writes: UTF-8, a terminal shown U+FFFD for a name's stray bytes.
  WriteUrgentText(text, ConsoleEncoding{ConsoleCharset::kUtf8, false, ::isatty(kError) == 1},
                  kError);
}

}  // namespace srctally::platform
