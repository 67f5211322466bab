// The last line of a process that must stop at once: after a crash, which may strike
// inside the allocator, or when memory has run out. Everything it needs is composed while
// the program starts, and the line is written without allocating or taking a lock.
#pragma once

#include "console/message_writer.h"
#include "platform/console_sink.h"

namespace srctally {

/// Composes what the last line needs ahead: the error prefix as writer shows it (when
/// given), the crash text around the dump path; and sends the line to sink (when given,
/// else straight to standard output). writer also tells whether the output stands at a line
/// start: a line that does not continues it, as the message writer does. Call again with
/// null pointers before sink or writer go away.
void SetLastWordsOutput(platform::IConsoleSink* sink, const CMessageWriter* writer);

/// From now on the last line goes to standard error, beginning with "ERROR: " (false: to
/// the output SetLastWordsOutput gave, the default): for a run whose standard output
/// carries a JSON or CSV document that must not take it in, or does not carry anything yet.
void SendLastWordsToStandardError(bool toStandardError = true);

/// The crash notification: "ERROR: the program stopped unexpectedly; a crash dump was
/// written to '<dumpPath>'.", then the process ends with exit code -1. Async-signal-safe.
[[noreturn]] void FatalReport(const char16_t* dumpPath);

/// Writes "ERROR: not enough memory to go on." and answers exit code 2. Allocates nothing.
int ReportOutOfMemory() noexcept;

/// Makes running out of memory end the process with ReportOutOfMemory's line and exit code
/// 2, also where a std::bad_alloc could no longer be thrown. A single large request that
/// fails while memory remains still throws std::bad_alloc, for its caller to handle.
void InstallOutOfMemoryHandler();

}  // namespace srctally
