#include "window/win32/summary_box.h"

#include <commctrl.h>

#include <string>

#include "command/messages.h"

namespace vendrake::window {
namespace {

using TaskDialogIndirectFunction = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

std::wstring Wide(std::u16string_view text) { return {text.begin(), text.end()}; }

// Common controls 6, which the manifest asks for, has task dialogs; an older
// comctl32 does not. Looked up rather than imported, so that the program
// starts either way.
TaskDialogIndirectFunction FindTaskDialog() {
  HMODULE controls = LoadLibraryW(L"comctl32.dll");
  if (controls == nullptr) return nullptr;
  return reinterpret_cast<TaskDialogIndirectFunction>(
      reinterpret_cast<void*>(GetProcAddress(controls, "TaskDialogIndirect")));
}

}  // namespace

void ShowSummaryBox(HWND owner, std::u16string_view text, std::u16string_view details) {
  const std::wstring title = Wide(command::kApplicationTitle);
  const std::wstring content = Wide(text);
  static const TaskDialogIndirectFunction task_dialog = FindTaskDialog();
  if (!details.empty() && task_dialog != nullptr) {
    const std::wstring expanded = Wide(details);
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof(config);
    config.hwndParent = owner;
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION;
    config.dwCommonButtons = TDCBF_OK_BUTTON;
    config.pszWindowTitle = title.c_str();
    config.pszContent = content.c_str();
    config.pszExpandedInformation = expanded.c_str();
    if (SUCCEEDED(task_dialog(&config, nullptr, nullptr, nullptr))) return;
  }
  MessageBoxW(owner, content.c_str(), title.c_str(), MB_OK);
}

}  // namespace vendrake::window
