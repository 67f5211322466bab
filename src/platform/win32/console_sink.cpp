// Standard output on Windows. The sink converts the text itself and writes it as bytes
// (WriteFile: every message on a character device, blocks of up to 64 KiB to a file or
// pipe) or, on a console window, as UTF-16 (WriteConsoleW): the C runtime's
// wide text streams stop at the first character the code page cannot show and drop the
// rest of the message, line end included. A failed write is remembered with its cause, and
// nothing more is written after it.
#include "platform/console_sink.h"

#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "base/console_encoding.h"
#include "base/status.h"
#include "platform/byte_output.h"
#include "platform/held_flag.h"

namespace srctally::platform {
namespace {

// Redirected output waits until this many characters are held, so the lines and dots of
// the walk do not cost a system call each.
constexpr std::size_t kBufferLimit = 32 * 1024;
// Text is converted and written in pieces of at most this many units, through buffers on
// the stack: the same path serves the last words of a process whose heap is exhausted.
constexpr std::size_t kPieceUnits = 1024;
constexpr std::size_t kPieceBytes = 8 * kPieceUnits;  // CR LF, up to four bytes per unit
// The bytes of held text are written in blocks of up to this size.
constexpr std::size_t kBlockBytes = 64 * 1024;

bool IsConsoleHandle(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

// The last error, never 0: a failure whose cause was lost still is a failure.
std::uint32_t LastFailure() noexcept {
  const DWORD code = ::GetLastError();
  return code != 0 ? code : win32err::kWriteFault;
}

// piece with a CR before each line feed, into wide (room for twice the piece).
int WithCarriageReturns(WStringView piece, wchar_t* wide) noexcept {
  int count = 0;
  for (const char16_t ch : piece) {
    if (ch == u'\n') wide[count++] = L'\r';
    wide[count++] = static_cast<wchar_t>(ch);
  }
  return count;
}

// Whether a code page can show characters beyond the first 65,536 (GB 18030 and UTF-7 can;
// UTF-8 is written by this program's own coder).
bool HasEveryCharacter(UINT codePage) { return codePage == 54936 || codePage == CP_UTF7; }

// piece with a CR before each line feed and each character beyond U+FFFF (a surrogate
// pair, or a surrogate alone) as one '?', into wide (room for twice the piece): the system's
// conversion would give one '?' for each half.
int WithCarriageReturnsAndOneUnitEach(WStringView piece, wchar_t* wide) noexcept {
  int count = 0;
  for (std::size_t i = 0; i < piece.size(); ++i) {
    const char16_t ch = piece[i];
    if (ch >= 0xD800 && ch <= 0xDFFF) {
      if (ch <= 0xDBFF && i + 1 < piece.size() && piece[i + 1] >= 0xDC00 && piece[i + 1] <= 0xDFFF)
        ++i;
      wide[count++] = L'?';
      continue;
    }
    if (ch == u'\n') wide[count++] = L'\r';
    wide[count++] = static_cast<wchar_t>(ch);
  }
  return count;
}

// piece as narrow text of a code page, each line feed as CR LF, one '?' for a character
// the code page cannot show (no look-alike substitutes). Answers the byte count.
std::size_t CodePageBytes(WStringView piece, UINT codePage, char* out) noexcept {
  if (codePage == CP_UTF8) {
    return EncodeConsoleBytes(piece, {ConsoleCharset::kUtf8, true, true}, out, kPieceBytes);
  }
  wchar_t wide[2 * kPieceUnits];
  const int units = HasEveryCharacter(codePage) ? WithCarriageReturns(piece, wide)
                                                : WithCarriageReturnsAndOneUnitEach(piece, wide);
  if (units == 0) return 0;
  const int capacity = static_cast<int>(kPieceBytes);
  int size = ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, units, out, capacity, "?",
                                   nullptr);
  if (size <= 0) {
    // Some code pages take neither flags nor a fallback character.
    size = ::WideCharToMultiByte(codePage, 0, wide, units, out, capacity, nullptr, nullptr);
  }
  if (size <= 0) {
    return EncodeConsoleBytes(piece, {ConsoleCharset::kLatin1, true, true}, out, kPieceBytes);
  }
  return static_cast<std::size_t>(size);
}

// The bytes of piece in translationMode on a file, pipe or (in text mode) console; answers
// the byte count. Allocates nothing.
std::size_t PieceBytes(WStringView piece, bool console, std::uint32_t translationMode,
                       char* bytes) noexcept {
  switch (translationMode) {
    case translation::kUnicode:
      return EncodeConsoleBytes(piece, {ConsoleCharset::kUtf16Le, true, false}, bytes, kPieceBytes);
    case translation::kUtf8:
      return EncodeConsoleBytes(piece, {ConsoleCharset::kUtf8, true, true}, bytes, kPieceBytes);
    default:
      return CodePageBytes(piece, console ? ::GetConsoleOutputCP() : CP_ACP, bytes);
  }
}

// Writes all count bytes; answers 0 or the system error of the failed write.
std::uint32_t WriteBytes(HANDLE output, const char* bytes, std::size_t count) noexcept {
  for (std::size_t done = 0; done < count;) {
    DWORD written = 0;
    if (!::WriteFile(output, bytes + done, static_cast<DWORD>(count - done), &written, nullptr)) {
      return LastFailure();
    }
    if (written == 0) return win32err::kWriteFault;
    done += written;
  }
  return 0;
}

// Writes text to output in translationMode, piece by piece; answers 0 or the system error
// of the failed write. The bytes of the pieces gather in block (capacity bytes, at least
// kPieceBytes) and go out when it is full and at the end, so a long text costs few writes;
// without a block every piece is written from a buffer on the stack. Allocates nothing.
std::uint32_t WriteText(HANDLE output, bool console, std::uint32_t translationMode,
                        WStringView text, char* block = nullptr,
                        std::size_t capacity = 0) noexcept {
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return win32err::kInvalidHandle;
  char stackBytes[kPieceBytes];
  if (block == nullptr || capacity < kPieceBytes) {
    block = stackBytes;
    capacity = kPieceBytes;
  }
  std::size_t held = 0;  // bytes waiting in block
  for (std::size_t at = 0; at < text.size();) {
    std::size_t units = std::min(kPieceUnits, text.size() - at);
    const char16_t last = text[at + units - 1];
    if (at + units < text.size() && last >= 0xD800 && last <= 0xDBFF) --units;  // keep a pair
    const WStringView piece = text.substr(at, units);
    at += units;
    if (console && translationMode != translation::kText) {
      // A console window shows UTF-16 as it stands, in the unicode and utf8 modes alike.
      wchar_t wide[2 * kPieceUnits];
      const int count = WithCarriageReturns(piece, wide);
      for (int done = 0; done < count;) {
        DWORD written = 0;
        if (!::WriteConsoleW(output, wide + done, static_cast<DWORD>(count - done), &written,
                             nullptr)) {
          return LastFailure();
        }
        if (written == 0) return win32err::kWriteFault;
        done += static_cast<int>(written);
      }
      continue;
    }
    if (capacity - held < kPieceBytes) {
      if (const std::uint32_t failure = WriteBytes(output, block, held)) return failure;
      held = 0;
    }
    held += PieceBytes(piece, console, translationMode, block + held);
  }
  return WriteBytes(output, block, held);
}

// The NUL-terminated last words, cut at 1,024 characters.
WStringView UrgentText(const char16_t* text) noexcept {
  std::size_t length = 0;
  while (length < 1024 && text[length] != u'\0') ++length;
  return WStringView(text, length);
}

class Win32ConsoleSink;

// The sink over standard output while it lives, so that a line for standard error can first
// send out what the report still holds. Only the main thread creates, ends and writes it.
Win32ConsoleSink* liveSink = nullptr;

class Win32ConsoleSink final : public IConsoleSink {
 public:
  Win32ConsoleSink()
      : output_(::GetStdHandle(STD_OUTPUT_HANDLE)),
        terminal_(IsCharacterDevice()),
        console_(IsConsoleHandle(output_)),
        mode_(terminal_ ? translation::kUnicode : translation::kText) {
    // Room for a full block and the longest piece after it, so that appending seldom moves
    // the text a crash may still have to write.
    pending_.reserve(kBufferLimit + kBufferLimit / 4);
    if (!terminal_) block_.reset(new (std::nothrow) char[kBlockBytes]);
    liveSink = this;
  }
  ~Win32ConsoleSink() override {
    if (liveSink == this) liveSink = nullptr;
    WriteOut();
  }

  bool IsTerminal() const override { return terminal_; }
  void SetMode(std::uint32_t translationMode) override {
    WriteOut();
    mode_ = translationMode;
  }
  void Write(WStringView text) override {
    if (failure_ != 0) return;         // the report is broken off; nothing more is worth writing
    if (busy_.exchange(true)) return;  // a crash on another thread is writing the last words
    {
      const CFlagRelease release(busy_);  // also when running out of memory throws
      pending_ += text;
    }
    if (pending_.size() >= kBufferLimit) WriteOut();
  }
  // A terminal shows every piece at once, so the progress line stays live. Redirected
  // output is written in blocks: the walk's lines and dots would otherwise cost a system
  // call each. A failed write is then found when the block is written, and the walk stops
  // at the next file it asks about.
  void Flush() override {
    if (terminal_) WriteOut();
  }
  void FlushAll() override { WriteOut(); }
  void WriteUrgently(const char16_t* text) noexcept override {
    // The waiting text goes first, unless the crash came while it was being changed or
    // written (on this thread or another): then it is left out rather than cut or written
    // twice.
    WriteOut();
    WriteText(output_, console_, mode_, UrgentText(text));
  }
  char16_t ReadKey() override {
    WriteOut();  // the question must be visible before the wait
    for (;;) {
      const wint_t key = ::_getwch();
      // Function and arrow keys arrive as a 0 or 0xE0 lead followed by a scan code; they
      // answer nothing, and a 0 must not read as closed input.
      if (key == 0 || key == 0xE0) {
        ::_getwch();
        continue;
      }
      return static_cast<char16_t>(key);
    }
  }
  bool HasFailed() const override { return failure_ != 0; }
  std::uint32_t FailureCode() const override { return failure_; }

 private:
  static bool IsCharacterDevice() {
    const int fd = ::_fileno(stdout);
    return fd >= 0 && ::_isatty(fd) != 0;
  }

  void WriteOut() noexcept {
    if (busy_.exchange(true)) return;  // held by a write this crash interrupted, or a crash
    if (failure_ == 0 && !pending_.empty()) {
      failure_ =
          WriteText(output_, console_, mode_, pending_, block_.get(), block_ ? kBlockBytes : 0);
    }
    pending_.clear();
    busy_.store(false);
  }

  HANDLE output_;
  bool terminal_;
  bool console_;
  std::uint32_t mode_;
  WString pending_;
  std::unique_ptr<char[]> block_;  // redirected output's bytes on their way out
  // Held while pending_ or block_ is changed or written, by the report or by the last words
  // of a crash on any thread, so neither sees the other's half-done work; whoever finds it
  // held leaves them alone.
  std::atomic<bool> busy_{false};
  std::uint32_t failure_ = 0;
};

}  // namespace

std::unique_ptr<IConsoleSink> CreateStandardOutputSink() {
  return std::make_unique<Win32ConsoleSink>();
}

void FlushStandardOutputSink() {
  if (liveSink != nullptr) liveSink->FlushAll();
}

void WriteUrgentlyToStandardOutput(const char16_t* text) noexcept {
  const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  WriteText(output, IsConsoleHandle(output), translation::kText, UrgentText(text));
}

void WriteUrgentlyToStandardError(const char16_t* text) noexcept {
  const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  // The utf8 mode: UTF-16 on a console window, UTF-8 bytes anywhere else.
  WriteText(error, IsConsoleHandle(error), translation::kUtf8, UrgentText(text));
}

// Defined here, beside the writer that serves standard output, rather than with the other
// byte output: standard error takes the same conversions.
void WriteStandardError(WStringView text) {
  FlushStandardOutputSink();  // on a shared console or pipe the report's text comes first
  const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  WriteText(error, IsConsoleHandle(error), translation::kUtf8, text);
}

}  // namespace srctally::platform
