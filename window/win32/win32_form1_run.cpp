// Form1's run: the button's click, the worker thread that runs the batch,
// its progress on the credit line and the taskbar button, and how the run
// ends, by itself, by the window's closing or by the session's end.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "command/run_progress.h"
#include "window/win32/wide_text.h"
#include "window/win32/win32_form1.h"
#include "window/window_description.h"

namespace vendrake::window {
namespace {

// What the window tells the user when the session's end waits for it.
constexpr wchar_t kShutdownBlockReason[] = L"Vendrake is finishing the files in hand";

constexpr const ControlDescription& kLabel4 = DescriptionOf("Label4");

}  // namespace

void Win32Form1::OnCommand1Click() {
  // The button is locked during a run, but a message box's own message loop
  // could still bring a click.
  if (running_) return;
  running_ = true;
  std::optional<command::ScaleFolders> folders = command::BeginScale(*this, state_);
  if (!folders) {
    running_ = false;
    // Disabling the button for the run took the focus from it.
    SetFocus(command1_);
    return;
  }
  SetInputsEnabled(false);
  taskbar_.ShowBusy(true);
  // The worker touches no control; the window's thread takes its result once
  // the posted message says it is there.
  run_.Start([this, folders = std::move(*folders), hwnd = hwnd_](const std::atomic<bool>& stop) {
    // At most ten counts a second reach the window, so painting them does
    // not hold a fast run back.
    command::RunProgress progress(nullptr, [hwnd](const command::ProgressCount& count) {
      PostMessageW(hwnd, kRunProgressMessage, static_cast<WPARAM>(count.done),
                   static_cast<LPARAM>(count.listed));
    });
    ended_ = command::RunScale(folders, state_, *files_, &progress, &stop, engine::DefaultJobs());
    PostMessageW(hwnd, kRunEndedMessage, 0, 0);
  });
}

void Win32Form1::OnRunEnded() {
  if (!run_.Join()) return;
  taskbar_.ShowBusy(false);
  SetWindowTextW(label4_, Wide(kLabel4.text).c_str());
  running_ = false;
  if (closing_) {
    // No summary is shown to a closed window, nor at the session's end.
    DestroyWindow(hwnd_);
    return;
  }
  SetInputsEnabled(true);
  command::FinishScale(*this, ended_);
  SetFocus(command1_);
}

bool Win32Form1::MayCloseNow() {
  if (!run_.Running()) return true;
  // Joining the worker here would freeze the window for as long as the group
  // in hand takes to be named, on a share or a slow stick past the 5 s after
  // which Windows offers to end the program mid-group. The window answers
  // on, and goes once the run has ended.
  closing_ = true;
  run_.RequestStop();
  return false;
}

void Win32Form1::OnQueryEndSession() {
  if (!run_.Running()) return;
  // Only the reason is set here: another program may still call the end of
  // the session off, and the run should then go on. Stopping and waiting are
  // for WM_ENDSESSION, as Windows wants this answer at once.
  blocking_shutdown_ = ShutdownBlockReasonCreate(hwnd_, kShutdownBlockReason) != FALSE;
}

void Win32Form1::OnEndSession(bool ending) {
  if (ending && run_.Running()) {
    // The session may end as soon as this returns, so the run's end is waited
    // for here; the window then goes without a summary.
    closing_ = true;
    run_.RequestStop();
    run_.WaitFor(kSessionEndPatience);
  }
  // When the end of the session was called off, the run goes on.
  if (blocking_shutdown_) ShutdownBlockReasonDestroy(hwnd_);
  blocking_shutdown_ = false;
}

void Win32Form1::ShowProgress(const command::ProgressCount& count) {
  SetWindowTextW(label4_, Wide(command::ProgressCaption(count)).c_str());
  taskbar_.ShowDone(static_cast<std::uint64_t>(count.done),
                    static_cast<std::uint64_t>(count.listed));
}

void Win32Form1::SetInputsEnabled(bool enabled) {
  for (const HWND box : {text1_, text2_, text3_}) EnableWindow(box, enabled ? TRUE : FALSE);
}

}  // namespace vendrake::window
