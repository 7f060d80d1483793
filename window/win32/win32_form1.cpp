#include "window/win32/win32_form1.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "command/messages.h"
#include "command/run_progress.h"
#include "engine/platform/platform_file_system.h"
#include "window/pixel_layout.h"
#include "window/win32/control_look.h"
#include "window/win32/resource_ids.h"
#include "window/window_description.h"

namespace vendrake::window {
namespace {

// Child-window identifiers follow the description's rows. They stay clear of
// IDOK and IDCANCEL, which the dialog keyboard sends for Enter and Escape.
constexpr int kFirstControlId = 1000;

// Posted by the worker thread once its run has ended.
constexpr UINT kRunEndedMessage = WM_APP + 1;
// Posted by the worker thread, at most ten times a second, with the files
// done so far as WPARAM and the files listed as LPARAM.
constexpr UINT kRunProgressMessage = WM_APP + 2;

// What the window tells the user when the session's end waits for it.
constexpr wchar_t kShutdownBlockReason[] = L"Vendrake is finishing the files in hand";

// How long the end of the session waits for the run in hand. Windows waits 5 s
// for the window's answer and then shows the reason above, where the user may
// end the program; the group in hand on a slow share can take longer, and
// while the user reads the reason it may still take its names. The bound is
// for a call that never returns.
constexpr std::chrono::milliseconds kSessionEndPatience{30'000};

constexpr DWORD kFormStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = 0;

constexpr const ControlDescription& kCommand1 = DescriptionOf("Command1");
constexpr const ControlDescription& kText2 = DescriptionOf("Text2");
constexpr const ControlDescription& kText3 = DescriptionOf("Text3");
constexpr const ControlDescription& kLabel4 = DescriptionOf("Label4");

std::wstring Wide(std::u16string_view text) { return {text.begin(), text.end()}; }

[[noreturn]] void ThrowLastError(const char* what) {
  throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), what);
}

void RegisterForm1Class(HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  window_class.lpszClassName = kForm1ClassName;
  if (RegisterClassExW(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    ThrowLastError("RegisterClassExW");
  }
}

// The project's icon drawn for `metric` (SM_CXICON or SM_CXSMICON) at `dpi`;
// nullptr for a program without it among its resources.
HICON LoadProjectIcon(HINSTANCE instance, int metric, int dpi) {
  const int size = GetSystemMetricsForDpi(metric, static_cast<UINT>(dpi));
  return static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(VENDRAKE_ICON), IMAGE_ICON, size, size, 0));
}

}  // namespace

int ControlId(std::string_view name) {
  for (std::size_t index = 0; index < kForm1Controls.size(); ++index) {
    if (kForm1Controls[index].name == name) return kFirstControlId + static_cast<int>(index);
  }
  return 0;
}

Win32Form1::Win32Form1(HINSTANCE instance, std::unique_ptr<engine::FileSystem> files,
                       TaskbarProgress::Maker make_taskbar)
    : instance_(instance),
      files_(files != nullptr ? std::move(files) : engine::MakePlatformFileSystem()),
      taskbar_(std::move(make_taskbar)) {
  RegisterForm1Class(instance, &Win32Form1::WindowProcedure);
  // The window procedure takes hwnd_ over at WM_NCCREATE.
  if (CreateWindowExW(kFormExStyle, kForm1ClassName, Wide(command::kApplicationTitle).c_str(),
                      kFormStyle, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                      nullptr, nullptr, instance, this) == nullptr) {
    ThrowLastError("CreateWindowExW");
  }
  taskbar_.Watch(hwnd_);
  CreateControls();
  ScaleTo(static_cast<int>(GetDpiForWindow(hwnd_)));
  const PixelRect client = DescribedClientArea(dpi_);
  RECT frame{0, 0, client.width, client.height};
  AdjustWindowRectExForDpi(&frame, kFormStyle, FALSE, kFormExStyle, static_cast<UINT>(dpi_));
  SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

Win32Form1::~Win32Form1() {
  run_.RequestStop();
  run_.Join();
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  if (font_ != nullptr) DeleteObject(font_);
  SetIcons(nullptr, nullptr);
}

void Win32Form1::SetIcons(HICON icon_big, HICON icon_small) {
  if (hwnd_ != nullptr) {
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_big));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_small));
  }
  for (const HICON icon : {big_icon_, small_icon_}) {
    if (icon != nullptr) DestroyIcon(icon);
  }
  big_icon_ = icon_big;
  small_icon_ = icon_small;
}

void Win32Form1::CreateControls() {
  for (const ControlDescription& description : kForm1Controls) {
    const HWND control = CreateWindowExW(
        description.kind == ControlKind::kTextBox ? WS_EX_CLIENTEDGE : 0, ClassOf(description.kind),
        Wide(description.text).c_str(), StyleOf(description.kind), 0, 0, 0, 0, hwnd_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(description.name))), instance_,
        nullptr);
    if (control == nullptr) ThrowLastError("CreateWindowExW");
  }
  // Tab moves through the siblings from the top of the z-order down, so the
  // controls that take the focus go in tab order. Each label goes just above
  // the box it names, where a screen reader looks for a box's name; the
  // credit line, which names nothing, goes beneath them all.
  HWND above = HWND_TOP;
  const auto place_next = [&](const char* name) {
    const HWND control = GetDlgItem(hwnd_, ControlId(name));
    SetWindowPos(control, above, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    above = control;
  };
  for (const ControlDescription* description : FocusOrder()) {
    for (const LabelledBox& pair : kLabelledBoxes) {
      if (pair.box == std::string_view(description->name)) place_next(pair.label);
    }
    place_next(description->name);
  }
  place_next(kLabel4.name);
  command1_ = GetDlgItem(hwnd_, ControlId("Command1"));
  text1_ = GetDlgItem(hwnd_, ControlId("Text1"));
  text2_ = GetDlgItem(hwnd_, ControlId("Text2"));
  text3_ = GetDlgItem(hwnd_, ControlId("Text3"));
  label4_ = GetDlgItem(hwnd_, ControlId("Label4"));
}

void Win32Form1::ScaleTo(int dpi) {
  dpi_ = dpi;
  HFONT font = CreateFittingFont(hwnd_, dpi);
  for (const ControlDescription& description : kForm1Controls) {
    const HWND control = GetDlgItem(hwnd_, ControlId(description.name));
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    const PixelRect rect = DescribedRect(description, dpi);
    Place(control, rect);
    if (description.kind == ControlKind::kLabel) CropToUncovered(control, description, rect, dpi);
  }
  if (font_ != nullptr) DeleteObject(font_);
  font_ = font;
  SetIcons(LoadProjectIcon(instance_, SM_CXICON, dpi),
           LoadProjectIcon(instance_, SM_CXSMICON, dpi));
  RECT client{};
  GetClientRect(hwnd_, &client);
  FitToWidth(client.right);
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void Win32Form1::FitToWidth(int client_width) {
  if (label4_ == nullptr) return;  // sized while being created
  const FittedPixels fitted = FitToClientWidth(client_width, dpi_);
  const PixelRect source = DescribedRect(kText2, dpi_);
  const PixelRect destination = DescribedRect(kText3, dpi_);
  const PixelRect credit = DescribedRect(kLabel4, dpi_);
  Place(text2_, {source.left, source.top, fitted.path_box_width, source.height});
  Place(text3_, {destination.left, destination.top, fitted.path_box_width, destination.height});
  Place(label4_, {fitted.credit_left, credit.top, credit.width, credit.height});
}

void Win32Form1::Show(int show_command) {
  ShowWindow(hwnd_, show_command);
  UpdateWindow(hwnd_);
  SetFocus(command1_);
}

int Win32Form1::RunMessageLoop() {
  MSG message;
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) return 1;
    // Tab, the arrows, Enter and Space as in a dialog box.
    if (hwnd_ != nullptr && IsDialogMessageW(hwnd_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

LRESULT CALLBACK Win32Form1::WindowProcedure(HWND hwnd, UINT message, WPARAM wparam,
                                             LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* form =
        static_cast<Win32Form1*>(reinterpret_cast<const CREATESTRUCTW*>(lparam)->lpCreateParams);
    form->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<Win32Form1*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (form == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  return form->HandleMessage(message, wparam, lparam);
}

LRESULT Win32Form1::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  if (taskbar_.OnMessage(message)) return 0;
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case WM_SIZE:
      // A minimised window reports a client width of 0.
      FitToWidth(LOWORD(lparam));
      return 0;
    case WM_DPICHANGED: {
      ScaleTo(HIWORD(wparam));
      const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wparam) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (focus != nullptr && IsChild(hwnd_, focus)) focus_ = focus;
      }
      break;  // the window itself takes the focus, and WM_SETFOCUS hands it on
    case WM_SETFOCUS:
      SetFocus(focus_ != nullptr ? focus_ : command1_);
      return 0;
    case kRunEndedMessage:
      OnRunEnded();
      return 0;
    case kRunProgressMessage:
      // Posted before the run's end, so never after OnRunEnded.
      ShowProgress(
          {.done = static_cast<std::int64_t>(wparam), .listed = static_cast<std::int64_t>(lparam)});
      return 0;
    case WM_CLOSE:
      if (!MayCloseNow()) return 0;
      break;
    case WM_QUERYENDSESSION:
      OnQueryEndSession();
      // The user's wish to end the session goes first, as Windows asks.
      return TRUE;
    case WM_ENDSESSION:
      OnEndSession(wparam != FALSE);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, message, wparam, lparam);
}

void Win32Form1::OnCommand(int id, int notification) {
  if (id == ControlId(kCommand1.name) && notification == BN_CLICKED) {
    OnCommand1Click();
  } else if (id == IDOK && GetFocus() == command1_ && IsWindowEnabled(command1_)) {
    // No button is the default, so the dialog keyboard sends Enter here
    // whatever has the focus; it presses the button only when that has it.
    OnCommand1Click();
  }
}

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
  // Asked first, so that the run stops as early as it can; the waiting is for
  // WM_ENDSESSION, as Windows wants this answer at once.
  run_.RequestStop();
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
  // When the end of the session was called off, a run stopped for it shows
  // its summary as any stopped run does.
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
