#include "window/win32/win32_form1.h"

#include <windows.h>
// After windows.h, which it needs.
#include <winver.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "command/defaults.h"
#include "tests/support/eventually.h"
#include "tests/support/process.h"
#include "tests/support/temporary_folder.h"
#include "tests/window/expected_layout.h"
#include "window/pixel_layout.h"

namespace vendrake::window {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using testing::Eventually;

// vendrake.exe answers in its own time; a check that does not hold by then
// has failed.
constexpr UINT kPatienceMilliseconds = 20'000;

std::wstring Wide(std::u16string_view text) { return {text.begin(), text.end()}; }
std::wstring Wide(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

// The text of a window in another process. GetWindowTextW would return only
// the text the window was created with.
std::u16string TextOf(HWND window) {
  std::wstring text(1024, L'\0');
  DWORD_PTR copied = 0;
  // No SMTO_ABORTIFHUNG: the first window of a fresh Wine prefix can be busy
  // for seconds while Wine sets itself up, which is not a hang of ours.
  SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_NORMAL, kPatienceMilliseconds, &copied);
  text.resize(copied);
  return {text.begin(), text.end()};
}

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof(name));
  return name;
}

const char* Win32ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::kPushButton:
      return "Button";
    case ControlKind::kTextBox:
      return "Edit";
    case ControlKind::kLabel:
      break;
  }
  return "Static";
}

// What a message box shows: its text, its buttons' captions, and whether an
// icon is in view.
struct MessageBoxContent {
  std::u16string text;
  std::vector<std::u16string> buttons;
  bool icon = false;
};

MessageBoxContent ReadMessageBox(HWND box) {
  MessageBoxContent content;
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child)) continue;
    const std::string class_name = ClassOf(child);
    if (class_name == "Button") {
      content.buttons.push_back(TextOf(child));
    } else if (class_name == "Static") {
      // Wine keeps an empty icon control in view; what counts is an icon in it.
      if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        content.icon = content.icon || SendMessageW(child, STM_GETICON, 0, 0) != 0;
      } else if (content.text.empty()) {
        content.text = TextOf(child);
      }
    }
  }
  return content;
}

// vendrake.exe, started for one test and closed after it.
class RunningForm1 {
 public:
  RunningForm1() {
    std::wstring line = L"vendrake.exe";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(Wide(std::string_view(VENDRAKE_WINDOW_PATH)).c_str(), line.data(), nullptr,
                        nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_)) {
      ADD_FAILURE() << "cannot start " << VENDRAKE_WINDOW_PATH << ": error " << GetLastError();
      return;
    }
    WaitForInputIdle(process_.hProcess, 20'000);
    // The window exists before it is sized and laid out; it is shown after.
    EXPECT_TRUE(Eventually([this] {
      form_ = FindWindowOfProcess(kForm1ClassName, command::kApplicationTitle);
      if (form_ != nullptr && !IsWindowVisible(form_)) form_ = nullptr;
      return form_ != nullptr || Ended();
    }));
    // Only a window that answers messages can be looked at.
    DWORD_PTR ignored = 0;
    if (form_ != nullptr && SendMessageTimeoutW(form_, WM_NULL, 0, 0, SMTO_NORMAL,
                                                kPatienceMilliseconds, &ignored) == 0) {
      ADD_FAILURE() << "vendrake.exe's window does not answer";
    }
    if (form_ == nullptr) {
      DWORD status = 0;
      GetExitCodeProcess(process_.hProcess, &status);
      ADD_FAILURE() << "vendrake.exe shows no window"
                    << (Ended() ? " and ended with status " + std::to_string(status) : "");
    }
  }
  RunningForm1(const RunningForm1&) = delete;
  RunningForm1& operator=(const RunningForm1&) = delete;
  ~RunningForm1() {
    if (process_.hProcess == nullptr) return;
    if (form_ != nullptr) PostMessageW(form_, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process_.hProcess, 10'000) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "vendrake.exe did not end when its window was closed";
      TerminateProcess(process_.hProcess, 1);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }

  HWND Form() const { return form_; }
  HWND Control(const char* name) const { return GetDlgItem(form_, ControlId(name)); }

  // The control's rectangle in the form's client coordinates.
  PixelRect RectOf(const char* name) const {
    RECT rect{};
    GetWindowRect(Control(name), &rect);
    MapWindowPoints(HWND_DESKTOP, form_, reinterpret_cast<POINT*>(&rect), 2);
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
  }

  // The control with the keyboard focus in vendrake.exe, by name; "" if none.
  std::string Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(process_.dwThreadId, &info)) return {};
    for (const ControlDescription& control : kForm1Controls) {
      if (info.hwndFocus != nullptr && info.hwndFocus == Control(control.name)) return control.name;
    }
    return {};
  }

  // The control with the focus once the window is active again. Xvfb runs
  // no window manager: when a message box goes, X may hand its input focus
  // to the root window, and Wine then makes the desktop the active window
  // although Windows would give it back to the box's owner. A user would
  // click the window, and the check does as much.
  std::string FocusOnceActive() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (GetGUIThreadInfo(process_.dwThreadId, &info) && info.hwndActive == nullptr &&
        GetForegroundWindow() == GetDesktopWindow()) {
      SetForegroundWindow(form_);
    }
    return Focus();
  }

  void SetText(const char* name, std::u16string_view text) const {
    const std::wstring wide = Wide(text);
    SendMessageW(Control(name), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  }

  // Posts a key press to whatever has the focus, as the keyboard would.
  void PressKey(WORD key) const {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(process_.dwThreadId, &info);
    PostMessageW(info.hwndFocus, WM_KEYDOWN, key, 1);
    PostMessageW(info.hwndFocus, WM_KEYUP, key, 1 | (3U << 30));
  }

  // Clicks the middle of the control with the mouse `clicks` times in a row,
  // then presses `then_key` if given, all queued before vendrake.exe reads
  // the first click.
  void Click(const char* name, int clicks = 1, WORD then_key = 0) const {
    RECT rect{};
    GetWindowRect(Control(name), &rect);
    SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    std::vector<INPUT> inputs;
    for (int click = 0; click < clicks; ++click) {
      for (const DWORD flag : {DWORD{MOUSEEVENTF_LEFTDOWN}, DWORD{MOUSEEVENTF_LEFTUP}}) {
        INPUT input{};
        input.type = INPUT_MOUSE;
        input.mi.dwFlags = flag;
        inputs.push_back(input);
      }
    }
    for (const DWORD flag : {DWORD{0}, DWORD{KEYEVENTF_KEYUP}}) {
      if (then_key == 0) break;
      INPUT input{};
      input.type = INPUT_KEYBOARD;
      input.ki.wVk = then_key;
      input.ki.dwFlags = flag;
      inputs.push_back(input);
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  }

  // The message box vendrake.exe shows, found by its title; nullptr if there
  // is none.
  HWND MessageBoxShown() const {
    return FindWindowOfProcess(L"#32770", command::kApplicationTitle);
  }

  HWND WaitForMessageBox() const {
    HWND box = nullptr;
    EXPECT_TRUE(Eventually([&] { return (box = MessageBoxShown()) != nullptr; }))
        << "no message box titled Vendrake";
    return box;
  }

  // Closes the box with its OK button and waits until it has gone.
  void CloseMessageBox(HWND box) const {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(Eventually([box] { return !IsWindow(box); }));
  }

 private:
  bool Ended() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0; }

  HWND FindWindowOfProcess(const wchar_t* class_name, std::u16string_view title) const {
    struct Search {
      DWORD process_id;
      const wchar_t* class_name;
      std::wstring title;
      HWND found = nullptr;
    } search{process_.dwProcessId, class_name, Wide(title)};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
          auto& wanted = *reinterpret_cast<Search*>(context);
          DWORD process_id = 0;
          GetWindowThreadProcessId(window, &process_id);
          wchar_t window_class[64] = {};
          GetClassNameW(window, window_class, 64);
          if (process_id != wanted.process_id || !IsWindowVisible(window) ||
              std::wstring_view(window_class) != wanted.class_name) {
            return TRUE;
          }
          wchar_t window_title[64] = {};
          GetWindowTextW(window, window_title, 64);
          if (wanted.title != window_title) return TRUE;
          wanted.found = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  PROCESS_INFORMATION process_{};
  HWND form_ = nullptr;
};

std::string VersionOf(const char* program) {
  const std::wstring path = Wide(std::string_view(program));
  std::vector<std::uint8_t> data(GetFileVersionInfoSizeW(path.c_str(), nullptr));
  if (data.empty() ||
      !GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data())) {
    return "no version resource";
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &size)) return "?";
  return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(fixed->dwFileVersionLS));
}

TEST(Win32Form1, OpensWithItsTitleAndTheDescribedClientSize) {
  RunningForm1 running;
  ASSERT_NE(running.Form(), nullptr);
  RECT client{};
  GetClientRect(running.Form(), &client);
  EXPECT_EQ(client.right, kExpectedClientWidth);
  EXPECT_EQ(client.bottom, kExpectedClientHeight);
  EXPECT_EQ(TextOf(running.Form()), u"Vendrake");
}

class Win32Form1Description : public ::testing::TestWithParam<ExpectedControl> {};

TEST_P(Win32Form1Description, ControlHasItsKindTextAndPlace) {
  const ExpectedControl& expected = GetParam();
  RunningForm1 running;
  ASSERT_NE(running.Form(), nullptr);
  const HWND control = running.Control(expected.name);
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(ClassOf(control), Win32ClassOf(expected.kind));
  if (expected.text.empty()) {
    EXPECT_FALSE(TextOf(control).empty());
  } else {
    EXPECT_EQ(TextOf(control), expected.text);
  }
  EXPECT_EQ(running.RectOf(expected.name), expected.rect);
}

INSTANTIATE_TEST_SUITE_P(Controls, Win32Form1Description, ::testing::ValuesIn(kExpectedControls),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

class Win32Form1Resize : public ::testing::TestWithParam<ExpectedFit> {};

TEST_P(Win32Form1Resize, FitsThePathBoxesAndCreditLineAndMovesNothingElse) {
  const ExpectedFit& fit = GetParam();
  RunningForm1 running;
  ASSERT_NE(running.Form(), nullptr);
  if (fit.client_width == 0) {
    ShowWindow(running.Form(), SW_MINIMIZE);
    ASSERT_TRUE(Eventually([&] { return IsIconic(running.Form()) != FALSE; }));
  } else {
    RECT frame{};
    RECT client{};
    GetWindowRect(running.Form(), &frame);
    GetClientRect(running.Form(), &client);
    const int frame_width = (frame.right - frame.left) - client.right;
    if (fit.client_width + frame_width < GetSystemMetrics(SM_CXMINTRACK)) {
      GTEST_SKIP() << "Windows keeps a window with a sizing border at least SM_CXMINTRACK ("
                   << GetSystemMetrics(SM_CXMINTRACK) << " pixels) wide, frame included";
    }
    SetWindowPos(running.Form(), nullptr, 0, 0, fit.client_width + frame_width,
                 frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER);
    GetClientRect(running.Form(), &client);
    ASSERT_EQ(client.right, fit.client_width);
  }
  // SetWindowPos returns once the window has handled its new size, but a
  // minimised window's size comes in its own time.
  EXPECT_TRUE(Eventually([&] { return running.RectOf("Label4").left == fit.credit_left; }));
  EXPECT_EQ(running.RectOf("Text2"), (PixelRect{72, 8, fit.path_box_width, 25}));
  EXPECT_EQ(running.RectOf("Text3"), (PixelRect{72, 40, fit.path_box_width, 25}));
  EXPECT_EQ(running.RectOf("Label4"), (PixelRect{fit.credit_left, 80, 161, 17}));
  EXPECT_EQ(running.RectOf("Command1"), (PixelRect{136, 72, 89, 25}));
  EXPECT_EQ(running.RectOf("Text1"), (PixelRect{72, 72, 57, 25}));
}

INSTANTIATE_TEST_SUITE_P(ClientWidths, Win32Form1Resize, ::testing::ValuesIn(kExpectedFits),
                         [](const auto& param_info) {
                           return std::to_string(param_info.param.client_width) + "Pixels";
                         });

// Keys go through vendrake.exe's message loop as the keyboard's would. Tab
// steps the focus, Enter in a box is posted there on the way, and only once
// the focus is back on the button does Enter start a run: a too-short source
// stops it at once with a message.
TEST(Win32Form1, TabCyclesPastTheLabelsAndOnlyTheFocusedButtonTakesEnter) {
  RunningForm1 running;
  ASSERT_NE(running.Form(), nullptr);
  running.SetText("Text2", u"C:");
  ASSERT_TRUE(Eventually([&] { return running.Focus() == "Command1"; }));
  std::vector<std::string> focus{running.Focus()};
  for (int press = 0; press < 4; ++press) {
    const std::string before = running.Focus();
    running.PressKey(VK_TAB);
    ASSERT_TRUE(Eventually([&] { return running.Focus() != before; })) << "Tab " << press + 1;
    focus.push_back(running.Focus());
    if (focus.back() != "Command1") running.PressKey(VK_RETURN);
  }
  EXPECT_THAT(focus, ElementsAre("Command1", "Text1", "Text2", "Text3", "Command1"));
  // Each Enter was handled before the Tab posted after it moved the focus on.
  EXPECT_EQ(running.MessageBoxShown(), nullptr);

  running.PressKey(VK_RETURN);
  const HWND box = running.WaitForMessageBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(ReadMessageBox(box).text, u"Source must be a valid path name.");
  running.CloseMessageBox(box);
  EXPECT_TRUE(Eventually([&] { return running.FocusOnceActive() == "Command1"; }));
}

TEST(Win32Form1, ClickWithABadInputShowsItsMessageInABoxTitledVendrake) {
  RunningForm1 running;
  ASSERT_NE(running.Form(), nullptr);
  running.SetText("Text1", u"two");

  running.Click("Command1");

  const HWND box = running.WaitForMessageBox();
  ASSERT_NE(box, nullptr);
  const MessageBoxContent content = ReadMessageBox(box);
  EXPECT_EQ(content.text, u"Scale value must be numeric. Please use . as the decimal separator.");
  EXPECT_THAT(content.buttons, ElementsAre(u"OK"));
  EXPECT_FALSE(content.icon);
  // The box is modal: the window takes no input until it has gone.
  EXPECT_FALSE(IsWindowEnabled(running.Form()));
  EXPECT_EQ(TextOf(running.Control("Command1")), u"Working...");
  running.CloseMessageBox(box);
  EXPECT_TRUE(Eventually([&] { return running.FocusOnceActive() == "Command1"; }));
  EXPECT_EQ(TextOf(running.Control("Command1")), u"Scale");
  EXPECT_TRUE(IsWindowEnabled(running.Control("Command1")));
}

// A double click and a Space: the second click and the key come while the
// run started by the first click holds the window. Handed on afterwards, the
// Space would close the summary at once, and the click could start a run.
TEST(Win32Form1, ClickOnTheBundledSamplesWritesWhatVendrakeCliWritesAndShowsTheSummary) {
  testing::TemporaryFolder folder;
  // The outputs are named after their folder, so both folders have one name.
  const fs::path by_window = folder.Path() / "window" / "CliffNatural0_2x";
  const fs::path by_cli = folder.Path() / "cli" / "CliffNatural0_2x";
  fs::create_directories(by_window.parent_path());
  fs::create_directories(by_cli.parent_path());
  const testing::ProcessResult cli = testing::RunProcess(
      VENDRAKE_CLI_PATH,
      {"--source", VENDRAKE_SAMPLES_DIR, "--dest", testing::Utf8Text(by_cli), "--scale", "2.0"});
  ASSERT_EQ(cli.status, 0) << cli.err;
  RunningForm1 running;
  ASSERT_NE(running.Form(), nullptr);
  running.SetText("Text2", fs::path(VENDRAKE_SAMPLES_DIR).u16string());
  running.SetText("Text3", by_window.u16string());

  running.Click("Command1", 2, VK_SPACE);

  const HWND box = running.WaitForMessageBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(ReadMessageBox(box).text, u"Attempted model scales: 6. Success count: 6.");
  running.CloseMessageBox(box);
  EXPECT_TRUE(Eventually([&] { return running.FocusOnceActive() == "Command1"; }));
  // A second run would show its summary at once.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_EQ(running.MessageBoxShown(), nullptr) << "the second click started a run";
  const std::vector<std::string> names = testing::NamesIn(by_cli);
  ASSERT_EQ(testing::NamesIn(by_window), names);
  for (const std::string& name : names) {
    EXPECT_EQ(testing::ReadFile(by_window / name), testing::ReadFile(by_cli / name)) << name;
  }
}

// This program carries vendrake.exe's resources (icon, version, manifest), so
// a window made here is vendrake.exe's in all but the process.
TEST(Win32Form1, CarriesTheProjectIconAndVersion) {
  Win32Form1 form(GetModuleHandleW(nullptr));
  for (const WPARAM size : {WPARAM{ICON_BIG}, WPARAM{ICON_SMALL}}) {
    EXPECT_NE(SendMessageW(form.Handle(), WM_GETICON, size, 0), 0) << "icon " << size;
  }
  EXPECT_EQ(VersionOf(VENDRAKE_WINDOW_PATH), VENDRAKE_VERSION);
}

// Measured on the controls as created, against whatever box or button lies
// over each label, in the font each label was given.
TEST(Win32Form1, EveryCaptionShowsWholeBesideTheBoxes) {
  Win32Form1 form(GetModuleHandleW(nullptr));
  const HWND hwnd = form.Handle();
  HDC dc = GetDC(hwnd);
  for (const ControlDescription& description : kForm1Controls) {
    if (description.kind != ControlKind::kLabel) continue;
    SCOPED_TRACE(description.name);
    const HWND label = GetDlgItem(hwnd, ControlId(description.name));
    RECT label_rect{};
    GetWindowRect(label, &label_rect);
    LONG room = label_rect.right - label_rect.left;
    for (HWND other = GetWindow(hwnd, GW_CHILD); other != nullptr;
         other = GetWindow(other, GW_HWNDNEXT)) {
      RECT other_rect{};
      RECT overlap{};
      GetWindowRect(other, &other_rect);
      if (ClassOf(other) != "Static" && IntersectRect(&overlap, &label_rect, &other_rect)) {
        room = std::min(room, other_rect.left - label_rect.left);
      }
    }
    const auto font = reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    const HGDIOBJ previous = SelectObject(dc, font);
    std::wstring caption(256, L'\0');
    caption.resize(static_cast<std::size_t>(GetWindowTextW(label, caption.data(), 256)));
    SIZE extent{};
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, previous);
    EXPECT_LE(extent.cx, room);
    EXPECT_LE(metrics.tmHeight, label_rect.bottom - label_rect.top);
  }
  ReleaseDC(hwnd, dc);
}

}  // namespace
}  // namespace vendrake::window
