// File counting: the reader feeds the file's bytes, a block at a time, to the classifier.
#include "counting/file_counting.h"

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
  // The lines are classified in the file's own bytes, a block at a time: no line is
  // decoded or gathered, so memory stays at the reader's block whatever the line length.
  CTextClassifier classifier(text.encoding());
  TextRun run;
  while ((status = text.ReadRun(run)) == hr::kOk) classifier.Add(run, stats);
  if (status == hr::kFalse) classifier.Finish(stats);
  text.Close();
  return status;
}

HResult CountFileLines(WStringView path, LineStats& stats) {
  return CountFileLines(platform::FileLocation{path}, stats);
}

}  // namespace srctally
