// The crash and out-of-memory lines: composed at start, written without allocating.
#include "app/last_words.h"

#include <cstdlib>
#include <new>

namespace srctally {
namespace {

// The string that reports a written crash dump.
constexpr std::uint32_t kCrashReportString = 27009;
constexpr char16_t kOutOfMemoryText[] = u"not enough memory to go on.";
// A request that fails while a block of this size can still be had was one large request.
constexpr std::size_t kProbeBytes = 64 * 1024;
constexpr std::size_t kLineCapacity = 1024;

// Fixed-size texts, so nothing after the start needs the heap.
struct LastWords {
  platform::IConsoleSink* sink = nullptr;
  const CMessageWriter* writer = nullptr;
  char16_t errorPrefix[32] = u"ERROR: ";
  char16_t crashBefore[160] = {};  // the crash text up to the dump path
  char16_t crashAfter[32] = {};    // and after it
  bool toStandardError = false;    // standard output carries a document
};

LastWords lastWords;

void CopyText(WStringView text, char16_t* out, std::size_t capacity) {
  std::size_t length = 0;
  for (; length < text.size() && length + 1 < capacity; ++length) out[length] = text[length];
  out[length] = u'\0';
}

// Composes the error line from pieces (NUL-terminated, null ones skipped) and writes it.
void WriteErrorLine(const char16_t* const* pieces, std::size_t count) noexcept {
  char16_t line[kLineCapacity];
  std::size_t used = 0;
  const auto append = [&](const char16_t* text) {
    for (; text != nullptr && *text != u'\0' && used + 2 < kLineCapacity; ++text) {
      line[used++] = *text;
    }
  };
  if (lastWords.toStandardError) {
    append(u"ERROR: ");  // standard error's lines each stand alone
  } else if (lastWords.writer == nullptr || lastWords.writer->atLineStart()) {
    append(lastWords.errorPrefix);
  }
  for (std::size_t i = 0; i < count; ++i) append(pieces[i]);
  line[used++] = u'\n';
  line[used] = u'\0';
  if (lastWords.toStandardError) {
    platform::WriteUrgentlyToStandardError(line);
  } else if (lastWords.sink != nullptr) {
    lastWords.sink->WriteUrgently(line);
  } else {
    platform::WriteUrgentlyToStandardOutput(line);
  }
}

void OnOutOfMemory() {
  // With a block of some size still to be had, the failed request was one large one: its
  // caller may handle the std::bad_alloc, and there is memory left to throw it.
  if (void* probe = std::malloc(kProbeBytes)) {
    std::free(probe);
    throw std::bad_alloc();
  }
  std::_Exit(ReportOutOfMemory());
}

}  // namespace

void SetLastWordsOutput(platform::IConsoleSink* sink, const CMessageWriter* writer) {
  lastWords.sink = nullptr;  // never a half-set output
  lastWords.writer = writer;
  WStringView prefix;
  if (writer == nullptr) {
    CopyText(u"ERROR: ", lastWords.errorPrefix, std::size(lastWords.errorPrefix));
  } else if ((writer->headerOptions() & msg::kHeaderKindPrefix) != 0 &&
             writer->GetKindPrefix(msg::kKindError, prefix)) {
    const WString withBlank = WString(prefix) + u' ';
    CopyText(withBlank, lastWords.errorPrefix, std::size(lastWords.errorPrefix));
  } else {
    lastWords.errorPrefix[0] = u'\0';
  }
  const WString text = ResourceString(kCrashReportString);
  const std::size_t argument = text.find(u"%s");
  const WStringView view(text);
  CopyText(view.substr(0, argument), lastWords.crashBefore, std::size(lastWords.crashBefore));
  CopyText(argument == WString::npos ? WStringView() : view.substr(argument + 2),
           lastWords.crashAfter, std::size(lastWords.crashAfter));
  lastWords.sink = sink;
}

void SendLastWordsToStandardError(bool toStandardError) {
  lastWords.toStandardError = toStandardError;
}

void FatalReport(const char16_t* dumpPath) {
  const char16_t* const pieces[] = {lastWords.crashBefore, dumpPath, lastWords.crashAfter};
  WriteErrorLine(pieces, std::size(pieces));
  std::_Exit(-1);
}

int ReportOutOfMemory() noexcept {
  const char16_t* const pieces[] = {kOutOfMemoryText};
  WriteErrorLine(pieces, std::size(pieces));
  return 2;
}

void InstallOutOfMemoryHandler() { std::set_new_handler(OnOutOfMemory); }

}  // namespace srctally
