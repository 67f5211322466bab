// The read floor of the benchmark: the fastest plain way to do the work no line counter can
// skip. It reads every file named on standard input (one name a line) once through a 1 MiB
// buffer and counts its line feeds with memchr.
//   floor        one thread
//   floor 2      two threads, each taking the next file from a shared index
// The list of names is read in one go, so that the figure measures opening and reading the
// files, not reading their names.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

struct Totals {
  unsigned long long files = 0, lines = 0, bytes = 0;
};

// Reads all of standard input; each LF becomes a NUL, so every name is a C string.
std::vector<char> ReadList(std::vector<const char*>& names) {
  std::vector<char> list;
  std::size_t used = 0;
  for (;;) {
    if (list.size() - used < (1u << 20)) list.resize(list.size() + (8u << 20));
    const ssize_t got = ::read(0, list.data() + used, list.size() - used);
    if (got < 0) {
      std::perror("reading the file list");
      std::exit(1);
    }
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
  }
  list.resize(used + 1);
  list[used] = '\n';
  char* start = list.data();
  for (char* p = start; p < list.data() + used + 1; ++p) {
    if (*p != '\n') continue;
    *p = '\0';
    if (p > start) names.push_back(start);
    start = p + 1;
  }
  return list;
}

void ReadFiles(const std::vector<const char*>& names, std::atomic<std::size_t>& next,
               Totals& result) {
  std::vector<char> buffer(1 << 20);
  Totals totals;  // kept local: threads counting into one cache line would slow each other
  for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < names.size();) {
    const int fd = ::open(names[i], O_RDONLY);
    if (fd < 0) continue;
    ssize_t got = 0;
    while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) {
      totals.bytes += static_cast<unsigned long long>(got);
      const char* const end = buffer.data() + got;
      for (const char* p = buffer.data();
           (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p))));
           ++p) {
        ++totals.lines;
      }
    }
    ::close(fd);
    ++totals.files;
  }
  result = totals;
}

}  // namespace

int main(int argc, char** argv) {
  const int threads = argc > 1 ? std::atoi(argv[1]) : 1;
  if (threads < 1 || threads > 64) {
    std::fprintf(stderr, "usage: floor [threads] < list\n");
    return 2;
  }
  std::vector<const char*> names;
  const std::vector<char> list = ReadList(names);
  std::atomic<std::size_t> next{0};
  std::vector<Totals> totals(static_cast<std::size_t>(threads));
  std::vector<std::thread> workers;
  for (int t = 1; t < threads; ++t) {
    workers.emplace_back(ReadFiles, std::cref(names), std::ref(next), std::ref(totals[t]));
  }
  ReadFiles(names, next, totals[0]);
  for (std::thread& worker : workers) worker.join();
  Totals sum;
  for (const Totals& part : totals) {
    sum.files += part.files;
    sum.lines += part.lines;
    sum.bytes += part.bytes;
  }
  std::printf("%llu files, %llu lines, %llu bytes\n", sum.files, sum.lines, sum.bytes);
  return 0;
}
