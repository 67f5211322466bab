// The Windows entry point: wmain receives the wide argument vector.
#include <new>
#include <vector>

#include "app/last_words.h"
#include "app/program.h"
#include "base/text.h"

int wmain(int argc, wchar_t** argv) {
  srctally::InstallOutOfMemoryHandler();
  // Until the parameters tell whether standard output carries a document, a last line goes
  // to standard error: nothing stands on standard output yet.
  srctally::SendLastWordsToStandardError();
  try {
    std::vector<srctally::WString> args;
    args.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) {
      args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    }
    return srctally::RunProgram(args);
  } catch (const std::bad_alloc&) {
    return srctally::ReportOutOfMemory();
  }
}
