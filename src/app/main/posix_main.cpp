// The POSIX entry point: hands the arguments, decoded losslessly to UTF-16, to the program.
#include <new>
#include <vector>

#include "app/last_words.h"
#include "app/program.h"
#include "base/text.h"

int main(int argc, char** argv) {
  srctally::InstallOutOfMemoryHandler();
  // Until the parameters tell whether standard output carries a document, a last line goes
  // to standard error: nothing stands on standard output yet.
  srctally::SendLastWordsToStandardError();
  try {
    std::vector<srctally::WString> args;
    args.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) args.push_back(srctally::FromUtf8Lossless(argv[i]));
    return srctally::RunProgram(args);
  } catch (const std::bad_alloc&) {
    return srctally::ReportOutOfMemory();
  }
}
