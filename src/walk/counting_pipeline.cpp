// Worker threads count, the walk's thread releases in walk order.
#include "walk/counting_pipeline.h"

#include <cstdlib>
#include <system_error>

#include "counting/file_counting.h"
#include "platform/last_error.h"

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
  for (const PostedTask& posted : tasks_) posted.task(posted.context);  // they let go
}

bool CCountingPipeline::Post(Task task, void* context, bool urgent) {
  bool wake = false;
  try {
    const std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back({task, context});
    // A worker that is awake takes it before its next file.
    wake = urgent && sleeping_ == workers_.size();
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (wake) work_.notify_one();
  return true;
}

// Whether a sleeping worker should be woken (asked with mutex_ held): when none is awake,
// or the files queued are more than a batch for each worker awake. Waking costs about as
// much as counting a small file, and a woken worker that finds nothing to do wastes it.
bool CCountingPipeline::WantsAnotherWorker() const {
  if (sleeping_ == 0 || (queue_.empty() && tasks_.empty())) return false;
  const std::size_t awake = workers_.size() - sleeping_;
  return awake == 0 || queue_.size() > kFilesPerWake * awake;
}

void CCountingPipeline::RunWorker(void* self) { static_cast<CCountingPipeline*>(self)->Work(); }

void CCountingPipeline::Work() {
  CFileCounter counter;
  for (;;) {
    int index;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!quit_ && queue_.empty() && tasks_.empty()) {
        ++sleeping_;
        work_.wait(lock, [this] { return quit_ || !queue_.empty() || !tasks_.empty(); });
        --sleeping_;
      }
      // Wakes the next sleeper while there is more than this worker takes: the walk's
      // thread wakes one worker per batch, the workers wake each other.
      if (WantsAnotherWorker()) work_.notify_one();
      if (!tasks_.empty()) {
        const PostedTask posted = tasks_.front();
        tasks_.pop_front();
        lock.unlock();
        posted.task(posted.context);
        continue;
      }
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
    if (!job.folder || job.folder->OpenFile(job.name, job.listedRegular, *job.file)) {
      status = counter.Count(*job.file, job.record);
    } else {
      status = platform::LastErrorResult();
    }
    if (Failed(status) && !keepGoing_) {
      // Whatever comes after this file in walk order will not be released: the walk stops
      // opening files, and the files queued after it are dropped unread. The queue is in
      // walk order, so every file before this one has been taken off it already.
      std::uint64_t from = cancelFrom_.load(std::memory_order_relaxed);
      while (job.order < from && !cancelFrom_.compare_exchange_weak(from, job.order + 1)) {
      }
    }
  }
  job.folder.reset();  // may close the folder's descriptor, when the walk is done with it
  bool waitedFor = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    job.status = status;
    job.done.store(true, std::memory_order_release);
    waitedFor = waitingFor_ == index;
  }
  // Only the file the walk's thread waits for wakes it.
  if (waitedFor) done_.notify_all();
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

// Waits (releasing what it can) until a job is free; false when nothing more is to be
// opened.
bool CCountingPipeline::WaitForJob() {
  ReleaseReady();
  while (free_.empty() && !stopped_) {
    WaitForFront(true);
    ReleaseReady();
  }
  // What was released while waiting may have ended the walk: then nothing more is opened.
  return WantsMore();
}

platform::IReadFile* CCountingPipeline::NextFile() {
  if (!WaitForJob()) return nullptr;
  return jobs_[static_cast<std::size_t>(free_.back())].file.get();
}

void CCountingPipeline::CountFile(WStringView relativeFolder, WStringView name) {
  const int index = free_.back();
  free_.pop_back();
  Queue(index, relativeFolder, name);
}

bool CCountingPipeline::CountFileOf(const std::shared_ptr<const platform::IFolderFiles>& files,
                                    WStringView relativeFolder, WStringView name,
                                    bool listedRegular) {
  if (!WaitForJob()) return false;
  const int index = free_.back();
  free_.pop_back();
  Job& job = jobs_[static_cast<std::size_t>(index)];
  job.folder = files;
  job.listedRegular = listedRegular;
  Queue(index, relativeFolder, name);
  return true;
}

// Puts the taken job for the file name at the end of the events and on the queue.
void CCountingPipeline::Queue(int index, WStringView relativeFolder, WStringView name) {
  Job& job = jobs_[static_cast<std::size_t>(index)];
  Event* event = Add(Kind::kFile, relativeFolder);
  if (event == nullptr) {
    job.file->Close();
    job.folder.reset();
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
    // This thread wakes a worker only when none is awake; a worker that takes a file
    // wakes the next while more are queued than those awake take soon.
    wake = sleeping_ == workers_.size() && queue_.size() >= kFilesPerWake;
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

// Waits until the first event held, if it is a file, has been counted. With one worker,
// rather than sleep, this thread counts the oldest queued files itself (the first one held
// among them, if the worker did not take it yet): the worker being behind then never keeps
// the walk waiting. With more, this thread only waits, and with batch (the window of files
// is full) until a quarter of the window is counted, so that it is woken once per batch of
// files rather than for each.
void CCountingPipeline::WaitForFront(bool batch) {
  if (events_.empty() || events_.front().kind != Kind::kFile) return;
  int front = events_.front().job;
  if (batch && workers_.size() > 1) {
    const std::size_t want = jobs_.size() / 4;
    std::size_t files = 0;
    // The last of those files not counted yet: the files before it are mostly counted
    // by then, and if not, the next wait is for them.
    for (const Event& event : events_) {
      if (event.kind != Kind::kFile) continue;
      if (!jobs_[static_cast<std::size_t>(event.job)].done.load(std::memory_order_acquire)) {
        front = event.job;
      }
      if (++files >= want) break;
    }
  }
  const Job& job = jobs_[static_cast<std::size_t>(front)];
  std::unique_lock<std::mutex> lock(mutex_);
  while (!job.done.load(std::memory_order_relaxed)) {
    // With several workers this thread counts nothing: the workers do, and this thread's
    // share of the work stays small, so that more cores keep speeding the run up.
    if (queue_.empty() || workers_.size() > 1) {
      if (!queue_.empty() && sleeping_ > 0) work_.notify_all();  // a batch not woken for yet
      waitingFor_ = front;
      done_.wait(lock);
      waitingFor_ = -1;
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
      job.folder.reset();
      job.status = hr::kFail;
      job.done.store(true, std::memory_order_release);
    }
    queue_.clear();
  }
  for (const Event& event : events_) {
    if (event.kind != Kind::kFile) continue;
    Job& job = jobs_[static_cast<std::size_t>(event.job)];
    std::unique_lock<std::mutex> lock(mutex_);
    waitingFor_ = event.job;
    done_.wait(lock, [&job] { return job.done.load(std::memory_order_relaxed); });
    waitingFor_ = -1;
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

unsigned ThreadsWithinOpenFileLimit(unsigned threads, std::uint64_t openFileLimit) {
  // The walk: the standard streams and a few more, its open folders (16 levels keep
  // theirs, and up to 16 more for folders reached through links), folders opened ahead
  // with their parents (32 each) and folders waiting to be closed (16).
  constexpr std::uint64_t kWalkDescriptors = 128;
  // Per thread: its files in flight, each open or holding its folder open, and the file
  // the thread reads.
  constexpr std::uint64_t kPerThread = kFilesPerThread + 1;
  if (openFileLimit <= kWalkDescriptors + 2 * kPerThread) return 1;
  const std::uint64_t most = (openFileLimit - kWalkDescriptors) / kPerThread;
  return most < threads ? static_cast<unsigned>(most) : threads;
}

unsigned CountingThreads() {
  return ParseThreadCount(std::getenv("SRCTALLY_THREADS"), std::thread::hardware_concurrency());
}

}  // namespace srctally
