#pragma once

#include <windows.h>

struct ITaskbarList3;

namespace vendrake::window {

// The window's taskbar button as a progress indicator. Where the shell has no
// taskbar list (an older shell, or none), it shows nothing and says nothing.
class TaskbarProgress {
 public:
  TaskbarProgress();
  TaskbarProgress(const TaskbarProgress&) = delete;
  TaskbarProgress& operator=(const TaskbarProgress&) = delete;
  ~TaskbarProgress();

  // Shows the button of `window` as busy for as long as it takes, or as
  // before.
  void ShowBusy(HWND window, bool busy);

 private:
  bool com_started_ = false;
  ITaskbarList3* taskbar_ = nullptr;
};

}  // namespace vendrake::window
