// Standard output on Windows through the C runtime's translation modes (_setmode), which
// also turn each line feed into CR LF.
#include "platform/console_sink.h"

#include <conio.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

namespace srctally::platform {
namespace {

// Writes text through the C runtime's stream in its current mode, from a buffer on the
// stack: nothing is allocated on the way, so it also works with an exhausted heap.
void WriteUrgentText(const char16_t* text) noexcept {
  wchar_t wide[1025];
  std::size_t length = 0;
  for (; length + 1 < sizeof(wide) / sizeof(wide[0]) && text[length] != u'\0'; ++length) {
    wide[length] = static_cast<wchar_t>(text[length]);
  }
  wide[length] = L'\0';
  std::fputws(wide, stdout);
  std::fflush(stdout);
}

class Win32ConsoleSink final : public IConsoleSink {
 public:
  Win32ConsoleSink() : terminal_(::_isatty(::_fileno(stdout)) != 0) {
    // A console shows UTF-16 as it stands; redirected output keeps the C runtime's text.
    if (terminal_) ::_setmode(::_fileno(stdout), _O_U16TEXT);
    ::_setmode(::_fileno(stderr), _O_U16TEXT);
  }
  ~Win32ConsoleSink() override { std::fflush(stdout); }

  bool IsTerminal() const override { return terminal_; }
  void SetMode(std::uint32_t translationMode) override {
    std::fflush(stdout);
    ::_setmode(::_fileno(stdout), static_cast<int>(translationMode));
  }
  void Write(WStringView text) override {
    const std::wstring wide(text.begin(), text.end());
    std::fputws(wide.c_str(), stdout);
    if (text.find(u'\n') != WStringView::npos) lineEnded_ = true;
  }
  void Flush() override {
    // Redirected output waits for its line end in the C runtime's buffer, so a row of
    // progress dots does not cost one system call per dot.
    if (terminal_ || lineEnded_) {
      std::fflush(stdout);
      lineEnded_ = false;
    }
  }
  void WriteUrgently(const char16_t* text) noexcept override { WriteUrgentText(text); }
  char16_t ReadKey() override {
    std::fflush(stdout);
    for (;;) {
      const wint_t key = ::_getwch();
      // Function and arrow keys arrive as a 0 or 0xE0 lead followed by a scan code; they
      // answer nothing, and a 0 must not read as closed input.
      if (key == 0 || key == 0xE0) {
        ::_getwch();
        continue;
      }
      return static_cast<char16_t>(key);
    }
  }

 private:
  bool terminal_;
  bool lineEnded_ = false;
};

}  // namespace

std::unique_ptr<IConsoleSink> CreateStandardOutputSink() {
  return std::make_unique<Win32ConsoleSink>();
}

void WriteUrgentlyToStandardOutput(const char16_t* text) noexcept { WriteUrgentText(text); }

}  // namespace srctally::platform
