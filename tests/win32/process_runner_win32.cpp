// The Windows process runner: CreateProcessW with standard output on a pipe.
#include <windows.h>

#include <thread>

#include "testing/process_runner.h"

namespace srctally::testing {
namespace {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
  return wide;
}

/// "/x/y" (a Linux path, as the build knows its outputs) is Z:\x\y for a program under wine.
std::wstring ProgramPath(const std::string& path) {
  std::wstring wide = Widen(path);
  if (!wide.empty() && wide[0] == L'/') {
    for (auto& ch : wide) {
      if (ch == L'/') ch = L'\\';
    }
    wide = L"Z:" + wide;
  }
  return wide;
}

/// Quotes one argument so the C runtime's parser gives it back unchanged.
void AppendQuoted(std::wstring& line, const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t ch : argument) {
    if (ch == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(ch == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += ch;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

/// The caller's environment block with extraEnv merged in.
std::wstring EnvironmentBlock(const std::map<std::string, std::string>& extraEnv) {
  std::vector<std::pair<std::wstring, std::wstring>> extra;
  for (const auto& [name, value] : extraEnv) extra.emplace_back(Widen(name), Widen(value));
  std::wstring block;
  wchar_t* strings = ::GetEnvironmentStringsW();
  for (const wchar_t* entry = strings; entry != nullptr && *entry != L'\0';
       entry += wcslen(entry) + 1) {
    const std::wstring text = entry;
    const std::size_t equals = text.find(L'=', 1);  // "=C:=C:\x" entries start with '='
    bool replaced = false;
    for (const auto& pair : extra)
      replaced = replaced || SameName(text.substr(0, equals), pair.first);
    if (!replaced) block += text + L'\0';
  }
  if (strings != nullptr) ::FreeEnvironmentStringsW(strings);
  for (const auto& [name, value] : extra) block += name + L'=' + value + L'\0';
  block += L'\0';
  return block;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& extraEnv,
                         const std::filesystem::path& workingDir, ChildError error) {
  ProcessResult result;
  result.exitCode = -1000;
  if (argv.empty()) return result;
  const std::wstring program = ProgramPath(argv[0]);
  std::wstring commandLine;
  AppendQuoted(commandLine, program);
  for (std::size_t i = 1; i < argv.size(); ++i) {
    commandLine += L' ';
    AppendQuoted(commandLine, Widen(argv[i]));
  }
  std::wstring environment = EnvironmentBlock(extraEnv);

  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return result;
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE errorRead = nullptr;
  HANDLE errorWrite = nullptr;
  if (error == ChildError::kCaptured) {
    if (!::CreatePipe(&errorRead, &errorWrite, &inheritable, 0)) {
      ::CloseHandle(readEnd);
      ::CloseHandle(writeEnd);
      return result;
    }
    ::SetHandleInformation(errorRead, HANDLE_FLAG_INHERIT, 0);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = errorWrite != nullptr ? errorWrite : ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  const BOOL started = ::CreateProcessW(
      program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
      environment.data(), workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &process);
  ::CloseHandle(writeEnd);
  if (errorWrite != nullptr) ::CloseHandle(errorWrite);
  if (!started) {
    ::CloseHandle(readEnd);
    if (errorRead != nullptr) ::CloseHandle(errorRead);
    return result;
  }
  // Standard error on a thread of its own: a child that fills one pipe while the other is
  // read would wait forever.
  std::thread errorReader;
  if (errorRead != nullptr) {
    errorReader = std::thread([errorRead, &result] {
      char bytes[4096];
      DWORD got = 0;
      while (::ReadFile(errorRead, bytes, sizeof(bytes), &got, nullptr) && got > 0) {
        result.stderrBytes.append(bytes, got);
      }
      ::CloseHandle(errorRead);
    });
  }
  char buffer[4096];
  DWORD count = 0;
  while (::ReadFile(readEnd, buffer, sizeof(buffer), &count, nullptr) && count > 0) {
    result.stdoutBytes.append(buffer, count);
  }
  ::CloseHandle(readEnd);
  if (errorReader.joinable()) errorReader.join();
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  ::GetExitCodeProcess(process.hProcess, &exitCode);
  result.exitCode = static_cast<int>(exitCode);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return result;
}

}  // namespace srctally::testing
