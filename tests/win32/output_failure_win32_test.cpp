// Runs of the built program whose standard output cannot be written: a handle opened for
// reading only. Exit code 0 must mean the whole report (or usage) was written.
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

struct ChildRun {
  DWORD exitCode = 0;
  std::string errorBytes;
};

// Runs the program on dir and option with standard output on a file opened for reading
// only and standard error on a pipe.
ChildRun RunWithReadOnlyOutput(const testing::TempDir& dir, const std::wstring& option) {
  ChildRun run;
  const std::filesystem::path readOnly = dir.Write("out.txt", "");
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE output = ::CreateFileW(readOnly.c_str(), GENERIC_READ, FILE_SHARE_READ, &inheritable,
                                      OPEN_EXISTING, 0, nullptr);
  if (output == INVALID_HANDLE_VALUE) return run;
  HANDLE errorRead = nullptr;
  HANDLE errorWrite = nullptr;
  if (!::CreatePipe(&errorRead, &errorWrite, &inheritable, 0)) {
    ::CloseHandle(output);
    return run;
  }
  ::SetHandleInformation(errorRead, HANDLE_FLAG_INHERIT, 0);

  const std::wstring program = WindowsPath(SRCTALLY_EXE);
  std::wstring commandLine =
      L"\"" + program + L"\" \"" + dir.path().wstring() + L"\" " + option;
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
  if (!started) {
    ::CloseHandle(errorRead);
    return run;
  }
  char buffer[4096];
  DWORD count = 0;
  while (::ReadFile(errorRead, buffer, sizeof(buffer), &count, nullptr) && count > 0) {
    run.errorBytes.append(buffer, count);
  }
  ::CloseHandle(errorRead);
  ::WaitForSingleObject(process.hProcess, INFINITE);
  ::GetExitCodeProcess(process.hProcess, &run.exitCode);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return run;
}

TEST(OutputFailureWin32Test, AnUnwrittenReportExitsWithTwoAndSaysWhyOnStandardError) {
  testing::TempDir dir;
  dir.Write("a.c", "int a;\n");
  const ChildRun run = RunWithReadOnlyOutput(dir, L"/subdir");
  EXPECT_EQ(run.exitCode, 2u);
  // Standard error on a pipe is UTF-8: one line, the message and the system's text for
  // access denied.
  const std::string message = "ERROR: the report could not be written to standard output: ";
  EXPECT_EQ(run.errorBytes.rfind(message, 0), 0u) << run.errorBytes;
  EXPECT_TRUE(run.errorBytes.ends_with("(5)\r\n")) << run.errorBytes;
  EXPECT_EQ(run.errorBytes.find('\n'), run.errorBytes.size() - 1) << run.errorBytes;
}

// The usage asked for is an answer like a report: unwritten, the run failed.
TEST(OutputFailureWin32Test, AnUnwrittenUsageExitsWithTwo) {
  testing::TempDir dir;
  for (const wchar_t* option : {L"/?", L"--help"}) {
    const ChildRun run = RunWithReadOnlyOutput(dir, option);
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_TRUE(run.errorBytes.ends_with("(5)\r\n")) << run.errorBytes;
  }
}

}  // namespace
}  // namespace srctally
