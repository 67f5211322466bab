// The source tree walk over a disk: an explicit stack of open folders, each listed once for
// its files and once for its sub-folders.
#include "walk/tree_walk.h"

#include <new>

#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/long_path.h"

namespace srctally {
namespace {

using platform::LastErrorResult;

// Whether a listing that has no further entry ended normally; otherwise the last error is
// why it broke off.
bool ListingEnded() { return platform::GetLastErrorCode() == win32err::kNoMoreFiles; }

// The full path of the folder relativeFolder below sourcePath, with one separator between.
WString JoinPath(WStringView sourcePath, WStringView relativeFolder, char16_t separator) {
  WString path(sourcePath);
  if (!path.empty() && path.back() == separator && !relativeFolder.empty() &&
      relativeFolder.front() == separator) {
    relativeFolder.remove_prefix(1);
  }
  path += relativeFolder;
  return path;
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

std::string_view LanguageName(Language language) {
  switch (language) {
    case Language::kCHeader:
      return "C/C++ Header";
    case Language::kCppHeader:
      return "C++ Header";
    case Language::kC:
      return "C";
    case Language::kCpp:
      return "C++";
    case Language::kCSharp:
      return "C#";
    case Language::kJava:
      return "Java";
    case Language::kJavaScript:
      return "JavaScript";
    case Language::kArduino:
      return "Arduino";
    case Language::kPhp:
      return "PHP";
    case Language::kOther:
      break;
  }
  return "Other";
}

Language LanguageOfFile(WStringView path, char16_t separator) {
  const std::size_t slash = path.find_last_of(separator);
  if (slash != WStringView::npos) path.remove_prefix(slash + 1);
  const std::optional<WStringView> extension = FindExtension(path);
  const SourceExtension* row = extension ? FindSourceExtension(*extension) : nullptr;
  return row != nullptr ? row->language : Language::kOther;
}

struct CTreeWalk::Level {
  std::unique_ptr<platform::IFolder> folder;
  std::size_t pathLength;        // of relativePath_ at this level
  std::size_t filterPathLength;  // of filterPath_ at this level
  bool identityKnown;
  platform::FolderIdentity identity;
};

HResult CountSingleFile(IWalkSink& sink, platform::IDisk& disk, WStringView fullPath,
                        WStringView name, LineStats& totals) {
  const std::unique_ptr<platform::IReadFile> file = disk.NewFile();
  LineStats record;
  record.Reset();
  HResult status = hr::kOk;
  if (!disk.OpenFile(fullPath, *file)) {
    status = LastErrorResult();
  } else {
    CFileCounter counter;
    status = counter.Count(*file, record);
  }
  if (Failed(status)) {
    sink.WalkFailed(WalkFailure::kProcessFile, WStringView(), name, status);
    return status;
  }
  totals.AddFile(record);
  sink.FileCounted(WStringView(), name, record);
  return hr::kOk;
}

CTreeWalk::CTreeWalk(IWalkSink& sink, platform::IDisk& disk, WString sourcePath,
                     WalkOptions options, IWalkFilter* filter)
    : sink_(sink),
      disk_(disk),
      sourcePath_(std::move(sourcePath)),
      options_(options),
      filter_(filter),
      separator_(platform::PathSeparator()) {}

CTreeWalk::~CTreeWalk() { Unwind(); }

HResult CTreeWalk::WalkFolder(WStringView relativeFolder, LineStats& totals) {
  Unwind();
  out_ = &sink_;
  pipeline_.reset();
  // Each counting thread holds a few descriptors: no more threads than the limit allows.
  const unsigned threads = ThreadsWithinOpenFileLimit(options_.threads, platform::OpenFileLimit());
  if (threads > 1) {
    try {
      pipeline_ = std::make_unique<CCountingPipeline>(sink_, disk_, threads - 1, totals,
                                                      options_.keepGoing, options_.startThread);
    } catch (const std::bad_alloc&) {
      pipeline_.reset();
    }
    // Without a worker (the memory for its thread was not there), count on this thread.
    if (pipeline_ && !pipeline_->HasWorkers()) pipeline_.reset();
    if (pipeline_) {
      out_ = pipeline_.get();
      disk_.LendThreads(pipeline_.get());  // folders are opened and listed ahead on them
    }
  }
  HResult status = Walk(relativeFolder, totals);
  if (pipeline_) {
    disk_.LendThreads(nullptr);
    // The first failure in walk order is the one the sink was told of.
    const HResult released = pipeline_->Finish();
    if (Failed(released)) status = released;
    pipeline_.reset();
  }
  out_ = &sink_;
  return status;
}

// With keepGoing, notes failure as the walk's first unless there was one, and answers true:
// the walk passes over what failed. Otherwise false: the failure ends the walk.
bool CTreeWalk::KeepGoing(HResult failure) {
  if (!options_.keepGoing) return false;
  if (Succeeded(firstFailure_)) firstFailure_ = failure;
  return true;
}

HResult CTreeWalk::Walk(WStringView relativeFolder, LineStats& totals) {
  walked_.Clear();
  counted_.Clear();
  stopped_ = false;
  firstFailure_ = hr::kOk;
  try {
    // Reserved once: the longest relative path a level can have, so appending a name never
    // moves the text.
    relativePath_.reserve(kLongPathCapacity);
    if (filter_ != nullptr) filterPath_.reserve(kLongPathCapacity);
    if (!file_) file_ = disk_.NewFile();
  } catch (const std::bad_alloc&) {
    return HResultFromWin32(win32err::kOutOfMemory);
  }
  relativePath_.assign(relativeFolder.substr(0, kLongPathCapacity - 1));
  filterPath_.clear();

  std::unique_ptr<platform::IFolder> root;
  switch (disk_.OpenFolder(JoinPath(sourcePath_, relativePath_, separator_), root)) {
    case platform::FolderOpen::kOpened:
      break;
    case platform::FolderOpen::kPathFailed:
      return LastErrorResult();  // no message, as when any folder's path cannot be formed
    case platform::FolderOpen::kFailed: {
      const HResult code = LastErrorResult();
      out_->WalkFailed(WalkFailure::kSearchFiles, relativePath_, relativePath_, code);
      return code;
    }
  }
  HResult status = EnterFolder(std::move(root), totals);
  while (Succeeded(status) && !stack_.empty()) {
    platform::IFolder& folder = *stack_.back().folder;
    const WStringView folderPath(relativePath_);
    platform::FolderEntry entry;
    if (stopped_ || !folder.NextEntry(entry)) {
      if (!stopped_ && !ListingEnded()) {
        status = LastErrorResult();
        out_->WalkFailed(WalkFailure::kSearchFolders, folderPath, folderPath, status);
        if (!KeepGoing(status)) break;
        status = hr::kOk;  // the folder's remaining sub-folders are passed over
      }
      LeaveFolder();
      continue;
    }
    if (entry.kind != platform::EntryKind::kFolder) continue;
    if (entry.name == u"." || entry.name == u"..") continue;
    if (!out_->WantsMore()) {
      stopped_ = true;
      continue;
    }
    const std::size_t parentLength = relativePath_.size();
    const std::size_t parentFilterLength = filterPath_.size();
    if (!PushName(entry.name)) {  // the same limit as every path of the walk
      status = HResultFromWin32(win32err::kArithmeticOverflow);
      out_->WalkFailed(WalkFailure::kSearchFolders, folderPath, folderPath, status);
      if (!KeepGoing(status)) break;
      status = hr::kOk;  // this sub-folder is passed over
      continue;
    }
    if (filter_ != nullptr && filter_->Excludes(entry.name, true)) {
      out_->FolderSkipped(relativePath_, FolderSkip::kExcluded);
      PopTo(parentLength, parentFilterLength);
      continue;
    }
    std::unique_ptr<platform::IFolder> child;
    const platform::FolderOpen opened = disk_.OpenSubFolder(folder, entry.name, child);
    if (opened != platform::FolderOpen::kOpened) {
      status = LastErrorResult();
      // Going on, a folder whose path cannot be formed is told like one that cannot be
      // opened: passed over without a word, its files would be missing from the count.
      if (opened == platform::FolderOpen::kFailed || options_.keepGoing) {
        out_->WalkFailed(WalkFailure::kSearchFiles, relativePath_, relativePath_, status);
      }
      if (!KeepGoing(status)) break;
      status = hr::kOk;
      PopTo(parentLength, parentFilterLength);
      continue;
    }
    status = EnterFolder(std::move(child), totals);
  }
  Unwind();
  return Failed(status) ? status : firstFailure_;
}

// Takes the folder whose path relativePath_ holds: passes it over when it was met before,
// otherwise counts its files and, with subdir, puts it on the stack for its sub-folders.
// Going on after a failure, a folder that cannot be listed is left again at once.
HResult CTreeWalk::EnterFolder(std::unique_ptr<platform::IFolder> folder, LineStats& totals) {
  const std::size_t parentLength = stack_.empty() ? 0 : stack_.back().pathLength;
  const std::size_t parentFilterLength = stack_.empty() ? 0 : stack_.back().filterPathLength;
  platform::FolderIdentity identity;
  const bool identityKnown = folder->GetIdentity(identity);
  if (identityKnown) {
    const auto [isAncestor, inserted] = walked_.TryEmplace(identity, true);
    if (!inserted) {
      // A link back to a folder being walked would lead round and round; a folder walked
      // already would count its files twice.
      out_->FolderSkipped(relativePath_,
                          *isAncestor ? FolderSkip::kLinkToAncestor : FolderSkip::kAlreadyWalked);
      PopTo(parentLength, parentFilterLength);
      return hr::kOk;
    }
  }
  stack_.push_back(
      {std::move(folder), relativePath_.size(), filterPath_.size(), identityKnown, identity});
  Level& level = stack_.back();
  if (filter_ != nullptr) {
    entering_ = level.folder.get();
    filter_->EnterFolder(filterPath_, &CTreeWalk::ReadFolderFile, this);
    entering_ = nullptr;
  }
  HResult status = CountFiles(*level.folder, relativePath_, totals);
  if (Succeeded(status) && options_.subdir && !stopped_ &&
      !level.folder->StartListing(platform::ListPass::kFolders)) {
    status = LastErrorResult();
    out_->WalkFailed(WalkFailure::kSearchFolders, relativePath_, relativePath_, status);
  }
  if (Failed(status)) {
    if (!KeepGoing(status)) return status;
    LeaveFolder();
    return hr::kOk;
  }
  if (!options_.subdir || stopped_) LeaveFolder();
  return hr::kOk;
}

HResult CTreeWalk::CountFiles(platform::IFolder& folder, WStringView relativeFolder,
                              LineStats& totals) {
  if (!folder.StartListing(platform::ListPass::kFiles)) {
    const HResult code = LastErrorResult();
    out_->WalkFailed(WalkFailure::kSearchFiles, relativeFolder, relativeFolder, code);
    return code;
  }
  out_->FolderStarted(relativeFolder);
  std::int64_t fileCount = 0;
  platform::FolderEntry entry;
  // With counting threads, they open the folder's files too, through what the folder
  // shares of itself (asked for once, at its first source file).
  std::shared_ptr<const platform::IFolderFiles> shared;
  bool shareAsked = false;
  for (;;) {
    if (!out_->WantsMore()) {
      stopped_ = true;  // as if the tree had no further entries
      break;
    }
    if (!folder.NextEntry(entry)) {
      if (ListingEnded()) break;
      const HResult code = LastErrorResult();
      folder.EndListing();
      out_->WalkFailed(WalkFailure::kSearchFilesEnd, relativeFolder, relativeFolder, code);
      return code;
    }
    // Hidden, system and read-only files count like any other; only folders and (on
    // POSIX) devices, FIFOs and sockets are passed over.
    if (entry.kind != platform::EntryKind::kFile) continue;
    const std::optional<WStringView> extension = FindExtension(entry.name);
    if (!extension) continue;
    const SourceExtension* row = FindSourceExtension(*extension);
    if (row == nullptr || (row->isHeader && options_.noHeader)) continue;
    if (filter_ != nullptr && filter_->Excludes(entry.name, false)) continue;
    // A file reached again, through a link or another link, is counted once. Its identity
    // comes with the listing (on POSIX, the inode of the listing's entry, or of the file
    // the link leads to), so a tree without links costs no call to the disk for it.
    platform::FileIdentity identity;
    if (folder.GetEntryIdentity(identity) && !counted_.Insert(identity)) {
      out_->FileSkipped(relativeFolder, entry.name, FileSkip::kAlreadyCounted);
      continue;
    }
    HResult status;
    if (pipeline_ && !shareAsked) {
      shareAsked = true;
      shared = folder.ShareFiles();
    }
    if (shared) {
      status = pipeline_->CountFileOf(shared, relativeFolder, entry.name, entry.regular)
                   ? hr::kOk
                   : hr::kFalse;
    } else {
      status = CountFile(folder, relativeFolder, entry.name, totals);
    }
    if (status == hr::kFalse) {
      stopped_ = true;  // the pipeline takes no more files
      break;
    }
    if (Succeeded(status)) {
      ++fileCount;
    } else if (!KeepGoing(status)) {
      folder.EndListing();
      return status;
    }
  }
  folder.EndListing();
  out_->FolderFinished(relativeFolder, fileCount);
  return hr::kOk;
}

// Counts the source file name of folder, here or on a worker, and tells the sink when it
// fails here. Answers 0, hr::kFalse when nothing more is to be opened, or the failure.
HResult CTreeWalk::CountFile(platform::IFolder& folder, WStringView relativeFolder,
                             WStringView name, LineStats& totals) {
  if (pipeline_) {
    // Opened here, where the folder is open; counted by a worker; told in walk order.
    platform::IReadFile* file = pipeline_->NextFile();
    if (file == nullptr) return hr::kFalse;
    if (!folder.OpenFile(name, *file)) {
      const HResult status = LastErrorResult();
      out_->WalkFailed(WalkFailure::kProcessFile, relativeFolder, name, status);
      return status;
    }
    pipeline_->CountFile(relativeFolder, name);
    return hr::kOk;
  }
  LineStats record;
  record.Reset();
  const HResult status =
      folder.OpenFile(name, *file_) ? counter_.Count(*file_, record) : LastErrorResult();
  if (Failed(status)) {
    out_->WalkFailed(WalkFailure::kProcessFile, relativeFolder, name, status);
    return status;
  }
  totals.AddFile(record);
  sink_.FileCounted(relativeFolder, name, record);
  return hr::kOk;
}

// Closes the folder on top of the stack and goes back to its parent.
void CTreeWalk::LeaveFolder() {
  Level& level = stack_.back();
  level.folder->EndListing();
  if (level.identityKnown) {
    if (bool* isAncestor = walked_.Find(level.identity)) *isAncestor = false;  // walked
  }
  if (filter_ != nullptr) filter_->LeaveFolder();
  stack_.pop_back();
  if (stack_.empty()) {
    PopTo(0, 0);
  } else {
    PopTo(stack_.back().pathLength, stack_.back().filterPathLength);
  }
}

// Leaves every folder still open, the deepest first (a folder may need its parent to close).
void CTreeWalk::Unwind() {
  while (!stack_.empty()) LeaveFolder();
}

// Appends name to the relative paths as a sub-folder of the current folder; false when the
// result would not fit a path of the walk.
bool CTreeWalk::PushName(WStringView name) {
  const bool needsSeparator = relativePath_.empty() || relativePath_.back() != separator_;
  if (relativePath_.size() + (needsSeparator ? 1 : 0) + name.size() >= kLongPathCapacity) {
    return false;
  }
  if (needsSeparator) relativePath_ += separator_;
  relativePath_ += name;
  if (filter_ != nullptr) {
    if (!filterPath_.empty()) filterPath_ += u'/';
    filterPath_ += name;
  }
  return true;
}

void CTreeWalk::PopTo(std::size_t pathLength, std::size_t filterPathLength) {
  relativePath_.resize(pathLength);
  filterPath_.resize(filterPathLength);
}

bool CTreeWalk::ReadFolderFile(void* context, WStringView name, std::string& text) {
  auto& walk = *static_cast<CTreeWalk*>(context);
  text.clear();
  if (walk.entering_ == nullptr) return false;
  const platform::LastErrorKeeper keeper;  // an unreadable ignore file fails nothing
  try {
    if (!walk.folderFile_) walk.folderFile_ = walk.disk_.NewFile();
    platform::IReadFile& file = *walk.folderFile_;
    if (!walk.entering_->OpenFileRefusingLink(name, file)) {
      if (platform::GetLastErrorCode() == win32err::kCantResolveFilename) {
        // git reads no rules through a link and warns; so does the walk.
        WString path = walk.relativePath_;
        if (path.empty() || path.back() != walk.separator_) path += walk.separator_;
        path += name;
        walk.out_->FolderSkipped(path, FolderSkip::kIgnoreFileLink);
      }
      return false;
    }
    char buffer[16384];
    for (;;) {
      std::size_t got = 0;
      if (!file.Read(buffer, sizeof(buffer), got)) {
        file.Close();
        text.clear();
        return false;
      }
      if (got == 0) break;
      text.append(buffer, got);
    }
    file.Close();
    return true;
  } catch (const std::bad_alloc&) {
    if (walk.folderFile_) walk.folderFile_->Close();
    text.clear();
    return false;
  }
}

}  // namespace srctally
