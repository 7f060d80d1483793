#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/file_system.h"
#include "engine/listing_order_queue.h"
#include "engine/window_state.h"

namespace vendrake::engine {

// A listed file read, scaled and staged ahead of its turn, on a worker
// thread. The committer takes it up in listing order and keeps it only where
// nothing the run did meanwhile could have changed it.
struct FileAhead {
  ListedFile file;
  FileIdentity identity;  // of the file opened
  bool opened = false;    // whether `identity` is the opened file's
  FileIdentity occupant;  // what has the output's name, where looked up ahead
  bool occupant_known = false;
  bool redo = false;        // it must be done again on the committer's turn
  std::uint64_t epoch = 0;  // how many groups had taken their names when it was opened
  bool done = false;        // guarded by the pool's mutex
};

// Worker threads that run one job on each file handed in, several files at
// once. Each thread has a window state of its own, copied from the one
// given, so that the images of files in flight never meet.
class StagingPool {
 public:
  using Job = std::function<void(FileAhead&, WindowState&)>;

  StagingPool(std::size_t threads, const WindowState& state, Job job);
  StagingPool(const StagingPool&) = delete;
  StagingPool& operator=(const StagingPool&) = delete;
  // Lets every thread finish the file in hand, drops the files not begun,
  // and joins the threads.
  ~StagingPool();

  // Hands `file` in; it must outlive the pool or be waited for.
  void Submit(FileAhead* file);
  // Waits until the job on `file` has run.
  void WaitFor(const FileAhead& file);

 private:
  void Work(WindowState state);

  Job job_;
  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable work_done_;
  std::deque<FileAhead*> waiting_;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace vendrake::engine
