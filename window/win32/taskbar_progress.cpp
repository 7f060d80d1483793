#include "window/win32/taskbar_progress.h"

#include <objbase.h>
#include <shobjidl.h>

#include <utility>

namespace vendrake::window {

namespace {

ITaskbarList3* MakeShellTaskbar() {
  void* taskbar = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                              &taskbar))) {
    return nullptr;
  }
  return static_cast<ITaskbarList3*>(taskbar);
}

}  // namespace

TaskbarProgress::TaskbarProgress(Maker make)
    : button_created_(RegisterWindowMessageW(L"TaskbarButtonCreated")),
      make_(make != nullptr ? std::move(make) : Maker(&MakeShellTaskbar)) {
  // S_FALSE: the thread had started COM already; it is still ours to end.
  com_started_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}

TaskbarProgress::~TaskbarProgress() {
  if (taskbar_ != nullptr) taskbar_->Release();
  if (com_started_) CoUninitialize();
}

void TaskbarProgress::Watch(HWND window) {
  window_ = window;
  // Explorer runs at medium integrity, and an elevated window's filter turns
  // away registered messages from below; a failure leaves the button plain.
  if (button_created_ != 0) {
    ChangeWindowMessageFilterEx(window, button_created_, MSGFLT_ALLOW, nullptr);
  }
}

bool TaskbarProgress::OnMessage(UINT message) {
  if (button_created_ == 0 || message != button_created_) return false;
  // A restarted Explorer has made a new button; the old object served the
  // old one.
  if (taskbar_ != nullptr) {
    taskbar_->Release();
    taskbar_ = nullptr;
  }
  taskbar_ = make_();
  if (taskbar_ != nullptr) {
    if (FAILED(taskbar_->HrInit())) {
      taskbar_->Release();
      taskbar_ = nullptr;
    }
  }
  Show();
  return true;
}

void TaskbarProgress::ShowBusy(bool busy) {
  busy_ = busy;
  done_ = 0;
  total_ = 0;
  Show();
}

void TaskbarProgress::ShowDone(std::uint64_t done, std::uint64_t total) {
  if (!busy_) return;
  done_ = done;
  total_ = total;
  Show();
}

void TaskbarProgress::Show() {
  if (taskbar_ == nullptr || window_ == nullptr) return;
  if (busy_ && total_ > 0) {
    // Clears the indeterminate state and shows the normal one by itself.
    taskbar_->SetProgressValue(window_, done_ < total_ ? done_ : total_, total_);
  } else {
    taskbar_->SetProgressState(window_, busy_ ? TBPF_INDETERMINATE : TBPF_NOPROGRESS);
  }
}

}  // namespace vendrake::window
