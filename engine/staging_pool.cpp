#include "engine/staging_pool.h"

#include <utility>

#ifndef _WIN32
#include <pthread.h>

#include <csignal>
#endif

namespace vendrake::engine {
namespace {

#ifndef _WIN32
// While it lives, the calling thread blocks every signal sent to the process
// as a whole, and so does every thread it starts meanwhile, for good. A
// signal from outside (SIGINT from the terminal, say) then goes to the thread
// that started the workers, which takes such signals one at a time, in the
// order they came, rather than to whichever worker happens to be free. The
// signals the kernel sends a thread for what that thread did stay unblocked.
class ProcessSignalsBlocked {
 public:
  ProcessSignalsBlocked() {
    sigset_t signals;
    sigfillset(&signals);
    for (const int own : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGPIPE, SIGXFSZ}) {
      sigdelset(&signals, own);
    }
    pthread_sigmask(SIG_BLOCK, &signals, &previous_);
  }
  ProcessSignalsBlocked(const ProcessSignalsBlocked&) = delete;
  ProcessSignalsBlocked& operator=(const ProcessSignalsBlocked&) = delete;
  ~ProcessSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_{};
};
#else
// Windows sends no signal to a thread of its choosing: the C run-time calls
// a SIGINT handler on a thread of its own.
struct ProcessSignalsBlocked {};
#endif

}  // namespace

StagingPool::StagingPool(std::size_t threads, const WindowState& state, Job job)
    : job_(std::move(job)) {
  [[maybe_unused]] const ProcessSignalsBlocked in_the_workers;
  threads_.reserve(threads);
  for (std::size_t k = 0; k < threads; ++k) {
    WindowState own{
        .ModelWords = {}, .DestBaseName = state.DestBaseName, .ScaleFactor = state.ScaleFactor};
    threads_.emplace_back([this, own = std::move(own)]() mutable { Work(std::move(own)); });
  }
}

StagingPool::~StagingPool() {
  {
    const std::lock_guard lock(mutex_);
    closing_ = true;
    waiting_.clear();
  }
  work_ready_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void StagingPool::Submit(FileAhead* file) {
  {
    const std::lock_guard lock(mutex_);
    waiting_.push_back(file);
  }
  work_ready_.notify_one();
}

void StagingPool::WaitFor(const FileAhead& file) {
  std::unique_lock lock(mutex_);
  work_done_.wait(lock, [&] { return file.done; });
}

void StagingPool::Work(WindowState state) {
  for (;;) {
    FileAhead* file = nullptr;
    {
      std::unique_lock lock(mutex_);
      work_ready_.wait(lock, [&] { return closing_ || !waiting_.empty(); });
      if (waiting_.empty()) return;
      file = waiting_.front();
      waiting_.pop_front();
    }
    job_(*file, state);
    {
      const std::lock_guard lock(mutex_);
      file->done = true;
    }
    work_done_.notify_all();
  }
}

}  // namespace vendrake::engine
