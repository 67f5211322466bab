// The console report of a walk, line for line as the program has always printed it. Names
// and paths are printed with their control characters as '?', so a name can neither drive
// a terminal nor forge a line of the report.
#include "report/text_report_sink.h"

#include "report/walk_failure_text.h"

namespace srctally {

// The folder's line, the name and the report block of each file are composed in text_, kept
// from one to the next, so that a folder or a file costs no formatting into a new string.
void CTextReportSink::FolderStarted(WStringView relativeFolder) {
  text_.assign(u"Browsing folder '");
  AppendPrintableName(text_, relativeFolder);
  text_ += u"'...";
  writer_.Write(text_, msg::kKindText | msg::kLiteral | msg::kAppendNewLine, 0, {});
}

void CTextReportSink::FileCounted(WStringView /*relativeFolder*/, WStringView name,
                                  const LineStats& file) {
  if (verbose_) {
    file_ = file;
    WriteLine(writer_);
    text_.clear();
    AppendPrintableName(text_, name);
    WriteLiteral(writer_, text_);
    text_.clear();
    AppendReport(text_, file_);  // the block continues the name's line
    WriteLiteral(writer_, text_);
  } else {
    WriteLiteral(writer_, u".");  // the files of a folder make a row of dots
  }
}

void CTextReportSink::FolderFinished(WStringView /*relativeFolder*/, std::int64_t fileCount) {
  if (verbose_) {
    WriteText(writer_, u"%lld file(s) processed.\n\n", fileCount);
  } else if (fileCount > 0) {
    WriteLine(writer_);  // ends the folder's row of dots
  }
}

void CTextReportSink::FolderSkipped(WStringView relativeFolder, FolderSkip reason) {
  switch (reason) {
    case FolderSkip::kLinkToAncestor: {
      // A folder link back up the tree would be walked again and again until paths overflow.
      const WString folder = PrintableName(relativeFolder);
      const FormatArg list[] = {FormatArg(folder)};
      writer_.Write(u"skipping folder link '%s': it leads back to one of its parent folders.",
                    msg::kKindWarning | msg::kAppendNewLine, 0, FormatArgs(list, 1));
      break;
    }
    case FolderSkip::kAlreadyWalked:
      if (verbose_) {
        WriteLine(writer_, u"Skipping folder '%s': it was walked already.",
                  PrintableName(relativeFolder));
      }
      break;
    case FolderSkip::kExcluded:
      if (verbose_) {
        WriteLine(writer_, u"Skipping folder '%s': excluded.", PrintableName(relativeFolder));
      }
      break;
    case FolderSkip::kIgnoreFileLink: {
      const WString file = PrintableName(relativeFolder);
      const FormatArg list[] = {FormatArg(file)};
      writer_.Write(u"not reading ignore file '%s': it is a symbolic link.",
                    msg::kKindWarning | msg::kAppendNewLine, 0, FormatArgs(list, 1));
      break;
    }
  }
}

void CTextReportSink::FileSkipped(WStringView relativeFolder, WStringView name,
                                  FileSkip reason) {
  if (!verbose_) return;
  switch (reason) {
    case FileSkip::kAlreadyCounted: {
      // The file's path below the source path: relativeFolder starts with the separator.
      WString path(relativeFolder);
      if (!path.empty() && path.back() != path.front()) path += path.front();
      path += name;
      WriteLine(writer_, u"Skipping file '%s': it was counted already.", PrintableName(path));
      break;
    }
  }
}

void CTextReportSink::WalkFailed(WalkFailure step, WStringView folderPath, WStringView argumentText,
                                 HResult code) {
  const WString relativeFolder = PrintableName(folderPath);
  const WString argument = PrintableName(argumentText);
  WriteError(writer_, WalkFailureFormat(step), code, argument);
  // A file that cannot be counted ends its folder's listing too, unless the walk goes on.
  if (step == WalkFailure::kProcessFile && !relativeFolder.empty() && !keepGoing_) {
    WriteError(writer_, WalkFailureFormat(WalkFailure::kSearchFilesEnd), code, relativeFolder);
  }
}

}  // namespace srctally
