// The cost of one file-system call against the depth of the folder it names, for the calls
// the Windows disk makes per folder and for the ones it could make instead. Under wine each
// of these costs grows with the depth of the path; on Windows it should not.
//   win32_depth <base> <depth> [loops]
// base is an extended-length folder path (\\?\Z:\tmp\deep) holding a chain of sub-folders
// each named "d"; the calls name base\d\d...\d, depth levels down. Prints microseconds per
// call, one line per depth. bench/win32_depth.sh builds it, makes the tree and runs it under
// wine at several depths.
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <cwchar>
#include <string>

extern "C" NTSTATUS NTAPI NtCreateFile(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                       PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);

namespace {

double Seconds() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER count;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&count);
  return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

HANDLE OpenFolder(const std::wstring& path) {
  return ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Runs call loops times and prints its name with the microseconds one call took.
template <typename Call>
void Time(const char* name, int loops, Call call) {
  const double start = Seconds();
  for (int i = 0; i < loops; ++i) call();
  std::printf(" %s=%.0f", name, (Seconds() - start) / loops * 1e6);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: win32_depth <base> <depth> [loops]\n");
    return 2;
  }
  const int depth = static_cast<int>(std::wcstol(argv[2], nullptr, 10));
  const int loops = argc > 3 ? static_cast<int>(std::wcstol(argv[3], nullptr, 10)) : 20;
  std::wstring path = argv[1];
  for (int i = 0; i < depth; ++i) path += L"\\d";
  const std::wstring parent = path.substr(0, path.size() - 2);

  std::printf("depth=%d", depth);
  HANDLE folder = OpenFolder(path);
  if (folder == INVALID_HANDLE_VALUE) {
    std::printf(" open failed: error %lu\n", ::GetLastError());
    return 1;
  }
  // What the disk does per folder today: an open for the identity, the identity, and two
  // searches, each of which opens the folder by its full path again.
  Time("open_us", loops, [&] { ::CloseHandle(OpenFolder(path)); });
  Time("file_information_us", loops, [&] {
    BY_HANDLE_FILE_INFORMATION info;
    ::GetFileInformationByHandle(folder, &info);
  });
  const std::wstring pattern = path + L"\\*";
  Time("find_first_us", loops, [&] {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW(pattern.c_str(), &data);
    while (::FindNextFileW(find, &data)) {
    }
    ::FindClose(find);
  });
  // What it could do instead: an identity without the volume, or with it from FILE_ID_INFO;
  // a listing read again from the handle already open; an open relative to the parent.
  Time("file_id_info_us", loops, [&] {
    FILE_ID_INFO id;
    ::GetFileInformationByHandleEx(folder, FileIdInfo, &id, sizeof id);
  });
  Time("internal_index_us", loops, [&] {
    IO_STATUS_BLOCK status;
    ULONGLONG index = 0;
    ::NtQueryInformationFile(folder, &status, &index, sizeof index,
                             static_cast<FILE_INFORMATION_CLASS>(6));  // FileInternalInformation
  });
  Time("handle_listing_us", loops, [&] {
    alignas(8) static unsigned char buffer[65536];
    ::GetFileInformationByHandleEx(folder, FileFullDirectoryRestartInfo, buffer, sizeof buffer);
    while (::GetFileInformationByHandleEx(folder, FileFullDirectoryInfo, buffer, sizeof buffer)) {
    }
  });
  ::CloseHandle(folder);
  HANDLE parentFolder = OpenFolder(parent);
  wchar_t childName[] = L"d";
  UNICODE_STRING name;
  name.Buffer = childName;
  name.Length = sizeof(wchar_t);
  name.MaximumLength = sizeof childName;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, parentFolder, nullptr);
  Time("relative_open_us", loops, [&] {
    HANDLE child;
    IO_STATUS_BLOCK status;
    if (NtCreateFile(
            &child, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &status,
            nullptr, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
            FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT,
            nullptr, 0) >= 0) {
      ::CloseHandle(child);
    }
  });
  ::CloseHandle(parentFolder);
  std::printf("\n");
  return 0;
}
