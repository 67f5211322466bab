// Helpers shared by the tree walk tests: run a walk over a temp folder and build the text
// the per-file step prints for one file.
#pragma once

#include <string>

#include "base/format.h"
#include "counting/file_counting.h"
#include "platform/file_system.h"
#include "report/file_report.h"
#include "report/text_report_sink.h"
#include "testing/recording_writer.h"
#include "testing/temp_dir.h"
#include "walk/tree_walk.h"

namespace srctally {

struct WalkResult {
  HResult status = hr::kOk;
  std::string output;
  LineStats totals;
};

/// Text written with '/' as the separator, in the platform's separator.
inline std::string Sep(std::string text) {
  if (platform::PathSeparator() == u'\\') {
    for (char& ch : text) ch = ch == '/' ? '\\' : ch;
  }
  return text;
}

inline WString Sep16(WString text) {
  for (char16_t& ch : text) ch = ch == u'/' ? platform::PathSeparator() : ch;
  return text;
}

/// How the recording writer shows an error's code.
inline std::string CodeSuffix(HResult code) {
  return ToUtf8(Format(u" [0x%08X]\n", static_cast<std::uint32_t>(code)));
}

/// A path as UTF-16; on POSIX its bytes converted losslessly, whatever they are.
inline WString Wide(const std::filesystem::path& path) {
  return platform::PathSeparator() == u'/' ? FromUtf8Lossless(path.string()) : path.u16string();
}

inline WalkResult Walk(const testing::TempDir& dir, WalkOptions options) {
  testing::RecordingWriter writer;
  CTextReportSink sink(writer, options.verbose);
  CTreeWalk walk(sink, platform::SystemDisk(), Wide(dir.path()), options);
  WalkResult result;
  result.totals.Reset();
  result.status = walk.WalkFolder(WString(1, platform::PathSeparator()), result.totals);
  result.output = writer.text();
  return result;
}

/// What the per-file step prints for the file at relative (verbose).
inline std::string FileBlock(const testing::TempDir& dir, const std::string& relative) {
  const WString path = Wide(dir.path() / relative);
  LineStats record;
  record.Reset();
  if (Failed(CountFileLines({path, -1}, record))) return "<cannot count " + relative + ">";
  testing::RecordingWriter writer;
  LineStats totals;
  ReportCountedFile(writer, true, platform::FindFileName(path), record, totals);
  return writer.text();
}

}  // namespace srctally
