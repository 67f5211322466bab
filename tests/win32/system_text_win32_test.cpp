// The system's own error texts through FormatMessageW, and the console sink on a file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "base/text.h"
#include "console/message_writer.h"
#include "platform/console_sink.h"
#include "runtime/system_text.h"
#include "testing/temp_dir.h"

namespace srctally {
namespace {

bool RunsUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

WString Text(std::uint32_t code) {
  SystemTextBuffer buffer{};
  EXPECT_TRUE(GetSystemErrorText(code, buffer)) << code;
  return buffer;
}

// The system's message for code, its trailing line break removed by hand.
WString RawMessage(std::uint32_t code) {
  wchar_t buffer[256] = {};
  ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                   LANG_USER_DEFAULT, buffer, 256, nullptr);
  WString text(reinterpret_cast<const char16_t*>(buffer));
  while (!text.empty() && WStringView(u"\r\n\t ").find(text.back()) != WStringView::npos) {
    text.pop_back();
  }
  return text;
}

TEST(SystemErrorTextWin32Test, SystemWordingWithTheCode) {
  EXPECT_EQ(Text(2), RawMessage(2) + u" (2)");
  EXPECT_EQ(Text(0x80070005u), RawMessage(5) + u" (5)");
  EXPECT_EQ(Text(0x80004005u), RawMessage(0x80004005u) + u" (0x80004005)");
  if (RunsUnderWine()) {
    EXPECT_EQ(Text(2), u"File not found. (2)");
    EXPECT_EQ(Text(5), u"Access denied. (5)");
    EXPECT_EQ(Text(0x80004005u), u"Call failed. (0x80004005)");
  }
}

// Points standard output at a file for the lifetime of the object.
class RedirectedStdout {
 public:
  explicit RedirectedStdout(const std::filesystem::path& file) {
    std::fflush(stdout);
    saved_ = ::_dup(1);
    const int fd =
        ::_wopen(file.c_str(), _O_CREAT | _O_WRONLY | _O_TRUNC | _O_TEXT, _S_IREAD | _S_IWRITE);
    ::_dup2(fd, 1);
    ::_close(fd);
  }
  ~RedirectedStdout() {
    std::fflush(stdout);
    ::_setmode(1, _O_TEXT);
    ::_dup2(saved_, 1);
    ::_close(saved_);
    ::_setmode(::_fileno(stderr), _O_TEXT);
  }

 private:
  int saved_;
};

std::string ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ConsoleSinkWin32Test, RuntimeTextModesOnARedirectedOutput) {
  testing::TempDir dir;
  const auto file = dir.path() / "out.txt";
  {
    RedirectedStdout redirect(file);
    auto sink = platform::CreateStandardOutputSink();
    EXPECT_FALSE(sink->IsTerminal());
    sink->Write(u"a\n");
    sink->Flush();
    sink->SetMode(translation::kUnicode);
    sink->Write(u"b\n");
    sink->Flush();
    sink->SetMode(translation::kUtf8);
    sink->Write(u"\u00E9\n");
    sink->Flush();
    sink->SetMode(translation::kText);
  }
  EXPECT_EQ(ReadAll(file), std::string("a\r\nb\0\r\0\n\0\xC3\xA9\r\n", 13));
}

}  // namespace
}  // namespace srctally
