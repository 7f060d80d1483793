#include "window/win32/win32_form1.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <system_error>
#include <utility>

#include "command/messages.h"
#include "engine/platform/platform_file_system.h"
#include "window/pixel_layout.h"
#include "window/win32/control_look.h"
#include "window/win32/folder_drop.h"
#include "window/win32/resource_ids.h"
#include "window/win32/wide_text.h"
#include "window/window_description.h"

namespace vendrake::window {
namespace {

// Child-window identifiers follow the description's rows. They stay clear of
// IDOK and IDCANCEL, which the dialog keyboard sends for Enter and Escape.
constexpr int kFirstControlId = 1000;

constexpr DWORD kFormStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = 0;

constexpr const ControlDescription& kCommand1 = DescriptionOf("Command1");
constexpr const ControlDescription& kText2 = DescriptionOf("Text2");
constexpr const ControlDescription& kText3 = DescriptionOf("Text3");
constexpr const ControlDescription& kLabel4 = DescriptionOf("Label4");

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
  for (const HWND path_box : {text2_, text3_}) AcceptFolderDrops(path_box);
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

}  // namespace vendrake::window
