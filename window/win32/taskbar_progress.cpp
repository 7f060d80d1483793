#include "window/win32/taskbar_progress.h"

#include <objbase.h>
#include <shobjidl.h>

namespace vendrake::window {

TaskbarProgress::TaskbarProgress() {
  // S_FALSE: the thread had started COM already; it is still ours to end.
  com_started_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  void* taskbar = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_ITaskbarList3, &taskbar))) {
    taskbar_ = static_cast<ITaskbarList3*>(taskbar);
    if (FAILED(taskbar_->HrInit())) {
      taskbar_->Release();
      taskbar_ = nullptr;
    }
  }
}

TaskbarProgress::~TaskbarProgress() {
  if (taskbar_ != nullptr) taskbar_->Release();
  if (com_started_) CoUninitialize();
}

void TaskbarProgress::ShowBusy(HWND window, bool busy) {
  if (taskbar_ == nullptr) return;
  taskbar_->SetProgressState(window, busy ? TBPF_INDETERMINATE : TBPF_NOPROGRESS);
}

}  // namespace vendrake::window
