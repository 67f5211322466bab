// The file system on Windows: FindFirstFileW/FindNextFileW over extended-length patterns,
// "*.*" for the files pass and "*" for the folders pass, in the order the system lists;
// files opened with CreateFileW, writers denied; a folder's identity from
// GetFileInformationByHandle.
//
// One path buffer serves every level: it holds the extended-length path of the folder
// being walked, a sub-folder appends its name and each level remembers its own length, so
// going down or up a level costs the length of one name, not of the whole path.
#include "platform/disk.h"

#include <windows.h>

#include <string>

#include "base/status.h"
#include "input/long_path.h"
#include "platform/file.h"
#include "platform/last_error.h"

namespace srctally::platform {
namespace {

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

// A full path with '/' turned into '\': an extended-length path is taken literally, and
// '/' can be no part of a Windows name.
WString WithBackslashes(WStringView path) {
  WString text(path);
  for (char16_t& ch : text) ch = ch == u'/' ? u'\\' : ch;
  return text;
}

class Win32File final : public IReadFile {
 public:
  bool Open(WStringView path, bool refuseLink = false) {
    FileOpenMode mode;  // read, writers denied
    mode.refuseLink = refuseLink;
    return file_.Open(FileLocation{path}, mode);
  }
  bool Read(void* buffer, std::size_t size, std::size_t& bytesRead) override {
    return file_.Read(buffer, size, bytesRead);
  }
  bool GetSize(std::int64_t& size) override { return file_.GetSize(size); }
  void Close() override { file_.Close(); }

 private:
  File file_;
};

class Win32Disk;

class Win32Folder final : public IFolder {
 public:
  Win32Folder(WString& path, std::size_t length) : path_(path), length_(length) {
    identityKnown_ = ReadIdentity(PathWith(u""), identity_);
  }
  ~Win32Folder() override { EndListing(); }

  bool GetIdentity(FolderIdentity& identity) const override {
    identity = identity_;
    return identityKnown_;
  }

  bool StartListing(ListPass pass) override {
    EndListing();
    find_ = ::FindFirstFileW(Wide(PathWith(pass == ListPass::kFiles ? u"*.*" : u"*")), &data_);
    if (find_ == INVALID_HANDLE_VALUE) return false;
    pending_ = true;
    return true;
  }

  bool NextEntry(FolderEntry& entry) override {
    if (find_ == INVALID_HANDLE_VALUE) {
      ::SetLastError(ERROR_NO_MORE_FILES);
      return false;
    }
    if (pending_) {
      pending_ = false;
    } else if (!::FindNextFileW(find_, &data_)) {
      return false;
    }
    entry.name = reinterpret_cast<const char16_t*>(data_.cFileName);
    entry.kind = (data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::kFolder
                                                                          : EntryKind::kFile;
    return true;
  }

  void EndListing() override {
    if (find_ != INVALID_HANDLE_VALUE) {
      const LastErrorKeeper keeper;
      ::FindClose(find_);
      find_ = INVALID_HANDLE_VALUE;
    }
    pending_ = false;
  }

  bool OpenFile(WStringView name, IReadFile& file) override {
    if (!FitsName(name.size())) return false;
    const WString fileName(name);
    return static_cast<Win32File&>(file).Open(PathWith(fileName.c_str()));
  }

  bool OpenFileRefusingLink(WStringView name, IReadFile& file) override {
    if (!FitsName(name.size())) return false;
    const WString fileName(name);
    return static_cast<Win32File&>(file).Open(PathWith(fileName.c_str()), true);
  }

  // The path of the sub-folder name in the shared buffer; false (last error set) when it
  // would not fit an extended-length path.
  bool MakeChildPath(WStringView name, std::size_t& length) {
    if (!FitsName(name.size())) return false;
    SetTo(length_);
    path_ += name;
    length = path_.size();
    return true;
  }

 private:
  // Room for a separator, name and the NUL.
  bool FitsName(std::size_t nameLength) const {
    if (length_ + 1 + nameLength + 1 <= kLongPathCapacity) return true;
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }

  // Cuts the shared buffer back to this folder's path and ends it with a separator.
  void SetTo(std::size_t length) {
    path_.resize(length);
    if (path_.empty() || path_.back() != u'\\') path_ += u'\\';
  }

  // This folder's path, a separator and more, as a terminated text in the shared buffer.
  const char16_t* PathWith(const char16_t* more) {
    SetTo(length_);
    path_ += more;
    return path_.c_str();
  }

  WString& path_;
  std::size_t length_;
  HANDLE find_ = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW data_{};
  bool pending_ = false;  // FindFirstFileW delivered an entry not yet handed out
  bool identityKnown_ = false;
  FolderIdentity identity_;
};

class Win32Disk final : public IDisk {
 public:
  std::unique_ptr<IReadFile> NewFile() override { return std::make_unique<Win32File>(); }

  FolderOpen OpenFolder(WStringView fullPath, std::unique_ptr<IFolder>& folder) override {
    const WString text = WithBackslashes(fullPath);
    LongPath extended;
    if (!extended.Set(text.c_str())) return FolderOpen::kPathFailed;
    path_.reserve(kLongPathCapacity + 4);
    path_.assign(extended.view());
    // Without its final separator, unless that is all a root has ("\\?\C:\").
    if (path_.size() > 1 && path_.back() == u'\\' && path_[path_.size() - 2] != u':') {
      path_.pop_back();
    }
    folder = std::make_unique<Win32Folder>(path_, path_.size());
    return FolderOpen::kOpened;
  }

  FolderOpen OpenSubFolder(IFolder& parent, WStringView name,
                           std::unique_ptr<IFolder>& folder) override {
    std::size_t length = 0;
    if (!static_cast<Win32Folder&>(parent).MakeChildPath(name, length)) {
      return FolderOpen::kPathFailed;
    }
    folder = std::make_unique<Win32Folder>(path_, length);
    return FolderOpen::kOpened;
  }

  bool OpenFile(WStringView fullPath, IReadFile& file) override {
    const WString text = WithBackslashes(fullPath);
    if (!filePath_.Set(text.c_str())) return false;
    return static_cast<Win32File&>(file).Open(filePath_.view());
  }

 private:
  WString path_;  // the extended-length path of the folder being walked
  LongPath filePath_;
};

}  // namespace

IDisk& SystemDisk() {
  static Win32Disk disk;
  return disk;
}

}  // namespace srctally::platform
