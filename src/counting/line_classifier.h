// Sorts one trimmed source line into code, comment, empty comment or empty, and spots
// preprocessor directive lines.
#pragma once

#include <cstdint>

#include "base/text.h"
#include "counting/line_stats.h"
#include "counting/scan_masks.h"
#include "input/text_decoder.h"

namespace srctally {

/// Classifies one line (already trimmed of its terminator and surrounding white space) and
/// adds it to stats: lines and actual.value always grow, exactly one of codeLines,
/// commentLines, emptyCommentLines and emptyLines grows, and directiveLines grows for a
/// line that starts with '#' outside a block comment.
///
/// blockState is the caller's per-file flag, 1 while a /* */ comment is open at the end of
/// the previous line: set it to 0 before the first line of every file and pass the same
/// variable for every line of that file. No allocation, one pass over the characters.
void ClassifyLine(WStringView line, std::int32_t& blockState, LineStats& stats);

/// ClassifyLine for a whole text taken in its stored bytes: the text's runs
/// (TextDecoder::ReadRun) go in one after another, then Finish, and each line adds to stats
/// exactly what ClassifyLine adds for that line decoded and trimmed with TrimWideSpace.
/// Nothing is decoded or copied; what a run boundary cuts off from its neighbours (a '/' or
/// '*' that may start a mark, trailing blanks) is carried as state, so memory stays constant
/// whatever the line length. One object per text: the block comment state starts clear.
///
/// Line feeds and specials are found with path (ScanMasks); a path this build or processor
/// cannot run falls back to plain C++. Every path counts the same.
class CTextClassifier {
 public:
  explicit CTextClassifier(TextEncoding encoding, ScanPath path = FastestScanPath());

  /// Takes the next run of the text; every line it completes goes into stats.
  void Add(const TextRun& run, LineStats& stats);
  /// Ends the text: a last line without a line feed goes into stats.
  void Finish(LineStats& stats);

  /// The state a run boundary may cut through, reset at every line end except inBlock.
  struct State {
    bool open = false;         // the current line has characters (it exists even without LF)
    bool started = false;      // a non-blank character of the line was seen
    bool directive = false;    // the line's first non-blank character is '#'
    bool openOnEntry = false;  // a block comment was open at the line's start
    bool inBlock = false;
    bool inString = false;
    bool lineComment = false;  // after // : only content matters for the rest of the line
    bool code = false;
    bool comment = false;
    bool blankContent = false;    // the held blanks include one that is content (not ' ')
    char16_t carry = 0;           // a '/', '*' or '\\' that ended a run, waiting for what follows
    std::int64_t units = 0;       // UTF-16 units of the line from its first non-blank on
    std::int64_t blankUnits = 0;  // blanks after the last non-blank: dropped if the line ends
  };

 private:
  TextEncoding encoding_;
  ScanFunction scan_;
  State state_;
  // Of the slice being classified. Zeroed once: a line's window reads one word past the
  // words a scan writes, and that word must hold a value even before any scan.
  ScanMasks masks_{};
};

}  // namespace srctally
