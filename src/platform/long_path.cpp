// Extended-length path text: prefixes, canonical form, joining, and the LongPath buffer.
#include "platform/long_path.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "base/status.h"
#include "platform/last_error.h"

namespace srctally {
namespace {
constexpr std::uint32_t kFilenameTooLong = 206;  // ERROR_FILENAME_EXCED_RANGE
constexpr char16_t kBackslash = u'\\';
constexpr char16_t kExtendedPrefix[] = u"\\\\?\\";
constexpr char16_t kExtendedUncPrefix[] = u"\\\\?\\UNC\\";
constexpr std::size_t kExtendedPrefixLength = 4;
constexpr std::size_t kExtendedUncPrefixLength = 8;

std::size_t Length(const char16_t* text) { return std::char_traits<char16_t>::length(text); }

bool Fail(std::uint32_t code) {
  platform::SetLastErrorCode(code);
  return false;
}

bool StartsWith(const char16_t* text, const char16_t* prefix, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] != prefix[i]) return false;  // also stops at the end of text
  }
  return true;
}

bool IsUnc(const char16_t* path) { return path[0] == kBackslash && path[1] == kBackslash; }

// Relative unless it begins with a backslash or has a colon as its second character.
bool IsRelative(const char16_t* path) {
  return !(path[0] == kBackslash || (path[0] != 0 && path[1] == u':'));
}

// The part CanonicalizePath copies unchanged: "\\?\UNC\", "\\?\", a UNC path's "\\".
std::size_t PrefixLength(const char16_t* path) {
  if (HasExtendedUncPrefix(path)) return kExtendedUncPrefixLength;
  if (HasExtendedPrefix(path)) return kExtendedPrefixLength;
  if (IsUnc(path)) return 2;
  return 0;
}

bool IsDriveRoot(const char16_t* rest) {
  return rest[0] != 0 && rest[1] == u':' && rest[2] == kBackslash && rest[3] == 0;
}

bool HasAtMostOneBackslash(const char16_t* rest) {
  int count = 0;
  for (; *rest != 0; ++rest) count += *rest == kBackslash ? 1 : 0;
  return count <= 1;
}
}  // namespace

bool HasExtendedPrefix(const char16_t* path) {
  return path != nullptr && StartsWith(path, kExtendedPrefix, kExtendedPrefixLength);
}

bool HasExtendedUncPrefix(const char16_t* path) {
  return path != nullptr && StartsWith(path, kExtendedUncPrefix, kExtendedUncPrefixLength);
}

bool CanonicalizePath(char16_t* output, const char16_t* path) {
  if (output == nullptr) return Fail(win32err::kInvalidParameter);
  if (path != output) output[0] = 0;
  if (path == nullptr) return Fail(win32err::kInvalidParameter);
  // The result is never longer than the text (a bare drive gains one backslash but is
  // short), so a text that fits can be canonicalised without a check per character.
  if (Length(path) >= kLongPathCapacity) return Fail(kFilenameTooLong);

  const std::size_t prefix = PrefixLength(path);
  for (std::size_t i = 0; i < prefix; ++i) output[i] = path[i];
  char16_t* const body = output + prefix;
  char16_t* write = body;
  const char16_t* read = path + prefix;
  // Writing never gets ahead of reading, so output may be path itself.
  bool componentStart = true;
  while (*read != 0) {
    if (componentStart && read[0] == u'.') {
      if (read[1] == kBackslash || read[1] == 0) {  // "."
        ++read;
        if (write > body) {
          --write;  // the separator in front of the component
        } else if (*read == kBackslash) {
          ++read;  // nothing in front to take back: drop the separator behind it
        }
        continue;
      }
      if (read[1] == u'.' && (read[2] == kBackslash || read[2] == 0)) {  // ".."
        read += 2;
        if (write == body) {  // nothing to go back over
          if (*read == kBackslash) ++read;
          continue;
        }
        char16_t* back = write - body >= 2 ? write - 2 : body;
        while (back > body && *back != kBackslash && *back != u':') --back;
        if (*back == kBackslash) {
          write = back;  // the separator after ".." is copied over it
        } else if (*back == u':') {
          write = back + 1;  // never above a drive's root
        } else {
          write = body;
          if (*read == kBackslash) ++read;
        }
        continue;
      }
    }
    componentStart = *read == kBackslash;
    *write++ = *read++;
  }
  while (write > body && write[-1] == u'.') --write;
  if (write - body == 2 && body[1] == u':') *write++ = kBackslash;
  *write = 0;
  return true;
}

bool MakeExtendedPath(char16_t* output, const char16_t* path, FullPathResolver resolve) {
  if (output == nullptr || path == nullptr) return Fail(win32err::kInvalidParameter);
  if (HasExtendedPrefix(path)) return CanonicalizePath(output, path);
  if (IsUnc(path)) {
    // \\server\share\x becomes \\?\UNC\server\share\x.
    const std::size_t length = Length(path);
    if (length - 2 + kExtendedUncPrefixLength >= kLongPathCapacity) return Fail(kFilenameTooLong);
    std::memmove(output + kExtendedUncPrefixLength, path + 2, (length - 1) * sizeof(char16_t));
    std::memcpy(output, kExtendedUncPrefix, kExtendedUncPrefixLength * sizeof(char16_t));
    return CanonicalizePath(output, output);
  }
  WString full;
  const std::size_t capacity = kLongPathCapacity - kExtendedPrefixLength;
  if (!resolve(WStringView(path), full, capacity)) return false;
  if (full.size() >= capacity) return Fail(kFilenameTooLong);
  std::memcpy(output, kExtendedPrefix, kExtendedPrefixLength * sizeof(char16_t));
  std::memcpy(output + kExtendedPrefixLength, full.c_str(), (full.size() + 1) * sizeof(char16_t));
  return true;
}

char16_t* CombinePath(char16_t* output, const char16_t* folder, const char16_t* file,
                      FullPathResolver resolve) {
  if (output == nullptr) {
    Fail(win32err::kInvalidParameter);
    return nullptr;
  }
  if (folder == nullptr && file == nullptr) {
    output[0] = 0;
    return output;
  }
  if (file != nullptr && HasExtendedPrefix(file)) {
    return CanonicalizePath(output, file) ? output : nullptr;
  }
  if (file != nullptr && (!IsRelative(file) || IsUnc(file))) {
    return MakeExtendedPath(output, file, resolve) ? output : nullptr;
  }
  // A missing folder or file joins like an empty one.
  const std::size_t folderLength = folder != nullptr ? Length(folder) : 0;
  const std::size_t fileLength = file != nullptr ? Length(file) : 0;
  const bool separator =
      fileLength > 0 && folderLength > 0 && folder[folderLength - 1] != kBackslash;
  if (folderLength + (separator ? 1 : 0) + fileLength >= kLongPathCapacity) {
    Fail(kFilenameTooLong);
    return nullptr;
  }
  if (folder != output && folderLength > 0) {
    std::memmove(output, folder, folderLength * sizeof(char16_t));
  }
  output[folderLength] = 0;
  char16_t* end = output + folderLength;
  if (fileLength > 0) {
    end = AddBackslash(output);
    std::memcpy(end, file, fileLength * sizeof(char16_t));
    end[fileLength] = 0;
  }
  return CanonicalizePath(output, output) ? output : nullptr;
}

bool AppendPath(char16_t* path, const char16_t* more, FullPathResolver resolve) {
  if (HasExtendedPrefix(more)) return CanonicalizePath(path, more);
  if (path == nullptr || more == nullptr) return Fail(win32err::kInvalidParameter);
  if (!IsUnc(more)) {
    while (*more == kBackslash) ++more;
  }
  return CombinePath(path, path, more, resolve) != nullptr;
}

char16_t* AddBackslash(char16_t* path) {
  if (path == nullptr) return nullptr;
  std::size_t length = Length(path);
  if (length >= kLongPathCapacity - 1) return nullptr;
  if (length == 0) return path;
  if (path[length - 1] != kBackslash) {
    path[length++] = kBackslash;
    path[length] = 0;
  }
  return path + length;
}

bool IsRoot(const char16_t* path) {
  if (path == nullptr || path[0] == 0) return false;
  if (HasExtendedUncPrefix(path)) return HasAtMostOneBackslash(path + kExtendedUncPrefixLength);
  if (HasExtendedPrefix(path)) return IsDriveRoot(path + kExtendedPrefixLength);
  if (IsUnc(path)) return HasAtMostOneBackslash(path + 2);
  return IsDriveRoot(path);
}

bool RemoveFileSpec(char16_t* path) {
  if (path == nullptr || path[0] == 0) return false;
  char16_t* const rest = path + PrefixLength(path);
  char16_t* cut = rest;
  for (char16_t* at = rest; *at != 0; ++at) {
    if (*at == kBackslash) {
      cut = at;
    } else if (*at == u':') {
      if (at[1] == kBackslash) {
        ++at;  // the drive's root separator stays
      }
      cut = at + 1;
    }
  }
  if (*cut == 0) return false;
  *cut = 0;
  return true;
}

bool StripToRoot(char16_t* path) {
  if (path == nullptr) return false;
  for (;;) {
    if (IsRoot(path)) return true;
    if (!RemoveFileSpec(path)) return false;
  }
}

bool LongPath::Set(const char16_t* text) {
  if (text == nullptr) return Fail(win32err::kInvalidParameter);
  if (buffer_ == nullptr) {
    buffer_ = new (std::nothrow) char16_t[kLongPathCapacity];
    if (buffer_ == nullptr) return Fail(win32err::kOutOfMemory);
    buffer_[0] = 0;
  }
  if (!verbatim_) return MakeExtendedPath(buffer_, text, resolve_);
  const std::size_t length = Length(text);
  if (length >= kLongPathCapacity) return Fail(platform::Win32ErrorFromErrno(ERANGE));
  std::memmove(buffer_, text, (length + 1) * sizeof(char16_t));
  return true;
}

bool LongPath::Append(const char16_t* text) {
  if (buffer_ == nullptr) return Set(text);
  return AppendPath(buffer_, text, resolve_);
}

void LongPath::Release() {
  delete[] buffer_;
  buffer_ = nullptr;
}

}  // namespace srctally
