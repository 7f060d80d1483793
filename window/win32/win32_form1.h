#pragma once

#include <windows.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "command/control_surface.h"
#include "command/on_scale.h"
#include "command/run_progress.h"
#include "engine/file_system.h"
#include "engine/window_state.h"
#include "window/win32/taskbar_progress.h"
#include "window/worker_run.h"

namespace vendrake::window {

// The window class of the main window, for whoever looks for it.
inline constexpr wchar_t kForm1ClassName[] = L"VendrakeForm1";

// The child-window identifier of the described control called `name`.
int ControlId(std::string_view name);

// The program's one window on Windows, made of the system's own controls: the
// three input boxes, the "Scale" button and four captions, laid out from the
// window description at the window's DPI and kept fitted to its width. It
// owns the window state the Scale command works on. The button's click checks
// the inputs; the batch then runs on a worker thread while the window, its
// controls all disabled, goes on answering and painting, its credit line
// counting the files done ("1,057 of 20,000 models") and its taskbar button
// filling, and the summary shows once the run is over. Closing the window during a run, or the end
// of the session (log-off, shutdown, restart), stops the run after the file in hand; the window
// goes on answering until the group in hand has taken its names, and then closes without a summary.
class Win32Form1 : public command::ControlSurface {
 public:
  // Creates the window, hidden, working on the platform's file system or on
  // `files` when given. Throws std::system_error when the system refuses to
  // create it.
  // The taskbar button shows the run's progress through the object that
  // `make_taskbar` makes, or the shell's own when it is not given.
  explicit Win32Form1(HINSTANCE instance, std::unique_ptr<engine::FileSystem> files = nullptr,
                      TaskbarProgress::Maker make_taskbar = nullptr);
  Win32Form1(const Win32Form1&) = delete;
  Win32Form1& operator=(const Win32Form1&) = delete;
  ~Win32Form1() override;

  HWND Handle() const { return hwnd_; }

  // Shows the window as `show_command` (a SW_ value) asks, with the focus on
  // the button.
  void Show(int show_command);

  // Runs the thread's message loop, with the keyboard handled as in a dialog
  // box, until the window is closed; returns the program's exit status.
  int RunMessageLoop();

  std::u16string SourceText() override;
  void SetSourceText(const std::u16string& text) override;
  std::u16string DestinationText() override;
  void SetDestinationText(const std::u16string& text) override;
  std::u16string ScaleText() override;
  void SetButtonEnabled(bool enabled) override;
  void SetButtonCaption(const std::u16string& caption) override;
  void ShowMessage(const std::u16string& text) override;
  void ShowMessageWithDetails(const std::u16string& text, const std::u16string& details) override;

 private:
  // Posted by the worker thread once its run has ended.
  static constexpr UINT kRunEndedMessage = WM_APP + 1;
  // Posted by the worker thread, at most ten times a second, with the files
  // done so far as WPARAM and the files listed as LPARAM.
  static constexpr UINT kRunProgressMessage = WM_APP + 2;

  static LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

  void CreateControls();
  void ScaleTo(int dpi);
  // Shows the two icons as the window's, destroying the ones shown before.
  void SetIcons(HICON icon_big, HICON icon_small);
  void FitToWidth(int client_width);
  void OnCommand(int id, int notification);

  // The run and how it ends (win32_form1_run.cpp).
  void OnCommand1Click();
  // Back on the window's thread once the worker's run has ended.
  void OnRunEnded();
  // Shows how far the run in hand has come on the credit line and the
  // taskbar button.
  void ShowProgress(const command::ProgressCount& count);
  void SetInputsEnabled(bool enabled);
  // The window is closed: with a run in hand, it stops the run and stays
  // until the run has ended. Whether the window may go at once.
  bool MayCloseNow();
  // The session is to end: see the definitions.
  void OnQueryEndSession();
  void OnEndSession(bool ending);

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  HWND command1_ = nullptr;
  HWND text1_ = nullptr;
  HWND text2_ = nullptr;
  HWND text3_ = nullptr;
  HWND label4_ = nullptr;
  // The control that had the focus when the window was last deactivated.
  HWND focus_ = nullptr;
  HFONT font_ = nullptr;
  HICON big_icon_ = nullptr;
  HICON small_icon_ = nullptr;
  int dpi_ = 96;
  bool running_ = false;
  // Closed, or the session ends, during a run: the window goes once the run
  // has ended, without a summary.
  bool closing_ = false;
  // Whether the reason why the session should wait is set.
  bool blocking_shutdown_ = false;

  engine::WindowState state_;
  std::unique_ptr<engine::FileSystem> files_;
  TaskbarProgress taskbar_;
  // What the run in hand left, read once it has been joined; declared
  // before it, as the worker writes it.
  command::ScaleRun ended_;
  WorkerRun run_;
};

}  // namespace vendrake::window
