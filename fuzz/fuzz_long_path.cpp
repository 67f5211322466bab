// The long path text functions on arbitrary UTF-16 text. Input: an operation byte, two
// bytes of stretch length, then UTF-16 units split at the first U+0000 into two texts.
// When the operation byte asks for it, the first text is repeated up to a length near the
// buffer capacity, so the limits are reached. Every buffer is allocated with exactly
// kLongPathCapacity units and every input with exactly its length and NUL, so ASan sees any
// access outside; every result must stay NUL-terminated within the capacity, and
// canonicalising in place must give what canonicalising into another buffer gives.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/long_path.h"

namespace srctally {
namespace {

// Like a full-path resolver with the current directory C:\cwd; a resolver that answers a
// text of exactly the capacity it was given, when asked to misbehave.
bool StubFullPath(WStringView name, WString& out, std::size_t capacity) {
  WString text(name);
  if (text.size() < 2 || text[1] != u':') text = u"C:\\cwd\\" + text;
  auto buffer = std::make_unique<char16_t[]>(kLongPathCapacity);
  if (text.size() >= kLongPathCapacity || !CanonicalizePath(buffer.get(), text.c_str()))
    return false;
  out = buffer.get();
  return out.size() < capacity;
}

bool OversizeFullPath(WStringView, WString& out, std::size_t capacity) {
  out.assign(capacity, u'x');
  return true;
}

std::unique_ptr<char16_t[]> Text(const WString& text) {
  auto copy = std::make_unique<char16_t[]>(text.size() + 1);
  std::memcpy(copy.get(), text.c_str(), (text.size() + 1) * sizeof(char16_t));
  return copy;
}

struct Buffer {
  std::unique_ptr<char16_t[]> data = std::make_unique<char16_t[]>(kLongPathCapacity);
  explicit Buffer(const WString& text) {
    const std::size_t n = std::min(text.size(), kLongPathCapacity - 1);
    std::memcpy(data.get(), text.data(), n * sizeof(char16_t));
    data[n] = 0;
  }
  char16_t* get() { return data.get(); }
};

void CheckTerminated(const char16_t* buffer, const char* what) {
  for (std::size_t i = 0; i < kLongPathCapacity; ++i) {
    if (buffer[i] == 0) return;
  }
  std::fprintf(stderr, "%s: result not NUL-terminated within the capacity\n", what);
  std::abort();
}

}  // namespace
}  // namespace srctally

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace srctally;
  if (size < 3) return 0;
  const std::uint8_t op = data[0];
  const std::size_t stretch = kLongPathCapacity - 64 + (data[1] | data[2] << 8) % 128;
  WString units((size - 3) / 2, u'\0');
  if (!units.empty()) std::memcpy(units.data(), data + 3, units.size() * 2);
  const std::size_t split = units.find(u'\0');
  WString first = units.substr(0, split);
  WString second = split == WString::npos ? WString() : units.substr(split + 1);
  second = second.substr(0, second.find(u'\0'));
  if ((op & 0x80) != 0 && !first.empty()) {
    WString longer;
    while (longer.size() < stretch) longer += first;
    longer.resize(stretch);
    first = longer;
  }
  const FullPathResolver resolve = (op & 0x40) != 0 ? OversizeFullPath : StubFullPath;
  const auto a = Text(first);
  const auto b = Text(second);

  switch (op % 8) {
    case 0: {  // canonicalise into another buffer and in place
      Buffer out(u"garbage");
      const bool done = CanonicalizePath(out.get(), a.get());
      CheckTerminated(out.get(), "CanonicalizePath");
      Buffer inPlace(first);
      if (first.size() < kLongPathCapacity) {
        const bool doneInPlace = CanonicalizePath(inPlace.get(), inPlace.get());
        CheckTerminated(inPlace.get(), "CanonicalizePath in place");
        if (done != doneInPlace ||
            (done && WStringView(out.get()) != WStringView(inPlace.get()))) {
          std::fprintf(stderr, "CanonicalizePath differs in place\n");
          std::abort();
        }
      }
      break;
    }
    case 1: {  // combine into another buffer and into the folder itself
      Buffer out(u"garbage");
      if (CombinePath(out.get(), a.get(), b.get(), resolve) != nullptr)
        CheckTerminated(out.get(), "CombinePath");
      Buffer folder(first);
      if (CombinePath(folder.get(), folder.get(), b.get(), resolve) != nullptr)
        CheckTerminated(folder.get(), "CombinePath into the folder");
      Buffer none(u"x");
      (void)CombinePath(none.get(), nullptr, b.get(), resolve);
      CheckTerminated(none.get(), "CombinePath without folder");
      (void)CombinePath(none.get(), a.get(), nullptr, resolve);
      CheckTerminated(none.get(), "CombinePath without file");
      break;
    }
    case 2: {
      Buffer path(first);
      (void)AppendPath(path.get(), b.get(), resolve);
      CheckTerminated(path.get(), "AppendPath");
      break;
    }
    case 3: {
      // Stripping costs a scan per component: quadratic in the path, about 0.2 s at full
      // capacity without sanitizers. Long texts get a few steps only, to keep runs fast.
      Buffer path(first);
      for (int step = 0; step < 64 && RemoveFileSpec(path.get()); ++step)
        CheckTerminated(path.get(), "RemoveFileSpec");
      if (first.size() < 2048) {
        Buffer root(first);
        (void)StripToRoot(root.get());
        CheckTerminated(root.get(), "StripToRoot");
      }
      (void)IsRoot(a.get());
      (void)HasExtendedPrefix(a.get());
      (void)HasExtendedUncPrefix(a.get());
      break;
    }
    case 4: {
      Buffer path(first);
      (void)AddBackslash(path.get());
      CheckTerminated(path.get(), "AddBackslash");
      Buffer out(u"garbage");
      (void)MakeExtendedPath(out.get(), a.get(), resolve);
      CheckTerminated(out.get(), "MakeExtendedPath");
      break;
    }
    default: {  // the walk's buffer: set, then append components
      LongPath path((op & 0x20) != 0, resolve);
      if (path.Set(a.get())) CheckTerminated(path.c_str(), "LongPath::Set");
      if (path.Append(b.get())) CheckTerminated(path.c_str(), "LongPath::Append");
      if (path.Append(b.get())) CheckTerminated(path.c_str(), "LongPath::Append twice");
      break;
    }
  }
  return 0;
}
