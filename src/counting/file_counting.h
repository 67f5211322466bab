// Counting the lines of one source file into a LineStats record.
#pragma once

#include "base/status.h"
#include "base/text.h"
#include "counting/line_stats.h"
#include "input/text_decoder.h"
#include "platform/disk.h"
#include "platform/file.h"

namespace srctally {

/// Opens the file (read, encoding from its byte-order mark, writers denied), stores its
/// size in bytes in stats.size.value, and classifies every line, trimmed of surrounding
/// white space, into stats. stats is expected fresh (Reset); files and the texts are left
/// alone. Returns hr::kFalse when the whole file was read; a negative code when it could not
/// be opened or sized (stats untouched) or a read failed (stats partly filled, to be
/// discarded). Memory use does not grow with the length of the lines. The file is closed on
/// every path; no block comment state survives the call.
HResult CountFileLines(const platform::FileLocation& file, LineStats& stats);

/// CountFileLines for a file named by its full path, opened through the system's disk.
HResult CountFileLines(WStringView path, LineStats& stats);

/// Counts open files, one after another, with one reading buffer for all of them.
class CFileCounter {
 public:
  /// Counts the open file as CountFileLines does, and closes it: hr::kFalse when the whole
  /// file was read; negative when its mark is FE FF (UTF-16 big-endian is refused), it
  /// cannot be sized or a read failed (stats then to be discarded). The size is the count
  /// of bytes read up to the file's end; the file is asked for it only when a Ctrl-Z ended
  /// the text before that end. Memory that cannot be had fails the file with
  /// hr::kOutOfMemory.
  HResult Count(platform::IReadFile& file, LineStats& stats);

 private:
  HResult CountOpen(platform::IReadFile& file, LineStats& stats);

  TextDecoder decoder_;
};

}  // namespace srctally
