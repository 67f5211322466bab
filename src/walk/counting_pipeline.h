// Counting files on worker threads while the walk runs ahead of them. Every event reaches
// the sink in walk order, so whatever the number of threads the sink sees the same stream
// as from a walk that counts each file itself: the same files, the same failure, and
// nothing after it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/status.h"
#include "base/text.h"
#include "counting/file_counting.h"
#include "counting/line_stats.h"
#include "platform/disk.h"
#include "walk/walk_events.h"

namespace srctally {

/// Starts thread running run(context); false when no thread could start.
using ThreadStarter = bool (*)(std::thread& thread, void (*run)(void*), void* context);

/// The system's threads: false when the system refuses another one.
bool StartSystemThread(std::thread& thread, void (*run)(void*), void* context);

/// Sits between a walk and its sink: holds the walk's events until everything before them
/// is released, and counts the files the walk opens on worker threads. Memory is bounded:
/// the walk waits while the window of files or events in flight is full, and with one
/// worker it counts a queued file itself rather than sleep. Workers open the files of a
/// folder the walk shares with them, and run the tasks its disk posts (folders opened and
/// listed ahead). One thread (the walk's) calls every method but Post, which the disk may
/// call from a task too; the sink is called on the walk's thread.
class CCountingPipeline final : public IWalkFolderEvents, public platform::IBackgroundWork {
 public:
  /// workers (at least 1) threads, started with start, and the walk's own thread while it
  /// waits, count files for sink; each counted file is added into totals when it is
  /// released. keepGoing: a failure is told and the events after it are released too.
  CCountingPipeline(IWalkSink& sink, platform::IDisk& disk, unsigned workers, LineStats& totals,
                    bool keepGoing = false, ThreadStarter start = &StartSystemThread);
  ~CCountingPipeline() override;
  CCountingPipeline(const CCountingPipeline&) = delete;
  CCountingPipeline& operator=(const CCountingPipeline&) = delete;

  void FolderStarted(WStringView relativeFolder) override;
  void FolderFinished(WStringView relativeFolder, std::int64_t fileCount) override;
  void FolderSkipped(WStringView relativeFolder, FolderSkip reason) override;
  void FileSkipped(WStringView relativeFolder, WStringView name, FileSkip reason) override;
  void WalkFailed(WalkFailure step, WStringView relativeFolder, WStringView argument,
                  HResult code) override;
  /// Queues a task of the disk for a worker, ahead of the files queued (the walk will
  /// soon need what it makes). Tasks still queued when the pipeline ends run on the thread
  /// that ends it.
  bool Post(Task task, void* context, bool urgent) override;
  unsigned Threads() const override { return Workers(); }

  /// Whether any worker thread could be started; without one the walk's thread would count
  /// every file, and should rather count them without a pipeline.
  bool HasWorkers() const { return Workers() > 0; }

  /// False once the walk should open nothing more: a failure was released or a file has
  /// failed on a worker (nothing after it will be released), or the sink wants no more.
  bool WantsMore() const override;

  /// A closed file for the walk to open its next source file into; waits (releasing what it
  /// can) while every file of the window is in flight. nullptr once WantsMore is false.
  platform::IReadFile* NextFile();
  /// The file from NextFile is open: a worker counts it, and the sink hears of it in turn.
  void CountFile(WStringView relativeFolder, WStringView name);
  /// Queues the source file name of a folder whose files are shared: a counting thread
  /// opens and counts it, and the sink hears of it in turn, a failure to open it as one to
  /// count it. Waits (releasing what it can) while every file of the window is in flight.
  /// False, queuing nothing, once WantsMore is false.
  bool CountFileOf(const std::shared_ptr<const platform::IFolderFiles>& files,
                   WStringView relativeFolder, WStringView name, bool listedRegular);
  /// Releases everything, waiting for the files still being counted, and answers the
  /// first failure the sink was told of, or 0.
  HResult Finish();

 private:
  enum class Kind : std::uint8_t {
    kFolderStarted,
    kFile,
    kFolderFinished,
    kSkipped,
    kFileSkipped,
    kFailed
  };
  struct Event {
    Kind kind;
    std::shared_ptr<const WString> folder;
    WString name;  // the skipped file's name, or the failure's argument
    std::int64_t count = 0;
    FolderSkip skip = FolderSkip::kExcluded;
    FileSkip fileSkip = FileSkip::kAlreadyCounted;
    WalkFailure step = WalkFailure::kProcessFile;
    HResult code = 0;
    std::uint64_t order = 0;  // a file's place among the files of the walk
  };
  // A file in flight. The file of place n in walk order uses job n modulo the window, which
  // is free again once file n - window was released.
  struct Job {
    std::unique_ptr<platform::IReadFile> file;
    // The folder the counting thread opens the file from; none when the walk opened it.
    std::shared_ptr<const platform::IFolderFiles> folder;
    bool listedRegular = false;
    WString name;  // the file's name
    LineStats record;
    HResult status = 0;
    bool holds = false;  // counted in holding_ until released
    std::atomic<bool> done{true};  // set once record and status are written
  };

  static void RunWorker(void* self);
  unsigned Workers() const { return workerCount_.load(std::memory_order_relaxed); }
  Job& JobOf(std::uint64_t order) { return jobs_[order % jobs_.size()]; }
  // A new event at the end, once there is room; nullptr when the pipeline stopped.
  Event* Add(Kind kind, WStringView relativeFolder);
  void ReleaseReady();
  bool Release(Event& event);
  void WaitForFront(bool batch = false);
  void WaitFor(std::uint64_t order);
  // holds: the next file would hold one more descriptor.
  bool WaitForJob(bool holds);
  void Queue(WStringView relativeFolder, WStringView name);
  void Stop();
  void Work();
  bool RunTask();
  bool Claim(std::uint64_t& order);
  bool HasWork() const;
  bool Watch();
  void Sleep();
  void WakeOne();
  bool WantsAnotherWorker() const;
  void CountJob(std::uint64_t order, CFileCounter& counter);

  IWalkSink& sink_;
  LineStats& totals_;
  bool keepGoing_;
  std::shared_ptr<const WString> folder_;  // the folder of the latest events, shared by them
  // The events held, oldest first, in a ring whose slots are reused with their text's room,
  // so that holding an event allocates nothing once the ring has grown to the walk's pace.
  class EventRing {
   public:
    bool empty() const { return size_ == 0; }
    std::size_t size() const { return size_; }
    Event& operator[](std::size_t i) { return slots_[(head_ + i) & (slots_.size() - 1)]; }
    Event& front() { return slots_[head_]; }
    // A slot at the end, holding what its last event left (its name's room kept).
    Event& push_back();
    void pop_front();
    void clear();

   private:
    std::vector<Event> slots_;  // a power of two of them, or none
    std::size_t head_ = 0;
    std::size_t size_ = 0;
  };
  EventRing events_;
  std::vector<Job> jobs_;
  bool stopped_ = false;  // nothing more is released: a failure, or the sink wants no more
  HResult failure_ = 0;   // the first failure released
  // The files pass of a folder released and not finished yet, and its files released, so
  // that a sink that stops listening hears the folder end as the walk would tell it.
  std::shared_ptr<const WString> openFolder_;
  std::int64_t openFolderFiles_ = 0;
  // The walk's thread alone: the place of the next file queued, and the files released.
  std::uint64_t nextOrder_ = 0;
  std::uint64_t releasedFiles_ = 0;
  std::size_t wakeAfter_ = 0;  // files queued before this thread wakes a worker
  // Descriptors held by the files in flight (see Job::holds), at most maxHolding_, and the
  // folder of the file queued last.
  std::size_t holding_ = 0;
  std::size_t maxHolding_ = 0;
  std::shared_ptr<const platform::IFolderFiles> lastFolder_;

  // Handing files over takes no lock: the walk's thread fills the next job and raises
  // queued_; a counting thread takes the oldest by raising taken_. The mutexes and their
  // conditions serve only threads that go to sleep and those that wake them: mutex_ the
  // workers (and the disk's tasks), doneMutex_ the walk's thread.
  std::atomic<std::uint64_t> queued_{0};  // files before this place are queued
  std::atomic<std::uint64_t> taken_{0};   // files before this place are taken
  std::mutex mutex_;
  std::condition_variable work_;  // work was queued, or the workers are to stop
  std::mutex doneMutex_;
  std::condition_variable done_;  // the file the walk's thread waits for was counted
  std::atomic<unsigned> sleeping_{0};  // workers waiting for work
  // The place of the file the walk's thread sleeps on, if it does.
  std::atomic<std::uint64_t> waitingFor_{std::numeric_limits<std::uint64_t>::max()};
  struct PostedTask {
    Task task;
    void* context;
  };
  std::deque<PostedTask> tasks_;             // the disk's tasks waiting for a worker, under mutex_
  std::atomic<std::size_t> tasksQueued_{0};  // their number, read without the lock
  std::atomic<bool> quit_{false};
  // Files from this place in walk order on are dropped unread, since nothing at or after
  // it will be released: a file failed, or the pipeline stopped.
  std::atomic<std::uint64_t> cancelFrom_{std::numeric_limits<std::uint64_t>::max()};
  std::vector<std::thread> workers_;
  std::atomic<unsigned> workerCount_{0};  // the workers started (or starting)
  std::unique_ptr<CFileCounter> counter_;  // the walk's thread counts with it while it waits
};

/// The counting threads that text asks for: a number from 1 to 256, nothing else (no sign,
/// blank or other character); otherwise, and when text is null, hardware (at least 1).
unsigned ParseThreadCount(const char* text, unsigned hardware);

/// The counting threads a walk may use, the walk's own included, so that it holds fewer
/// descriptors than openFileLimit: threads, or fewer (at least 1). The walk itself holds
/// a bounded number whatever the tree (its open folders, the folders opened ahead); each
/// thread adds a few (its window of files, each holding an open file or its folder).
unsigned ThreadsWithinOpenFileLimit(unsigned threads, std::uint64_t openFileLimit);

/// Counting threads for a run, the walk's own included: SRCTALLY_THREADS from the
/// environment when it holds a number from 1 to 256, otherwise the hardware threads of the
/// machine (at least 1).
unsigned CountingThreads();

}  // namespace srctally
