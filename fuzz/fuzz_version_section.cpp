// The ELF version-section reader on arbitrary file contents. The bytes become an in-memory
// file (memfd) that ReadVersionBlock opens by its /proc path, so every header, table and
// section bound of the reader is driven by the input; a block found must be no larger than
// the file it came from.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/version_resource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int fd = ::memfd_create("fuzz_version_section", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  if (::ftruncate(fd, 0) != 0) std::abort();
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
  static const srctally::WString path =
      srctally::FromUtf8Lossless("/proc/self/fd/" + std::to_string(fd));
  std::vector<std::uint8_t> block;
  if (srctally::platform::ReadVersionBlock(path, block) && block.size() > size) std::abort();
  return 0;
}
