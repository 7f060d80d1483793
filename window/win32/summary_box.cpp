#include "window/win32/summary_box.h"

#include <commctrl.h>

#include <cstddef>
#include <string>

#include "command/messages.h"
#include "window/win32/wide_text.h"

namespace vendrake::window {
namespace {

using TaskDialogIndirectFunction = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

// Common controls 6, which the manifest asks for, has task dialogs; an older
// comctl32 does not. Looked up rather than imported, so that the program
// starts either way.
TaskDialogIndirectFunction FindTaskDialog() {
  HMODULE controls = LoadLibraryW(L"comctl32.dll");
  if (controls == nullptr) return nullptr;
  return reinterpret_cast<TaskDialogIndirectFunction>(
      reinterpret_cast<void*>(GetProcAddress(controls, "TaskDialogIndirect")));
}

// The most lines of the details a plain message box takes: the box grows with
// its text, and one taller than the screen would push its button out of reach.
constexpr std::size_t kMostPlainBoxDetailLines = 30;

// `text`, then a blank line and the details, for a box without a section of
// its own for them; past kMostPlainBoxDetailLines lines, a last line says how
// many more there were.
std::wstring WithDetails(std::u16string_view text, std::u16string_view details) {
  std::wstring whole = Wide(text);
  if (details.empty()) return whole;
  whole += L"\n";
  std::size_t lines = 0;
  std::size_t left_out = 0;
  for (std::size_t end = 0; !details.empty(); details.remove_prefix(end)) {
    end = details.find(u'\n');
    end = end == std::u16string_view::npos ? details.size() : end + 1;
    if (lines++ < kMostPlainBoxDetailLines) {
      whole += L"\n" + Wide(details.substr(0, end));
      if (whole.back() == L'\n') whole.pop_back();
    } else {
      ++left_out;
    }
  }
  if (left_out > 0) whole += L"\n... and " + std::to_wstring(left_out) + L" more";
  return whole;
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
  MessageBoxW(owner, WithDetails(text, details).c_str(), title.c_str(), MB_OK);
}

}  // namespace vendrake::window
