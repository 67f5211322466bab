// Folder listings on Windows: FindFirstFileW/FindNextFileW over extended-length patterns,
// "*.*" for the files pass and "*" for the folders pass, in the order the system lists.
#include "platform/folder_search.h"

#include <windows.h>

#include "input/long_path.h"
#include "platform/last_error.h"

namespace srctally::platform {
namespace {
// The walk's two shared path buffers: the pattern of the folder being listed and the full
// path of the file being counted. Each level is done with them before it descends.
LongPath searchPath;
LongPath filePath;

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// The identity of the folder at path; false when it cannot be opened or asked.
bool ReadIdentity(const char16_t* path, FolderIdentity& identity) {
  const LastErrorKeeper keeper;  // a folder that cannot be asked is no failure of the walk
  HANDLE folder = ::CreateFileW(Wide(path), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = ::GetFileInformationByHandle(folder, &info) != FALSE;
  ::CloseHandle(folder);
  if (known) {
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  }
  return known;
}
}  // namespace

struct CFolderSearch::State {
  WString sourcePath;
  // The caller's text, kept alive and unchanged while this level is walked; copying it
  // for every level would make memory grow with the square of the depth.
  WStringView relativeFolder;
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW data{};
  bool pending = false;  // FindFirstFileW delivered an entry not yet handed out
  bool identityKnown = false;
  FolderIdentity identity;
};

CFolderSearch::CFolderSearch(WStringView sourcePath, WStringView relativeFolder)
    : state_(std::make_unique<State>()) {
  state_->sourcePath = sourcePath;
  state_->relativeFolder = relativeFolder;
}

CFolderSearch::CFolderSearch(CFolderSearch& parent, WStringView /*name*/,
                             WStringView relativeFolder)
    : state_(std::make_unique<State>()) {
  state_->sourcePath = parent.state_->sourcePath;
  state_->relativeFolder = relativeFolder;
}

CFolderSearch::~CFolderSearch() { Close(); }

SearchStart CFolderSearch::Start(SearchPass pass) {
  State& state = *state_;
  Close();
  const WString relativeFolder(state.relativeFolder);
  if (!searchPath.Set(state.sourcePath.c_str()) || !searchPath.Append(relativeFolder.c_str())) {
    return SearchStart::kPathFailed;
  }
  if (pass == SearchPass::kFiles) {
    state.identityKnown = ReadIdentity(searchPath.c_str(), state.identity);
  }
  if (!searchPath.Append(pass == SearchPass::kFiles ? u"*.*" : u"*")) return SearchStart::kFailed;
  state.find = ::FindFirstFileW(Wide(searchPath.c_str()), &state.data);
  if (state.find == INVALID_HANDLE_VALUE) return SearchStart::kFailed;
  state.pending = true;
  return SearchStart::kStarted;
}

bool CFolderSearch::Next(FolderEntry& entry) {
  State& state = *state_;
  if (state.find == INVALID_HANDLE_VALUE) {
    ::SetLastError(ERROR_NO_MORE_FILES);
    return false;
  }
  if (state.pending) {
    state.pending = false;
  } else if (!::FindNextFileW(state.find, &state.data)) {
    return false;
  }
  entry.name = reinterpret_cast<const char16_t*>(state.data.cFileName);
  entry.kind = (state.data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::kFolder
                                                                             : EntryKind::kFile;
  return true;
}

void CFolderSearch::Close() {
  State& state = *state_;
  if (state.find != INVALID_HANDLE_VALUE) {
    const LastErrorKeeper keeper;
    ::FindClose(state.find);
    state.find = INVALID_HANDLE_VALUE;
  }
  state.pending = false;
}

bool CFolderSearch::GetIdentity(FolderIdentity& identity) const {
  if (!state_->identityKnown) return false;
  identity = state_->identity;
  return true;
}

bool CFolderSearch::LocateFile(WStringView name, FileLocation& location) {
  const WString fileName(name);
  const WString relativeFolder(state_->relativeFolder);
  if (!filePath.Set(state_->sourcePath.c_str()) || !filePath.Append(relativeFolder.c_str()) ||
      !filePath.Append(fileName.c_str())) {
    return false;
  }
  location.path = filePath.view();
  location.folder = -1;
  return true;
}

}  // namespace srctally::platform
