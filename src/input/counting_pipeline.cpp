// Worker threads count, the walk's thread releases in walk order.
#include "input/counting_pipeline.h"

#include <cstdlib>
#include <system_error>

#include "counting/file_counting.h"

namespace srctally {
namespace {

// Files in flight per worker: enough that a worker never waits for the walk.
constexpr unsigned kFilesPerWorker = 4;
// Events held at most, so that a tree of many empty folders behind one slow file cannot make
// memory grow.
constexpr std::size_t kMaxEvents = 4096;

}  // namespace

CCountingPipeline::CCountingPipeline(IWalkSink& sink, platform::IDisk& disk, unsigned workers,
                                     LineStats& totals)
    : sink_(sink), totals_(totals) {
  if (workers == 0) workers = 1;
  jobs_ = std::vector<Job>(workers * kFilesPerWorker);
  for (std::size_t i = jobs_.size(); i-- > 0;) {
    jobs_[i].file = disk.NewFile();
    free_.push_back(static_cast<int>(i));
  }
  workers_.reserve(workers);
  for (unsigned i = 0; i < workers; ++i) {
    try {
      workers_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      break;  // no room for another thread (a memory limit): count with those there are
    }
  }
}

CCountingPipeline::~CCountingPipeline() {
  cancel_ = true;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void CCountingPipeline::Work() {
  CFileCounter counter;
  for (;;) {
    int index;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (queue_.empty()) return;
      index = queue_.front();
      queue_.pop_front();
    }
    CountJob(index, counter);
  }
}

// Counts a job taken off the queue, on whichever thread took it.
void CCountingPipeline::CountJob(int index, CFileCounter& counter) {
  Job& job = jobs_[static_cast<std::size_t>(index)];
  HResult status = hr::kFail;
  if (cancel_.load(std::memory_order_relaxed)) {
    job.file->Close();
  } else {
    job.record.Reset();
    status = counter.Count(*job.file, job.record);
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    job.status = status;
    job.done.store(true, std::memory_order_release);
  }
  done_.notify_all();
}

CCountingPipeline::Event& CCountingPipeline::Add(Kind kind, WStringView relativeFolder) {
  // Events of one folder share one copy of its path.
  if (!folder_ || *folder_ != relativeFolder) {
    folder_ = std::make_shared<const WString>(relativeFolder);
  }
  while (events_.size() >= kMaxEvents && !failed_) {
    WaitForFront();
    ReleaseReady();
  }
  Event& event = events_.emplace_back();
  event.kind = kind;
  event.folder = folder_;
  return event;
}

void CCountingPipeline::FolderStarted(WStringView relativeFolder) {
  if (failed_) return;
  Add(Kind::kFolderStarted, relativeFolder);
  ReleaseReady();
}

void CCountingPipeline::FileCounted(WStringView relativeFolder, WStringView name,
                                    const LineStats& file) {
  if (failed_) return;
  Event& event = Add(Kind::kCounted, relativeFolder);
  event.name = name;
  event.record = file;
  ReleaseReady();
}

void CCountingPipeline::FolderFinished(WStringView relativeFolder, std::int64_t fileCount) {
  if (failed_) return;
  Add(Kind::kFolderFinished, relativeFolder).count = fileCount;
  ReleaseReady();
}

void CCountingPipeline::FolderSkipped(WStringView relativeFolder, FolderSkip reason) {
  if (failed_) return;
  Add(Kind::kSkipped, relativeFolder).skip = reason;
  ReleaseReady();
}

void CCountingPipeline::FileSkipped(WStringView relativeFolder, WStringView name,
                                    FileSkip reason) {
  if (failed_) return;
  Event& event = Add(Kind::kFileSkipped, relativeFolder);
  event.name = name;
  event.fileSkip = reason;
  ReleaseReady();
}

void CCountingPipeline::WalkFailed(WalkFailure step, WStringView relativeFolder,
                                   WStringView argument, HResult code) {
  if (failed_) return;
  Event& event = Add(Kind::kFailed, relativeFolder);
  event.step = step;
  event.name = argument;
  event.code = code;
  ReleaseReady();
}

platform::IReadFile& CCountingPipeline::NextFile() {
  ReleaseReady();
  while (free_.empty()) {
    WaitForFront();
    ReleaseReady();
  }
  return *jobs_[static_cast<std::size_t>(free_.back())].file;
}

void CCountingPipeline::CountFile(WStringView relativeFolder, WStringView name) {
  const int index = free_.back();
  if (failed_) {
    jobs_[static_cast<std::size_t>(index)].file->Close();
    return;
  }
  free_.pop_back();
  Event& event = Add(Kind::kFile, relativeFolder);
  event.name = name;
  event.job = index;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    jobs_[static_cast<std::size_t>(index)].done.store(false, std::memory_order_relaxed);
    queue_.push_back(index);
  }
  work_.notify_one();
  ReleaseReady();
}

HResult CCountingPipeline::Finish() {
  for (;;) {
    ReleaseReady();
    if (events_.empty() || failed_) break;
    WaitForFront();
  }
  return failed_ ? failure_ : hr::kOk;
}

// Waits until the first event held, if it is a file, has been counted. Rather than sleep,
// this thread counts the oldest queued files itself (the first one held among them, if no
// worker took it yet): a worker that is behind then never keeps the walk waiting, and no
// thread is woken for each file.
void CCountingPipeline::WaitForFront() {
  if (events_.empty() || events_.front().kind != Kind::kFile) return;
  const Job& job = jobs_[static_cast<std::size_t>(events_.front().job)];
  std::unique_lock<std::mutex> lock(mutex_);
  while (!job.done.load(std::memory_order_relaxed)) {
    if (queue_.empty()) {
      done_.wait(lock);
      continue;
    }
    const int index = queue_.front();
    queue_.pop_front();
    lock.unlock();
    if (!counter_) counter_ = std::make_unique<CFileCounter>();
    CountJob(index, *counter_);
    lock.lock();
  }
}

// Hands the sink every event up to the first file still being counted.
void CCountingPipeline::ReleaseReady() {
  while (!events_.empty() && !failed_) {
    Event& event = events_.front();
    switch (event.kind) {
      case Kind::kFolderStarted:
        sink_.FolderStarted(*event.folder);
        break;
      case Kind::kFile: {
        Job& job = jobs_[static_cast<std::size_t>(event.job)];
        if (!job.done.load(std::memory_order_acquire)) return;
        free_.push_back(event.job);
        if (Failed(job.status)) {
          sink_.WalkFailed(WalkFailure::kProcessFile, *event.folder, event.name, job.status);
          events_.pop_front();
          Fail(job.status);
          return;
        }
        totals_.AddFile(job.record);
        sink_.FileCounted(*event.folder, event.name, job.record);
        break;
      }
      case Kind::kCounted:
        totals_.AddFile(event.record);
        sink_.FileCounted(*event.folder, event.name, event.record);
        break;
      case Kind::kFolderFinished:
        sink_.FolderFinished(*event.folder, event.count);
        break;
      case Kind::kSkipped:
        sink_.FolderSkipped(*event.folder, event.skip);
        break;
      case Kind::kFileSkipped:
        sink_.FileSkipped(*event.folder, event.name, event.fileSkip);
        break;
      case Kind::kFailed: {
        // event is the queue's front: keep its code before the front is dropped.
        const HResult code = event.code;
        sink_.WalkFailed(event.step, *event.folder, event.name, code);
        events_.pop_front();
        Fail(code);
        return;
      }
    }
    events_.pop_front();
  }
}

// Nothing after the failure reaches the sink: the files still queued are dropped unread and
// every file in flight comes back before the walk goes on.
void CCountingPipeline::Fail(HResult code) {
  failed_ = true;
  failure_ = code;
  cancel_ = true;
  for (const Event& event : events_) {
    if (event.kind != Kind::kFile) continue;
    Job& job = jobs_[static_cast<std::size_t>(event.job)];
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&job] { return job.done.load(std::memory_order_relaxed); });
    free_.push_back(event.job);
  }
  events_.clear();
}

unsigned CountingThreads() {
  if (const char* text = std::getenv("SRCTALLY_THREADS")) {
    unsigned value = 0;
    bool digits = *text != '\0';
    for (const char* ch = text; *ch != '\0' && digits; ++ch) {
      digits = *ch >= '0' && *ch <= '9';
      if (digits) value = value * 10 + static_cast<unsigned>(*ch - '0');
      if (value > 256) digits = false;
    }
    if (digits && value >= 1) return value;
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware == 0 ? 1 : hardware;
}

}  // namespace srctally
