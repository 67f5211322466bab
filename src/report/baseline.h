// The baseline of a comparison read from a JSON document that srctally wrote earlier
// (/format json): the path and counts of every file it lists.
#pragma once

#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "base/text.h"
#include "platform/disk.h"
#include "report/run_recorder.h"

namespace srctally {

/// Takes the files of a JSON document: the top-level object's "files" array, each element
/// an object with a non-empty string "path" (and "pathBytes", the exact name in
/// hexadecimal, when the document has it) and the whole numbers "size", "actual", "code",
/// "directive", "empty", "comment", "emptyComment" and "total", each from 0 to 2^63 - 1.
/// Other members are passed over; the language follows from the path (LanguageOfFile with
/// separator). Streams through the text, so the memory it needs is the files' alone. False,
/// with what is wrong in problem (an English phrase such as "it is not JSON (...)" or "file
/// 3 in \"files\" has no \"total\""), when text is no such document.
bool ParseBaselineDocument(std::string_view text, char16_t separator,
                           std::vector<FileRecord>& files, std::string& problem);

/// ParseBaselineDocument on the file at fullPath, read a piece at a time, so that neither a
/// large document nor a large file of anything else is held whole. Answers hr::kOk for a
/// document, hr::kFalse with what is wrong in problem for anything else, or the failure
/// that kept the file from being opened or read.
HResult ReadBaselineDocument(platform::IDisk& disk, WStringView fullPath, char16_t separator,
                             std::vector<FileRecord>& files, std::string& problem);

}  // namespace srctally
