// Counting files on worker threads while the walk runs ahead of them. Every event reaches
// the sink in walk order, so whatever the number of threads the sink sees the same stream
// as from a walk that counts each file itself: the same files, the same failure, and
// nothing after it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/status.h"
#include "base/text.h"
#include "counting/file_counting.h"
#include "counting/line_stats.h"
#include "input/walk_events.h"
#include "platform/disk.h"

namespace srctally {

/// Sits between a walk and its sink: holds the walk's events until everything before them
/// is released, and counts the files the walk opens on worker threads. Memory is bounded:
/// the walk waits while the window of files or events in flight is full, and while it
/// waits it counts a queued file itself rather than sleep. One thread (the walk's) calls
/// every method; the sink is called on that thread too.
class CCountingPipeline final : public IWalkSink {
 public:
  /// workers (at least 1) threads, and the walk's own thread while it waits, count files
  /// for sink; each counted file is added into totals when it is released.
  CCountingPipeline(IWalkSink& sink, platform::IDisk& disk, unsigned workers, LineStats& totals);
  ~CCountingPipeline() override;
  CCountingPipeline(const CCountingPipeline&) = delete;
  CCountingPipeline& operator=(const CCountingPipeline&) = delete;

  void FolderStarted(WStringView relativeFolder) override;
  void FileCounted(WStringView relativeFolder, WStringView name, const LineStats& file) override;
  void FolderFinished(WStringView relativeFolder, std::int64_t fileCount) override;
  void FolderSkipped(WStringView relativeFolder, FolderSkip reason) override;
  void FileSkipped(WStringView relativeFolder, WStringView name, FileSkip reason) override;
  void WalkFailed(WalkFailure step, WStringView relativeFolder, WStringView argument,
                  HResult code) override;
  /// Whether any worker thread could be started; without one, nothing would be counted.
  bool HasWorkers() const { return !workers_.empty(); }

  /// False once a failure was released (nothing after it will be) or the sink wants no more.
  bool WantsMore() const override { return !failed_ && sink_.WantsMore(); }

  /// A closed file for the walk to open its next source file into; waits (releasing what it
  /// can) while every file of the window is in flight.
  platform::IReadFile& NextFile();
  /// The file from NextFile is open: a worker counts it, and the sink hears of it in turn.
  void CountFile(WStringView relativeFolder, WStringView name);
  /// Releases everything, waiting for the files still being counted, and answers the
  /// failure the sink was told of, or 0.
  HResult Finish();

 private:
  enum class Kind : std::uint8_t {
    kFolderStarted,
    kFile,
    kCounted,
    kFolderFinished,
    kSkipped,
    kFileSkipped,
    kFailed
  };
  struct Event {
    Kind kind;
    std::shared_ptr<const WString> folder;
    WString name;  // the file's name, or the failure's argument
    std::int64_t count = 0;
    FolderSkip skip = FolderSkip::kExcluded;
    FileSkip fileSkip = FileSkip::kAlreadyCounted;
    WalkFailure step = WalkFailure::kProcessFile;
    HResult code = 0;
    int job = -1;
    LineStats record;  // kCounted only
  };
  struct Job {
    std::unique_ptr<platform::IReadFile> file;
    LineStats record;
    HResult status = 0;
    std::atomic<bool> done{false};  // set under mutex_ once record and status are written
  };

  Event& Add(Kind kind, WStringView relativeFolder);
  void ReleaseReady();
  void WaitForFront();
  void Fail(HResult code);
  void Work();
  void CountJob(int index, CFileCounter& counter);

  IWalkSink& sink_;
  LineStats& totals_;
  std::shared_ptr<const WString> folder_;  // the folder of the latest events, shared by them
  std::deque<Event> events_;
  std::vector<Job> jobs_;
  std::vector<int> free_;  // jobs not in flight
  bool failed_ = false;
  HResult failure_ = 0;

  std::mutex mutex_;
  std::condition_variable work_;  // a job was queued, or the workers are to stop
  std::condition_variable done_;  // a job was done
  std::deque<int> queue_;         // jobs waiting for a worker
  bool stop_ = false;
  std::atomic<bool> cancel_{false};  // jobs still queued are dropped unread
  std::vector<std::thread> workers_;
  std::unique_ptr<CFileCounter> counter_;  // the walk's thread counts with it while it waits
};

/// Counting threads for a run: SRCTALLY_THREADS from the environment when it holds a number
/// from 1 to 256, otherwise the hardware threads of the machine (at least 1).
unsigned CountingThreads();

}  // namespace srctally
