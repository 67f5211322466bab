// A run of the built program whose standard output cannot be written: a handle opened for
// reading only. Exit code 0 must mean the whole report was written.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "testing/temp_dir.h"

namespace srctally {
namespace {

std::wstring WindowsPath(const std::string& linuxPath) {
  std::wstring wide(linuxPath.begin(), linuxPath.end());  // the build folder is ASCII
  if (!wide.empty() && wide[0] == L'/') {
    for (auto& ch : wide) {
      if (ch == L'/') ch = L'\\';
    }
    wide = L"Z:" + wide;
  }
  return wide;
}

TEST(OutputFailureWin32Test, AnUnwrittenReportExitsWithTwoAndSaysWhyOnStandardError) {
  testing::TempDir dir;
  dir.Write("a.c", "int a;\n");
  const std::filesystem::path readOnly = dir.Write("out.txt", "");
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE output = ::CreateFileW(readOnly.c_str(), GENERIC_READ, FILE_SHARE_READ, &inheritable,
                                      OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(output, INVALID_HANDLE_VALUE);
  HANDLE errorRead = nullptr;
  HANDLE errorWrite = nullptr;
  ASSERT_TRUE(::CreatePipe(&errorRead, &errorWrite, &inheritable, 0));
  ::SetHandleInformation(errorRead, HANDLE_FLAG_INHERIT, 0);

  const std::wstring program = WindowsPath(SRCTALLY_EXE);
  std::wstring commandLine = L"\"" + program + L"\" \"" + dir.path().wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output;
  startup.hStdError = errorWrite;
  PROCESS_INFORMATION process{};
  const BOOL started = ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        0, nullptr, nullptr, &startup, &process);
  ::CloseHandle(errorWrite);
  ::CloseHandle(output);
  ASSERT_TRUE(started) << ::GetLastError();
  std::string errorBytes;
  char buffer[4096];
  DWORD count = 0;
  while (::ReadFile(errorRead, buffer, sizeof(buffer), &count, nullptr) && count > 0) {
    errorBytes.append(buffer, count);
  }
  ::CloseHandle(errorRead);
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  ::GetExitCodeProcess(process.hProcess, &exitCode);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);

  EXPECT_EQ(exitCode, 2u);
  // Standard error is UTF-16: one message, then the system's text for access denied.
  const std::wstring message(reinterpret_cast<const wchar_t*>(errorBytes.data()),
                             errorBytes.size() / 2);
  EXPECT_EQ(message.rfind(L"ERROR: the report could not be written to standard output.\r\n", 0),
            0u);
  EXPECT_NE(message.find(L"(5)\r\n"), std::wstring::npos);
  EXPECT_EQ(message.find(L"ERROR", 1), std::wstring::npos);
}

}  // namespace
}  // namespace srctally
