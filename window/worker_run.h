#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace vendrake::window {

// How long the end of the desktop session waits for the run in hand. The
// session manager (Windows, or an X session's) gives a few seconds and may
// then end the program, or let the user do so; the group in hand on a slow
// share can take longer, and while the user reads why the window waits it
// may still take its names. The bound is for a call that never returns.
inline constexpr std::chrono::milliseconds kSessionEndPatience{30'000};

// A window's batch run on a worker thread of its own. The window's thread
// starts it, may ask it to stop (it ends after the file in hand, once the
// group in hand has taken its names), and joins it once it has said it is
// over; an ending session lets the window wait only so long for it.
class WorkerRun {
 public:
  WorkerRun() = default;
  WorkerRun(const WorkerRun&) = delete;
  WorkerRun& operator=(const WorkerRun&) = delete;
  // Stops the run in hand and waits for it.
  ~WorkerRun();

  // Runs `work` on a new thread with the flag that asks it to stop. Expects
  // no run in hand.
  void Start(std::function<void(const std::atomic<bool>& stop)> work);

  // Whether a run was started and has not been joined yet.
  bool Running() const { return thread_.joinable(); }

  // Asks the run in hand, if any, to stop between files.
  void RequestStop() { stop_.store(true); }

  // Waits at most `patience` for the run in hand to return; true once it has,
  // or when none is in hand.
  bool WaitFor(std::chrono::milliseconds patience);

  // Waits for the run in hand to return and joins its thread; false if none
  // was in hand.
  bool Join();

 private:
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable over_changed_;
  bool over_ = false;
  std::thread thread_;
};

}  // namespace vendrake::window
