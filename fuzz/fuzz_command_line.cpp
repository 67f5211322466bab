// The command-line parser on arbitrary arguments. The input is split at line feeds into
// arguments (bytes as a POSIX program receives them, so any byte sequence); the first byte
// picks the console: the test frame (with its display levels) or the application's own,
// whose path argument goes through the platform's full-path resolution and an existence
// check. After parsing, the problem report, usage, banner and progress lines (with the
// path shortening) are written to a fake sink.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "app/console.h"
#include "base/compact_path_middle.h"
#include "testing/test_console.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace srctally;
  if (size < 1) return 0;
  const std::uint8_t pick = data[0];
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<WString> args{u"/usr/bin/prog.exe"};
  for (std::size_t start = 0; start <= input.size();) {
    const std::size_t end = std::min(input.find('\n', start), input.size());
    args.push_back(FromUtf8Lossless(input.substr(start, end - start)));
    start = end + 1;
  }
  if (args.size() > 200) return 0;

  testing::FakeConsoleSink sink((pick & 2) != 0);
  if ((pick & 1) == 0) {
    testing::TestConsole console(sink);
    console.allowedLevels_ = (pick & 4) != 0 ? 0x7FFFFFFFu : display::kNormal | display::kVerbose;
    if ((pick & 8) != 0) console.banner.titleLine = args.back();
    console.ParseCommandLine(args);
    console.ShowBanner();
    (void)console.ReportProblems();
    console.progressWidth_ = static_cast<std::int32_t>(args.size() % 50) - 2;
    for (const WString& argument : args) {
      console.SetProgressPath(argument);  // shortened to the width on a terminal
      console.WriteProgress(u"%s", argument);
      for (const std::size_t budget : {std::size_t{0}, std::size_t{1}, std::size_t{5},
                                       argument.size(), argument.size() + 1}) {
        if (CompactPathMiddle(argument, budget, u'/').size() >= std::max<std::size_t>(budget, 1))
          std::abort();
      }
    }
    console.WriteProgress(u"done\n");
    console.ClearProgressLine();
    // The answers to a prompt come from the last argument.
    for (const char16_t key : args.back()) sink.keys.push_back(key);
    (void)console.Prompt(pick >> 4);
  } else {
    CConsole console(sink);
    console.ParseCommandLine(args);
    (void)console.ReportProblems();
  }
  return 0;
}
