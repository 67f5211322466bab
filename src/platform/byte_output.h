// Raw bytes to standard output, for documents that must reach their reader byte for byte
// (JSON, CSV), and single message lines to standard error beside them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/text.h"

namespace srctally::platform {

/// A byte stream that can fail. Once a write has failed every later write is dropped, so a
/// writer need only ask Failed() when it wants to stop early.
class IByteOutput {
 public:
  virtual ~IByteOutput() = default;
  /// Queues bytes; they may wait in a buffer until Flush. False once the output failed.
  virtual bool Write(std::string_view bytes) = 0;
  /// Hands every queued byte to the operating system. False once the output failed.
  virtual bool Flush() = 0;
  /// Whether any write failed.
  virtual bool Failed() const = 0;
  /// The system error code (Win32 code space) of the first failed write; 0 when none.
  virtual std::uint32_t FailureCode() const = 0;
};

/// IByteOutput's buffering and failure rules over WriteOut, which a platform gives: bytes
/// wait in a buffer of 64 KiB and go out when it is full or on Flush; the first failure is
/// kept and everything after it is dropped. A derived class flushes in its destructor.
class CBufferedByteOutput : public IByteOutput {
 public:
  bool Write(std::string_view bytes) final {
    if (failureCode_ != 0) return false;
    pending_.append(bytes);
    if (pending_.size() >= kBufferLimit) return Flush();
    return true;
  }
  bool Flush() final {
    if (failureCode_ == 0 && !pending_.empty()) {
      failureCode_ = WriteOut(pending_);
    }
    pending_.clear();
    return failureCode_ == 0;
  }
  bool Failed() const final { return failureCode_ != 0; }
  std::uint32_t FailureCode() const final { return failureCode_; }

 protected:
  static constexpr std::size_t kBufferLimit = 64 * 1024;
  /// The code a failed write answers when the system gives none: ERROR_WRITE_FAULT.
  static constexpr std::uint32_t kWriteFault = 29;

  CBufferedByteOutput() { pending_.reserve(kBufferLimit); }
  /// Writes all of bytes; 0, or the system error code (Win32 code space, never 0) of the
  /// failure that stopped it.
  virtual std::uint32_t WriteOut(std::string_view bytes) = 0;

 private:
  std::string pending_;
  std::uint32_t failureCode_ = 0;
};

/// Standard output as raw bytes: no encoding and no line-end translation (on Windows the
/// descriptor is put in binary mode). Nothing else may write to standard output meanwhile.
std::unique_ptr<IByteOutput> CreateStandardOutputBytes();

/// Writes text to standard error at once ("\n" ends a line), after what the sink over
/// standard output still holds. POSIX: UTF-8, with the bytes of a name that is not UTF-8
/// kept as they are unless standard error is a terminal, which shows U+FFFD for them.
/// Windows: UTF-16 to a console window, else UTF-8 with CR LF line ends (so a JSON or CSV
/// document and its error lines sent to one file share one encoding). A failure is
/// ignored: there is nowhere left to report it.
void WriteStandardError(WStringView text);

/// A file name or path as the file system stores it, so nothing is lost: on POSIX the
/// original bytes (the lone surrogates U+DC80..U+DCFF that stand for undecodable bytes turn
/// back into those bytes); on Windows the UTF-16 code units, little endian.
std::string FileNameBytes(WStringView name);

/// The inverse of FileNameBytes: the name whose stored form is bytes. False when bytes are
/// no such form (on Windows, an odd number of bytes).
bool FileNameFromBytes(std::string_view bytes, WString& name);

}  // namespace srctally::platform
