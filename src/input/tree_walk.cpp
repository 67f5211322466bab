// The source tree walk over the platform's folder listings.
#include "input/tree_walk.h"

#include <algorithm>
#include <new>

#include "counting/file_counting.h"
#include "counting/file_report.h"
#include "input/long_path.h"
#include "platform/file_system.h"
#include "platform/last_error.h"

namespace srctally {
namespace {
HResult LastErrorResult() { return HResultFromWin32(platform::GetLastErrorCode()); }

// The status a pass ends with when its listing has no further entry.
HResult EndOfListing(HResult status) {
  const std::uint32_t code = platform::GetLastErrorCode();
  return code == win32err::kNoMoreFiles ? status : HResultFromWin32(code);
}

void WriteWarning(CMessageWriter& writer, WStringView format, WStringView argument) {
  const FormatArg list[] = {FormatArg(argument)};
  writer.Write(format, msg::kKindWarning | msg::kAppendNewLine, 0, FormatArgs(list, 1));
}
}  // namespace

std::optional<WStringView> FindExtension(WStringView name) {
  const std::size_t dot = name.find_last_of(u'.');
  if (dot == WStringView::npos) return std::nullopt;
  const WStringView extension = name.substr(dot + 1);
  if (extension.find(u' ') != WStringView::npos) return std::nullopt;
  return extension;
}

const SourceExtension* FindSourceExtension(WStringView extension) {
  for (const SourceExtension& row : SourceExtensions) {
    if (row.extension.size() == extension.size() &&
        EqualsIgnoreAsciiCase(row.extension, extension)) {
      return &row;
    }
  }
  return nullptr;
}

HResult ProcessFile(const platform::FileLocation& file, WStringView displayName, LineStats& totals,
                    CMessageWriter& writer, bool verbose) {
  LineStats record;
  record.Reset();
  const HResult status = CountFileLines(file, record);
  if (Failed(status)) return status;
  ReportCountedFile(writer, verbose, displayName, record, totals);
  return hr::kOk;
}

CTreeWalk::CTreeWalk(CMessageWriter& writer, WString sourcePath, WalkOptions options)
    : writer_(writer),
      sourcePath_(std::move(sourcePath)),
      options_(options),
      separator_(platform::PathSeparator()) {}

HResult CTreeWalk::WalkFolder(WStringView relativeFolder, LineStats& totals) {
  ancestors_.clear();
  // One buffer holds the relative path of every level: a sub-folder appends its name and
  // takes it off again, so memory grows with the depth, not with its square. Reserving the
  // longest path up front keeps the views of the outer levels valid.
  try {
    relativePath_.reserve(kLongPathCapacity);
  } catch (const std::bad_alloc&) {
    return HResultFromWin32(win32err::kOutOfMemory);
  }
  relativePath_.assign(relativeFolder.substr(0, kLongPathCapacity - 1));
  const WStringView root(relativePath_);
  platform::CFolderSearch folder(sourcePath_, root);
  return WalkLevel(folder, root, totals);
}

HResult CTreeWalk::WalkLevel(platform::CFolderSearch& folder, WStringView relativeFolder,
                             LineStats& totals) {
  switch (folder.Start(platform::SearchPass::kFiles)) {
    case platform::SearchStart::kStarted:
      break;
    case platform::SearchStart::kPathFailed:
      return LastErrorResult();
    case platform::SearchStart::kFailed: {
      const HResult code = LastErrorResult();
      WriteError(writer_, u"cannot search for files in %s", code, relativeFolder);
      return code;
    }
  }
  platform::FolderIdentity identity;
  const bool identityKnown = folder.GetIdentity(identity);
  if (identityKnown && IsAncestor(identity)) {
    // A folder link back up the tree would be walked again and again until paths overflow.
    folder.Close();
    WriteWarning(writer_, u"skipping folder link '%s': it leads back to one of its parent folders.",
                 relativeFolder);
    return hr::kOk;
  }
  if (identityKnown) ancestors_.push_back(identity);
  HResult status = CountFiles(folder, relativeFolder, totals);
  if (Succeeded(status) && options_.subdir) status = WalkSubFolders(folder, relativeFolder, totals);
  if (identityKnown) ancestors_.pop_back();
  return status;
}

HResult CTreeWalk::CountFiles(platform::CFolderSearch& folder, WStringView relativeFolder,
                              LineStats& totals) {
  WriteLine(writer_, u"Browsing folder '%s'...", relativeFolder);
  std::int64_t fileCount = 0;
  HResult status = hr::kOk;
  platform::FolderEntry entry;
  bool failed = false;
  while (!failed && folder.Next(entry)) {
    // Hidden, system and read-only files count like any other; only folders and (on
    // POSIX) devices, FIFOs and sockets are passed over.
    if (entry.kind != platform::EntryKind::kFile) continue;
    const std::optional<WStringView> extension = FindExtension(entry.name);
    if (!extension) continue;
    const SourceExtension* row = FindSourceExtension(*extension);
    if (row == nullptr || (row->isHeader && options_.noHeader)) continue;
    platform::FileLocation location;
    if (folder.LocateFile(entry.name, location)) {
      status = ProcessFile(location, entry.name, totals, writer_, options_.verbose);
    } else {
      status = LastErrorResult();
    }
    if (Failed(status)) {
      WriteError(writer_, u"cannot process file '%s'.", status, entry.name);
      failed = true;
    } else {
      ++fileCount;
    }
  }
  if (!failed) status = EndOfListing(status);
  folder.Close();
  if (Failed(status)) {
    WriteError(writer_, u"cannot search for files in %s.", status, relativeFolder);
    return status;
  }
  if (options_.verbose) {
    WriteText(writer_, u"%lld file(s) processed.\n\n", fileCount);
  } else if (fileCount > 0) {
    WriteLine(writer_);  // ends the folder's row of dots
  }
  return status;
}

HResult CTreeWalk::WalkSubFolders(platform::CFolderSearch& folder, WStringView relativeFolder,
                                  LineStats& totals) {
  if (folder.Start(platform::SearchPass::kFolders) != platform::SearchStart::kStarted) {
    const HResult code = LastErrorResult();
    WriteError(writer_, u"cannot search for folders in %s.", code, relativeFolder);
    return code;
  }
  HResult status = hr::kOk;
  platform::FolderEntry entry;
  while (folder.Next(entry)) {
    if (entry.kind != platform::EntryKind::kFolder) continue;
    if (entry.name == u"." || entry.name == u"..") continue;
    // relativeFolder is the start of relativePath_: the child's path extends it in place.
    const std::size_t parentLength = relativeFolder.size();
    const bool needsSeparator = parentLength == 0 || relativeFolder.back() != separator_;
    const std::size_t childLength = parentLength + (needsSeparator ? 1 : 0) + entry.name.size();
    if (childLength >= kLongPathCapacity) {  // the same limit as every path of the walk
      const HResult code = HResultFromWin32(win32err::kArithmeticOverflow);
      folder.Close();
      WriteError(writer_, u"cannot search for folders in %s.", code, relativeFolder);
      return code;
    }
    relativePath_.resize(parentLength);
    if (needsSeparator) relativePath_ += separator_;
    relativePath_ += entry.name;
    const WStringView childFolder(relativePath_);
    platform::CFolderSearch child(folder, entry.name, childFolder);
    const HResult result = WalkLevel(child, childFolder, totals);
    relativePath_.resize(parentLength);
    if (Failed(result)) {
      folder.Close();
      return result;
    }
    status = result;
  }
  const std::uint32_t end = platform::GetLastErrorCode();
  if (end != win32err::kNoMoreFiles) {
    status = HResultFromWin32(end);
    WriteError(writer_, u"cannot search for folders in %s.", status, relativeFolder);
  }
  folder.Close();
  return status;
}

bool CTreeWalk::IsAncestor(const platform::FolderIdentity& identity) const {
  return std::find(ancestors_.begin(), ancestors_.end(), identity) != ancestors_.end();
}

}  // namespace srctally
