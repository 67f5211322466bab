// The read floor of the benchmark: reads every file named on standard input once through a
// 1 MiB buffer and counts its line feeds. Nothing can count lines faster than this.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

int main() {
  std::vector<char> buffer(1 << 20);
  std::string name;
  unsigned long long files = 0, lines = 0, bytes = 0;
  while (std::getline(std::cin, name)) {
    const int fd = ::open(name.c_str(), O_RDONLY);
    if (fd < 0) continue;
    ssize_t got = 0;
    while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) {
      bytes += static_cast<unsigned long long>(got);
      for (const char* p = buffer.data();
           (p = static_cast<const char*>(std::memchr(p, '\n', buffer.data() + got - p))); ++p) {
        ++lines;
      }
    }
    ::close(fd);
    ++files;
  }
  std::printf("%llu files, %llu lines, %llu bytes\n", files, lines, bytes);
  return 0;
}
