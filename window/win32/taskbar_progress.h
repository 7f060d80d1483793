#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

struct ITaskbarList3;

namespace vendrake::window {

// The window's taskbar button as a progress indicator. The shell takes calls
// about a button only once it has made it, and says so with its registered
// message "TaskbarButtonCreated", again whenever Explorer restarts; the
// taskbar object is therefore made (anew) on that message, and shows then
// what it was last asked to show. Where the shell has no taskbar list (an
// older shell, or none), it shows nothing and says nothing.
class TaskbarProgress {
 public:
  // Makes the taskbar object, or gives nullptr; the object is released when
  // done with. Without one, the shell's own (CLSID_TaskbarList).
  using Maker = std::function<ITaskbarList3*()>;

  explicit TaskbarProgress(Maker make = nullptr);
  TaskbarProgress(const TaskbarProgress&) = delete;
  TaskbarProgress& operator=(const TaskbarProgress&) = delete;
  ~TaskbarProgress();

  // Lets the shell's message reach `window`, whose button this shows, even
  // when the program runs elevated and Explorer does not. Called once the
  // window exists and before it is first shown.
  void Watch(HWND window);

  // Whether `message` is the shell's word that the button has been made; if
  // so, takes the taskbar object anew.
  bool OnMessage(UINT message);

  // Shows the button as busy, with no end in sight until ShowDone tells how
  // far it has come, or as before.
  void ShowBusy(bool busy);

  // Fills the busy button to `done` of `total`.
  void ShowDone(std::uint64_t done, std::uint64_t total);

 private:
  void Show();

  bool com_started_ = false;
  UINT button_created_ = 0;
  HWND window_ = nullptr;
  bool busy_ = false;
  // How far the busy run has come; nothing told while total_ is 0.
  std::uint64_t done_ = 0;
  std::uint64_t total_ = 0;
  Maker make_;
  ITaskbarList3* taskbar_ = nullptr;
};

}  // namespace vendrake::window
