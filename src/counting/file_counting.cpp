// File counting: the reader feeds trimmed lines to the classifier.
#include "counting/file_counting.h"

#include <new>
#include <stdexcept>

#include "counting/line_classifier.h"
#include "input/text_file.h"

namespace srctally {

HResult CountFileLines(const platform::FileLocation& file, LineStats& stats) {
  CTextFile text;
  HResult status = text.Open(file, textfile::kCountingFlags);
  if (Failed(status)) return status;
  std::int64_t size = 0;
  status = text.GetSize(&size);
  if (Failed(status)) {
    text.Close();
    return status;
  }
  stats.size.value = size;
  std::int32_t blockState = 0;
  try {
    WString line;  // one buffer for every line; it only grows
    while ((status = text.ReadLine(line)) == hr::kOk) {
      ClassifyLine(TrimWideSpace(line), blockState, stats);
    }
  } catch (const std::bad_alloc&) {
    status = hr::kOutOfMemory;
  } catch (const std::length_error&) {  // a line longer than a string can hold
    status = hr::kOutOfMemory;
  }
  text.Close();
  return status;
}

HResult CountFileLines(WStringView path, LineStats& stats) {
  return CountFileLines(platform::FileLocation{path}, stats);
}

}  // namespace srctally
