// Worker threads count, the walk's thread releases in walk order.
#include "walk/counting_pipeline.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <system_error>

#include "counting/file_counting.h"
#include "platform/last_error.h"

namespace srctally {
namespace {

// Files in flight per counting thread (the workers and the walk's) with several workers:
// enough that the walk's thread, which is quicker than any one worker, sleeps once per many
// files rather than for each. With one worker the walk's thread counts files too, and a short
// window shares them out evenly.
constexpr unsigned kFilesPerThread = 16;
constexpr unsigned kFilesPerThreadWithOneWorker = 4;
// Descriptors the files in flight hold, per counting thread: each file holds its folder open
// until it is counted, or itself when the walk opened it.
constexpr unsigned kDescriptorsPerThread = 4;
// Events held at most, so that a tree of many empty folders behind one slow file cannot make
// memory grow.
constexpr std::size_t kMaxEvents = 4096;
// A sleeping worker is woken for every this many files queued, not for each: waking a
// thread costs about as much as counting a small file. Nothing waits on a file left queued
// meanwhile: the walk's thread counts queued files itself before it would wait.
constexpr std::size_t kFilesPerWake = 4;
// How long the last worker awake looks for more work before it sleeps.
constexpr std::chrono::microseconds kWatchTime{50};
// No file is dropped while nothing has failed.
constexpr std::uint64_t kNothingCancelled = std::numeric_limits<std::uint64_t>::max();
// The walk's thread sleeps on no file.
constexpr std::uint64_t kNoFile = std::numeric_limits<std::uint64_t>::max();

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
  jobs_ = std::vector<Job>((workers + 1) *
                          (workers > 1 ? kFilesPerThread : kFilesPerThreadWithOneWorker));
  maxHolding_ = (workers + 1) * kDescriptorsPerThread;
  wakeAfter_ = std::max<std::size_t>(kFilesPerWake, jobs_.size() / 4);
  for (Job& job : jobs_) job.file = disk.NewFile();
  workers_.reserve(workers);
  for (unsigned i = 0; i < workers; ++i) {
    // Counted before it starts: a worker reads the count, never the vector, which grows.
    workerCount_.fetch_add(1);
    std::thread thread;
    if (!start(thread, &CCountingPipeline::RunWorker, this)) {
      workerCount_.fetch_sub(1);
      break;  // count with those there are
    }
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
    tasksQueued_.fetch_add(1);
    // A worker that is awake takes it before its next file.
    wake = urgent && sleeping_.load() == Workers();
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (wake) work_.notify_one();
  return true;
}

void CCountingPipeline::RunWorker(void* self) { static_cast<CCountingPipeline*>(self)->Work(); }

void CCountingPipeline::Work() {
  CFileCounter counter;
  for (;;) {
    if (tasksQueued_.load(std::memory_order_relaxed) > 0 && RunTask()) continue;
    std::uint64_t order;
    if (Claim(order)) {
      // Wakes the next sleeper while there is more than this worker takes: the walk's
      // thread wakes one worker per batch, the workers wake each other.
      if (WantsAnotherWorker()) WakeOne();
      CountJob(order, counter);
      continue;
    }
    if (quit_.load()) return;
    if (!Watch()) Sleep();
  }
}

// The last worker awake watches for work a little while before it sleeps, so that the walk's
// thread finds a worker awake for the files it queues next and seldom has to wake one: a
// wake is a system call on the one thread whose time no other thread can share. It yields
// meanwhile, leaving the core to any thread that has work. True when work or the end came.
bool CCountingPipeline::Watch() {
  // With one worker the walk's thread counts files itself whenever it would wait: a worker
  // that yielded its core to another program would leave it all the counting.
  const unsigned workers = Workers();
  if (workers < 2 || sleeping_.load(std::memory_order_relaxed) + 1 < workers) {
    return false;
  }
  const auto until = std::chrono::steady_clock::now() + kWatchTime;
  do {
    if (quit_.load(std::memory_order_relaxed) || HasWork()) return true;
    std::this_thread::yield();
  } while (std::chrono::steady_clock::now() < until);
  return false;
}

// Runs the oldest task the disk posted; false when there was none.
bool CCountingPipeline::RunTask() {
  PostedTask posted;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (tasks_.empty()) return false;
    posted = tasks_.front();
    tasks_.pop_front();
    tasksQueued_.fetch_sub(1);
  }
  posted.task(posted.context);
  return true;
}

// Takes the oldest queued file, on any thread; false when none is queued.
bool CCountingPipeline::Claim(std::uint64_t& order) {
  std::uint64_t next = taken_.load(std::memory_order_relaxed);
  for (;;) {
    // Acquiring queued_ makes the job written before it was raised visible here.
    if (next >= queued_.load(std::memory_order_acquire)) return false;
    if (taken_.compare_exchange_weak(next, next + 1, std::memory_order_relaxed)) {
      order = next;
      return true;
    }
  }
}

bool CCountingPipeline::HasWork() const {
  return tasksQueued_.load() > 0 || taken_.load() < queued_.load();
}

// Waits for work or the end. The count of sleepers is raised before looking for work, and
// whoever queues work raises the queue before reading the count: either this thread sees
// the work, or the one that queued it sees this thread asleep and wakes it.
void CCountingPipeline::Sleep() {
  std::unique_lock<std::mutex> lock(mutex_);
  sleeping_.fetch_add(1);
  while (!quit_.load() && !HasWork()) work_.wait(lock);
  sleeping_.fetch_sub(1);
}

void CCountingPipeline::WakeOne() {
  // Taking the lock orders the wake after a sleeper's last look for work.
  { const std::lock_guard<std::mutex> lock(mutex_); }
  work_.notify_one();
}

// Whether a sleeping worker should be woken: when none is awake, or the files queued are
// more than a batch for each worker awake. Waking costs about as much as counting a small
// file, and a woken worker that finds nothing to do wastes it.
bool CCountingPipeline::WantsAnotherWorker() const {
  const unsigned sleeping = sleeping_.load();
  if (sleeping == 0) return false;
  const std::uint64_t queued = queued_.load() - taken_.load(std::memory_order_relaxed);
  if (queued == 0) return false;
  const unsigned workers = Workers();
  const std::size_t awake = sleeping < workers ? workers - sleeping : 0;
  return awake == 0 || queued > kFilesPerWake * awake;
}

// Counts a job taken off the queue, on whichever thread took it.
void CCountingPipeline::CountJob(std::uint64_t order, CFileCounter& counter) {
  Job& job = JobOf(order);
  HResult status = hr::kFail;
  if (order >= cancelFrom_.load(std::memory_order_acquire)) {
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
      // opening files, and the files queued after it are dropped unread.
      std::uint64_t from = cancelFrom_.load(std::memory_order_relaxed);
      while (order < from && !cancelFrom_.compare_exchange_weak(from, order + 1)) {
      }
    }
  }
  job.folder.reset();  // may close the folder's descriptor, when the walk is done with it
  job.status = status;
  // Set before reading whom the walk's thread waits for, which it sets before reading this:
  // either it sees the file counted, or this thread sees it waiting and wakes it.
  job.done.store(true);
  if (waitingFor_.load() == order) {
    { const std::lock_guard<std::mutex> lock(doneMutex_); }
    done_.notify_all();
  }
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
  Event& event = events_.push_back();
  event.kind = kind;
  event.folder = folder_;
  event.name.clear();
  return &event;
}

CCountingPipeline::Event& CCountingPipeline::EventRing::push_back() {
  if (size_ == slots_.size()) {
    // Full: twice the room, the events moved over in order.
    std::vector<Event> grown(slots_.empty() ? 64 : 2 * slots_.size());
    for (std::size_t i = 0; i < size_; ++i) grown[i] = std::move((*this)[i]);
    slots_ = std::move(grown);
    head_ = 0;
  }
  return (*this)[size_++];
}

void CCountingPipeline::EventRing::pop_front() {
  slots_[head_].folder.reset();
  head_ = (head_ + 1) & (slots_.size() - 1);
  --size_;
}

void CCountingPipeline::EventRing::clear() {
  while (size_ > 0) pop_front();
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

// Waits (releasing what it can) until the next job is free; false when nothing more is to
// be opened.
bool CCountingPipeline::WaitForJob(bool holds) {
  ReleaseReady();
  while ((nextOrder_ - releasedFiles_ >= jobs_.size() || (holds && holding_ >= maxHolding_)) &&
         !stopped_) {
    WaitForFront(true);
    ReleaseReady();
  }
  // What was released while waiting may have ended the walk: then nothing more is opened.
  return WantsMore();
}

platform::IReadFile* CCountingPipeline::NextFile() {
  if (!WaitForJob(true)) return nullptr;
  return JobOf(nextOrder_).file.get();
}

void CCountingPipeline::CountFile(WStringView relativeFolder, WStringView name) {
  Queue(relativeFolder, name);
}

bool CCountingPipeline::CountFileOf(const std::shared_ptr<const platform::IFolderFiles>& files,
                                    WStringView relativeFolder, WStringView name,
                                    bool listedRegular) {
  // The files of one folder, queued one after another, hold one descriptor between them.
  if (!WaitForJob(files != lastFolder_)) return false;
  Job& job = JobOf(nextOrder_);
  job.folder = files;
  job.listedRegular = listedRegular;
  Queue(relativeFolder, name);
  return true;
}

// Puts the next job, for the file name, at the end of the events and on the queue.
void CCountingPipeline::Queue(WStringView relativeFolder, WStringView name) {
  Job& job = JobOf(nextOrder_);
  Event* event = Add(Kind::kFile, relativeFolder);
  if (event == nullptr) {
    job.file->Close();
    job.folder.reset();
    return;
  }
  job.name = name;  // the job's own text, whose room is reused from file to file
  // The first file of its folder in flight holds the folder's descriptor (or, opened by the
  // walk, its own) for the files of the folder after it.
  job.holds = !job.folder || job.folder != lastFolder_;
  if (job.holds) ++holding_;
  lastFolder_ = job.folder;
  job.done.store(false, std::memory_order_relaxed);
  event->order = nextOrder_;
  // Raising the queue publishes the job; it is read before the sleepers (see Sleep).
  queued_.store(++nextOrder_);
  // This thread wakes a worker only when none is awake and a quarter of the window waits;
  // a worker that takes a file wakes the next while more are queued than those awake take
  // soon. Each wake is a system call on this thread, whose time no other thread can share.
  if (sleeping_.load() == Workers() &&
      nextOrder_ - taken_.load(std::memory_order_relaxed) >= wakeAfter_) {
    WakeOne();
  }
  ReleaseReady();
}

HResult CCountingPipeline::Finish() {
  lastFolder_.reset();
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
// is full) until half the window is counted, so that it is woken once per batch of
// files rather than for each.
void CCountingPipeline::WaitForFront(bool batch) {
  if (events_.empty() || events_.front().kind != Kind::kFile) return;
  std::uint64_t front = events_.front().order;
  if (batch && Workers() > 1) {
    const std::size_t want = jobs_.size() / 2;
    std::size_t files = 0;
    // The last of those files not counted yet: the files before it are mostly counted
    // by then, and if not, the next wait is for them.
    for (std::size_t i = 0; i < events_.size(); ++i) {
      const Event& event = events_[i];
      if (event.kind != Kind::kFile) continue;
      if (!JobOf(event.order).done.load(std::memory_order_acquire)) front = event.order;
      if (++files >= want) break;
    }
  }
  if (Workers() == 1) {
    // The worker may be busy with a large file: this thread counts the oldest queued ones
    // meanwhile, up to the one it waits for.
    std::uint64_t order;
    while (!JobOf(front).done.load(std::memory_order_acquire) && Claim(order)) {
      if (!counter_) counter_ = std::make_unique<CFileCounter>();
      CountJob(order, *counter_);
    }
  }
  WaitFor(front);
}

// Sleeps until the file of place order has been counted. With several workers this thread
// counts nothing itself: the workers do, and this thread's share of the work stays small, so
// that more cores keep speeding the run up.
void CCountingPipeline::WaitFor(std::uint64_t order) {
  const Job& job = JobOf(order);
  if (job.done.load(std::memory_order_acquire)) return;
  // Files queued and not woken for yet: a worker that is awake takes them, or one is woken.
  if (WantsAnotherWorker()) WakeOne();
  std::unique_lock<std::mutex> lock(doneMutex_);
  waitingFor_.store(order);
  while (!job.done.load()) done_.wait(lock);
  waitingFor_.store(kNoFile, std::memory_order_relaxed);
}

// Hands the sink every event up to the first file still being counted.
void CCountingPipeline::ReleaseReady() {
  while (!events_.empty() && !stopped_) {
    Event& event = events_.front();
    if (event.kind == Kind::kFile &&
        !JobOf(event.order).done.load(std::memory_order_acquire)) {
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
    // Stopped first: every file a worker was opening is done before the sink hears anything
    // more, so nothing is opened after the last event it hears.
    Stop();
    if (openFolder_) sink_.FolderFinished(*openFolder_, openFolderFiles_);
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
      Job& job = JobOf(event.order);
      ++releasedFiles_;  // its job is free again once the sink has heard of it
      if (job.holds) --holding_;
      if (Failed(job.status)) {
        failure = job.status;
        if (!keepGoing_) {
          // Nothing after this file is released: stopped before the sink hears of the
          // failure, so no file is opened after it does.
          const std::shared_ptr<const WString> folder = event.folder;
          Stop();  // drops the events, this one's folder kept above, its job left as it is
          sink_.WalkFailed(WalkFailure::kProcessFile, *folder, job.name, failure);
          if (!Failed(failure_)) failure_ = failure;
          return false;
        }
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

// Nothing more is released: the files no worker took yet are dropped unread, and every file
// in flight comes back before the walk goes on.
void CCountingPipeline::Stop() {
  stopped_ = true;
  cancelFrom_ = 0;
  std::uint64_t from = taken_.load(std::memory_order_relaxed);
  while (from < nextOrder_ && !taken_.compare_exchange_weak(from, nextOrder_)) {
  }
  for (std::uint64_t order = from; order < nextOrder_; ++order) {
    Job& job = JobOf(order);
    job.file->Close();
    job.folder.reset();
    job.status = hr::kFail;
    job.done.store(true, std::memory_order_release);
  }
  for (std::size_t i = 0; i < events_.size(); ++i) {
    if (events_[i].kind == Kind::kFile) WaitFor(events_[i].order);
  }
  events_.clear();
  releasedFiles_ = nextOrder_;
  holding_ = 0;
  lastFolder_.reset();
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
  constexpr std::uint64_t kPerThread = kDescriptorsPerThread + 1;
  if (openFileLimit <= kWalkDescriptors + 2 * kPerThread) return 1;
  const std::uint64_t most = (openFileLimit - kWalkDescriptors) / kPerThread;
  return most < threads ? static_cast<unsigned>(most) : threads;
}

unsigned CountingThreads() {
  return ParseThreadCount(std::getenv("SRCTALLY_THREADS"), std::thread::hardware_concurrency());
}

}  // namespace srctally
