#include "engine/staging_pool.h"

#include <utility>

namespace vendrake::engine {

StagingPool::StagingPool(std::size_t threads, const WindowState& state, Job job)
    : job_(std::move(job)) {
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
