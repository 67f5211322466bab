// Worker threads count, the walk's thread releases in walk order.
#include "walk/counting_pipeline.h"

#include <cstdlib>
#include <system_error>

#include "counting/file_counting.h"

namespace srctally {
namespace {

// Files in flight per counting thread (the workers and the walk's): enough that a worker
// never waits for the walk.
constexpr unsigned kFilesPerThread = 4;
// Events held at most, so that a tree of many empty folders behind one slow file cannot make
// memory grow.
constexpr std::size_t kMaxEvents = 4096;
// A sleeping worker is woken for every this many files queued, not for each: waking a
// thread costs about as much as counting a small file. Nothing waits on a file left queued
// meanwhile: the walk's thread counts queued files itself before it would wait.
constexpr std::size_t kFilesPerWake = 4;
// No file is dropped while nothing has failed.
constexpr std::uint64_t kNothingCancelled = std::numeric_limits<std::uint64_t>::max();

}  // namespace

bool StartSystemThread(std::thread& thread, void (*run)(void*), void* context) {
  try {
    thread = std::thread(run, context);
    return true;
  } catch (const std::system_error&) {
    return false;  // no room for another thread (a memory or process limit)
  }
}

CCountingPipeline::CCountingPipeline(IWalkSink& sink, platform::IDisk& disk, unsigned workers,
                                     LineStats& totals, bool keepGoing, ThreadStarter start)
    : sink_(sink), totals_(totals), keepGoing_(keepGoing) {
  if (workers == 0) workers = 1;
  jobs_ = std::vector<Job>((workers + 1) * kFilesPerThread);
  for (std::size_t i = jobs_.size(); i-- > 0;) {
    jobs_[i].file = disk.NewFile();
    free_.push_back(static_cast<int>(i));
  }
  workers_.reserve(workers);
  for (unsigned i = 0; i < workers; ++i) {
    std::thread thread;
    if (!start(thread, &CCountingPipeline::RunWorker, this)) break;  // count with those there are
    workers_.push_back(std::move(thread));
  }
}

CCountingPipeline::~CCountingPipeline() {
  cancelFrom_ = 0;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  work_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void CCountingPipeline::RunWorker(void* self) { static_cast<CCountingPipeline*>(self)->Work(); }

void CCountingPipeline::Work() {
  CFileCounter counter;
  for (;;) {
    int index;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [this] { return quit_ || !queue_.empty(); });
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
  if (job.order >= cancelFrom_.load(std::memory_order_acquire)) {
    job.file->Close();  // behind a failure: it will never be released
  } else {
    job.record.Reset();
    status = counter.Count(*job.file, job.record);
    if (Failed(status) && !keepGoing_) {
      // Whatever comes after this file in walk order will not be released: the walk stops
      // opening files, and the files queued after it are dropped unread. The queue is in
      // walk order, so every file before this one has been taken off it already.
      std::uint64_t from = cancelFrom_.load(std::memory_order_relaxed);
      while (job.order < from && !cancelFrom_.compare_exchange_weak(from, job.order + 1)) {
      }
    }
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    job.status = status;
    job.done.store(true, std::memory_order_release);
  }
  done_.notify_all();
}

CCountingPipeline::Event* CCountingPipeline::Add(Kind kind, WStringView relativeFolder) {
  while (events_.size() >= kMaxEvents && !stopped_) {
    WaitForFront();
    ReleaseReady();
  }
  if (stopped_) return nullptr;
  // Events of one folder share one copy of its path.
  if (!folder_ || *folder_ != relativeFolder) {
    folder_ = std::make_shared<const WString>(relativeFolder);
  }
  Event& event = events_.emplace_back();
  event.kind = kind;
  event.folder = folder_;
  return &event;
}

void CCountingPipeline::FolderStarted(WStringView relativeFolder) {
  if (Add(Kind::kFolderStarted, relativeFolder) != nullptr) ReleaseReady();
}

void CCountingPipeline::FolderFinished(WStringView relativeFolder, std::int64_t fileCount) {
  Event* event = Add(Kind::kFolderFinished, relativeFolder);
  if (event == nullptr) return;
  event->count = fileCount;
  ReleaseReady();
}

void CCountingPipeline::FolderSkipped(WStringView relativeFolder, FolderSkip reason) {
  Event* event = Add(Kind::kSkipped, relativeFolder);
  if (event == nullptr) return;
  event->skip = reason;
  ReleaseReady();
}

void CCountingPipeline::FileSkipped(WStringView relativeFolder, WStringView name,
                                    FileSkip reason) {
  Event* event = Add(Kind::kFileSkipped, relativeFolder);
  if (event == nullptr) return;
  event->name = name;
  event->fileSkip = reason;
  ReleaseReady();
}

void CCountingPipeline::WalkFailed(WalkFailure step, WStringView relativeFolder,
                                   WStringView argument, HResult code) {
  Event* event = Add(Kind::kFailed, relativeFolder);
  if (event == nullptr) return;
  event->step = step;
  event->name = argument;
  event->code = code;
  ReleaseReady();
}

bool CCountingPipeline::WantsMore() const {
  return !stopped_ && cancelFrom_.load(std::memory_order_relaxed) == kNothingCancelled &&
         sink_.WantsMore();
}

platform::IReadFile* CCountingPipeline::NextFile() {
  ReleaseReady();
  while (free_.empty() && !stopped_) {
    WaitForFront();
    ReleaseReady();
  }
  // What was released while waiting may have ended the walk: then nothing more is opened.
  if (!WantsMore()) return nullptr;
  return jobs_[static_cast<std::size_t>(free_.back())].file.get();
}

void CCountingPipeline::CountFile(WStringView relativeFolder, WStringView name) {
  const int index = free_.back();
  free_.pop_back();
  Job& job = jobs_[static_cast<std::size_t>(index)];
  Event* event = Add(Kind::kFile, relativeFolder);
  if (event == nullptr) {
    job.file->Close();
    free_.push_back(index);
    return;
  }
  job.name = name;  // the job's own text, whose room is reused from file to file
  event->job = index;
  job.order = nextOrder_++;
  bool wake = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    job.done.store(false, std::memory_order_relaxed);
    queue_.push_back(index);
    wake = queue_.size() % kFilesPerWake == 0;
  }
  if (wake) work_.notify_one();
  ReleaseReady();
}

HResult CCountingPipeline::Finish() {
  for (;;) {
    ReleaseReady();
    if (events_.empty() || stopped_) break;
    WaitForFront();
  }
  return failure_;
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
  while (!events_.empty() && !stopped_) {
    Event& event = events_.front();
    if (event.kind == Kind::kFile &&
        !jobs_[static_cast<std::size_t>(event.job)].done.load(std::memory_order_acquire)) {
      return;
    }
    if (!Release(event)) return;
    events_.pop_front();
  }
}

// Tells the sink of one event; false when nothing after it is to be released (and then the
// pipeline has stopped).
bool CCountingPipeline::Release(Event& event) {
  // A walk on one thread asks the sink before each step; asked here before each event, the
  // sink hears the same: the folder whose files were being counted ends, and nothing more.
  if (!sink_.WantsMore()) {
    if (openFolder_) sink_.FolderFinished(*openFolder_, openFolderFiles_);
    Stop();
    return false;
  }
  HResult failure = hr::kOk;
  switch (event.kind) {
    case Kind::kFolderStarted:
      sink_.FolderStarted(*event.folder);
      openFolder_ = event.folder;
      openFolderFiles_ = 0;
      break;
    case Kind::kFile: {
      Job& job = jobs_[static_cast<std::size_t>(event.job)];
      free_.push_back(event.job);
      if (Failed(job.status)) {
        failure = job.status;
        sink_.WalkFailed(WalkFailure::kProcessFile, *event.folder, job.name, failure);
        break;
      }
      totals_.AddFile(job.record);
      ++openFolderFiles_;
      sink_.FileCounted(*event.folder, job.name, job.record);
      break;
    }
    case Kind::kFolderFinished:
      // The files released, which leaves out those that failed on a worker when the walk
      // goes on after failures.
      sink_.FolderFinished(*event.folder, openFolder_ ? openFolderFiles_ : event.count);
      openFolder_.reset();
      break;
    case Kind::kSkipped:
      sink_.FolderSkipped(*event.folder, event.skip);
      break;
    case Kind::kFileSkipped:
      sink_.FileSkipped(*event.folder, event.name, event.fileSkip);
      break;
    case Kind::kFailed:
      failure = event.code;
      sink_.WalkFailed(event.step, *event.folder, event.name, failure);
      if (event.step == WalkFailure::kSearchFilesEnd) openFolder_.reset();  // its listing ended
      break;
  }
  if (!Failed(failure)) return true;
  if (!Failed(failure_)) failure_ = failure;
  if (keepGoing_) return true;
  events_.pop_front();  // told already
  Stop();
  return false;
}

// Nothing more is released: the files still queued are dropped unread, and every file in
// flight comes back before the walk goes on.
void CCountingPipeline::Stop() {
  stopped_ = true;
  cancelFrom_ = 0;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const int index : queue_) {
      Job& job = jobs_[static_cast<std::size_t>(index)];
      job.file->Close();
      job.status = hr::kFail;
      job.done.store(true, std::memory_order_release);
    }
    queue_.clear();
  }
  for (const Event& event : events_) {
    if (event.kind != Kind::kFile) continue;
    Job& job = jobs_[static_cast<std::size_t>(event.job)];
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&job] { return job.done.load(std::memory_order_relaxed); });
    free_.push_back(event.job);
  }
  events_.clear();
}

unsigned ParseThreadCount(const char* text, unsigned hardware) {
  if (text != nullptr) {
    unsigned value = 0;
    bool digits = *text != '\0';
    for (const char* ch = text; *ch != '\0' && digits; ++ch) {
      digits = *ch >= '0' && *ch <= '9';
      if (digits) value = value * 10 + static_cast<unsigned>(*ch - '0');
      if (value > 256) digits = false;
    }
    if (digits && value >= 1) return value;
  }
  return hardware == 0 ? 1 : hardware;
}

unsigned CountingThreads() {
  return ParseThreadCount(std::getenv("SRCTALLY_THREADS"), std::thread::hardware_concurrency());
}

}  // namespace srctally
