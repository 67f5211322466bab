// Standard output as the console framework sees it: a terminal test, an output mode, text
// in, and one key read without echo.
#pragma once

#include <cstdint>
#include <memory>

#include "base/text.h"

namespace srctally::platform {

/// Where the console framework's text goes. The sink alone decides about encodings, line
/// ends and when bytes reach the operating system.
class IConsoleSink {
 public:
  virtual ~IConsoleSink() = default;
  /// Whether standard output is a character device (a terminal or console window).
  virtual bool IsTerminal() const = 0;
  /// Switches the output encoding to a translation:: mode (text, unicode or utf8).
  virtual void SetMode(std::uint32_t translationMode) = 0;
  /// Writes text in the current mode; "\n" becomes the platform's line end.
  virtual void Write(WStringView text) = 0;
  /// Makes what was written visible at once on a terminal. Redirected output may wait until
  /// a block of it is full, FlushAll, a key is read or a line goes to standard error, so
  /// flushing is cheap.
  virtual void Flush() = 0;
  /// Writes out everything the sink still holds, whatever its line: the end of the output.
  virtual void FlushAll() = 0;
  /// Waits for one key and answers it without echoing it; 0 when no key can be read any
  /// more (input closed).
  virtual char16_t ReadKey() = 0;
  /// The last words of a process that must stop at once (a crash, memory run out): writes
  /// what is still waiting, then text (NUL-terminated) in the current mode, straight to the
  /// output. The platforms' sinks do this without allocating or taking a lock, so it works
  /// in a signal handler and with an exhausted heap; text past 1,024 characters is cut.
  virtual void WriteUrgently(const char16_t* text) noexcept {
    Write(text);
    Flush();
  }
  /// Whether a write to standard output failed (a full disk, a closed pipe or descriptor).
  /// The report is incomplete from there on, so the sink writes nothing more. Cheap: the
  /// walk asks it before each file.
  virtual bool HasFailed() const = 0;
  /// The system error of the first failed write in the Win32 code space (as
  /// platform::GetLastErrorCode answers it), never 0 once HasFailed; 0 while none failed.
  virtual std::uint32_t FailureCode() const = 0;
};

/// WriteUrgently for a process that has no sink (yet): text goes straight to standard
/// output as the narrow text of redirected output, without allocating.
void WriteUrgentlyToStandardOutput(const char16_t* text) noexcept;

/// The last words of a process whose standard output carries a document: text
/// (NUL-terminated, cut at 1,024 characters) goes to standard error in the encoding of
/// WriteStandardError, without allocating or taking a lock, so a signal handler may call it.
void WriteUrgentlyToStandardError(const char16_t* text) noexcept;

/// Writes out what the sink over standard output still holds, so that a line for standard
/// error comes after the report text written before it. Harmless without a sink; not for a
/// signal handler.
void FlushStandardOutputSink();

/// The sink over the process's standard output. On a terminal the default output is the
/// terminal's own encoding (UTF-16 on a Windows console, UTF-8 elsewhere); redirected
/// output defaults to the narrow text of the locale.
std::unique_ptr<IConsoleSink> CreateStandardOutputSink();

}  // namespace srctally::platform
