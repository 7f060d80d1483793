#include "window/worker_run.h"

#include <cassert>
#include <utility>

namespace vendrake::window {

WorkerRun::~WorkerRun() {
  RequestStop();
  Join();
}

void WorkerRun::Start(std::function<void(const std::atomic<bool>& stop)> work) {
  assert(!thread_.joinable());
  stop_.store(false);
  {
    const std::lock_guard lock(mutex_);
    over_ = false;
  }
  thread_ = std::thread([this, work = std::move(work)] {
    work(stop_);
    {
      const std::lock_guard lock(mutex_);
      over_ = true;
    }
    over_changed_.notify_all();
  });
}

bool WorkerRun::WaitFor(std::chrono::milliseconds patience) {
  if (!thread_.joinable()) return true;
  std::unique_lock lock(mutex_);
  return over_changed_.wait_for(lock, patience, [this] { return over_; });
}

bool WorkerRun::Join() {
  if (!thread_.joinable()) return false;
  thread_.join();
  return true;
}

}  // namespace vendrake::window
