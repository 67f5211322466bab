// Counting speed without the disk: loads the files named on standard input into memory once,
// then counts them all through the same reader and classifier the program uses, several
// rounds, and prints the CPU time of the best round and the totals (to compare builds).
//   classify [rounds] < list
// Built against the program's library (see bench/run.sh for the list of files):
//   cmake --build build/native --target srctally_lib
//   g++ -O2 -std=c++20 -Isrc -o classify bench/classify.cpp build/native/libsrctally_lib.a -pthread
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "counting/file_counting.h"
#include "counting/line_stats.h"
#include "platform/disk.h"

namespace {

class MemoryFile final : public srctally::platform::IReadFile {
 public:
  void Reset(const std::string& data) {
    data_ = &data;
    at_ = 0;
  }
  bool Read(void* buffer, std::size_t size, std::size_t& bytesRead) override {
    bytesRead = std::min(size, data_->size() - at_);
    std::memcpy(buffer, data_->data() + at_, bytesRead);
    at_ += bytesRead;
    return true;
  }
  bool GetSize(std::int64_t& size) override {
    size = static_cast<std::int64_t>(data_->size());
    return true;
  }
  void Close() override {}

 private:
  const std::string* data_ = nullptr;
  std::size_t at_ = 0;
};

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
  std::vector<std::string> files;
  std::size_t bytes = 0;
  char name[4096];
  while (std::fgets(name, sizeof name, stdin)) {
    name[std::strcspn(name, "\n")] = '\0';
    const int fd = ::open(name, O_RDONLY);
    if (fd < 0) continue;
    std::string data;
    char block[1 << 16];
    ssize_t got;
    while ((got = ::read(fd, block, sizeof block)) > 0)
      data.append(block, static_cast<std::size_t>(got));
    ::close(fd);
    bytes += data.size();
    files.push_back(std::move(data));
  }
  double best = 1e9;
  srctally::LineStats total;
  for (int round = 0; round < rounds; ++round) {
    srctally::CFileCounter counter;
    MemoryFile file;
    srctally::LineStats sum;
    const double start = CpuSeconds();
    for (const std::string& data : files) {
      file.Reset(data);
      srctally::LineStats stats;
      counter.Count(file, stats);
      sum.lines += stats.lines;
      sum.codeLines += stats.codeLines;
      sum.commentLines += stats.commentLines;
      sum.emptyCommentLines += stats.emptyCommentLines;
      sum.emptyLines += stats.emptyLines;
      sum.directiveLines += stats.directiveLines;
      sum.actual.value += stats.actual.value;
    }
    best = std::min(best, CpuSeconds() - start);
    total = sum;
  }
  std::printf("%zu files, %.1f MB, best %.3f s CPU, %.2f GB/s, %.1f ns/line\n", files.size(),
              static_cast<double>(bytes) / 1e6, best, static_cast<double>(bytes) / best / 1e9,
              best * 1e9 / static_cast<double>(total.lines));
  std::printf(
      "lines %lld code %lld comment %lld emptyComment %lld empty %lld directive %lld actual %lld\n",
      static_cast<long long>(total.lines), static_cast<long long>(total.codeLines),
      static_cast<long long>(total.commentLines), static_cast<long long>(total.emptyCommentLines),
      static_cast<long long>(total.emptyLines), static_cast<long long>(total.directiveLines),
      static_cast<long long>(total.actual.value));
  return 0;
}
