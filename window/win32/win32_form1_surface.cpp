// Form1's control surface: what the Scale command reads from the window and
// shows in it.

#include <string>
#include <string_view>

#include "window/win32/summary_box.h"
#include "window/win32/win32_form1.h"

namespace vendrake::window {
namespace {

std::u16string TextOf(HWND control) {
  const int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), length + 1)));
  return {text.begin(), text.end()};
}

void SetText(HWND control, std::u16string_view text) {
  SetWindowTextW(control, std::wstring(text.begin(), text.end()).c_str());
}

// Throws away keyboard and mouse input waiting in the thread's queue. The end
// of a run is posted, and so comes before input that was queued earlier;
// handed on, a key would close the message box unread, and a click on the
// button, enabled again by then, would start a second run.
void DiscardInput() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT)) {
  }
}

}  // namespace

std::u16string Win32Form1::SourceText() { return TextOf(text2_); }
void Win32Form1::SetSourceText(const std::u16string& text) { SetText(text2_, text); }
std::u16string Win32Form1::DestinationText() { return TextOf(text3_); }
void Win32Form1::SetDestinationText(const std::u16string& text) { SetText(text3_, text); }
std::u16string Win32Form1::ScaleText() { return TextOf(text1_); }

void Win32Form1::SetButtonEnabled(bool enabled) { EnableWindow(command1_, enabled ? TRUE : FALSE); }

void Win32Form1::SetButtonCaption(const std::u16string& caption) {
  SetText(command1_, caption);
  // Painted at once, so that "Working..." shows before the run begins.
  UpdateWindow(command1_);
}

void Win32Form1::ShowMessage(const std::u16string& text) {
  DiscardInput();
  ShowSummaryBox(hwnd_, text, {});
}

void Win32Form1::ShowMessageWithDetails(const std::u16string& text, const std::u16string& details) {
  DiscardInput();
  ShowSummaryBox(hwnd_, text, details);
}

}  // namespace vendrake::window
