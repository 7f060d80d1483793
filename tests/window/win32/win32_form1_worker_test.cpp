// The window made in this program, on a thread of its own that runs its
// message loop, so that a test can hold the run up through the file system
// and meanwhile ask the window to answer, as the system itself would.
#include <windows.h>
// After windows.h, which they need.
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "engine/platform/platform_file_system.h"
#include "tests/support/eventually.h"
#include "tests/support/failure_folder.h"
#include "tests/support/hooked_file_system.h"
#include "tests/support/scaled_model.h"
#include "tests/support/temporary_folder.h"
#include "tools/synthetic_model.h"
#include "window/pixel_layout.h"
#include "window/win32/win32_form1.h"
#include "window/window_description.h"

namespace vendrake::window {
namespace {

namespace fs = std::filesystem;
using ::testing::AnyOf;
using ::testing::Contains;
using ::testing::Each;
using ::testing::UnorderedElementsAreArray;
using Operation = testing::HookedFileSystem::Operation;
using testing::Eventually;

// What the system waits before it calls a window not responding is 5 s; a
// window that keeps up with its messages answers at once.
constexpr UINT kAnswerMilliseconds = 100;

std::u16string TextOf(HWND window) {
  std::wstring text(1 << 16, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_NORMAL, 20'000, &copied);
  text.resize(copied);
  return {text.begin(), text.end()};
}

std::vector<std::u16string> Lines(std::u16string_view text) {
  std::vector<std::u16string> lines;
  for (std::size_t end = 0; end != std::u16string_view::npos; text.remove_prefix(end + 1)) {
    end = text.find(u'\n');
    lines.emplace_back(text.substr(0, end));
    if (end == std::u16string_view::npos) break;
  }
  return lines;
}

// Notes the calls that show progress on the taskbar button, as "state N"
// (a TBPFLAG) and "value DONE of TOTAL"; answers every other call with S_OK.
// Lives as long as the test, so it counts no references.
class RecordingTaskbar : public ITaskbarList3 {
 public:
  std::vector<std::string> Calls() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE HrInit() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetProgressValue(HWND, ULONGLONG done, ULONGLONG total) override {
    Note("value " + std::to_string(done) + " of " + std::to_string(total));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetProgressState(HWND, TBPFLAG state) override {
    Note("state " + std::to_string(static_cast<int>(state)));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return S_OK; }

 private:
  void Note(std::string call) {
    const std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
  }

  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

// A Win32Form1 shown on a thread of its own, over the platform's file system
// with hooks, whose taskbar button a RecordingTaskbar stands for; closed, if
// still open, when the test ends.
class Form1OnItsThread {
 public:
  Form1OnItsThread() {
    auto hooked = std::make_unique<testing::HookedFileSystem>(*platform_);
    hooks_ = hooked.get();
    thread_ = std::thread([this, files = std::move(hooked)]() mutable {
      Win32Form1 form(GetModuleHandleW(nullptr), std::move(files),
                      [this]() -> ITaskbarList3* { return &taskbar_; });
      form.Show(SW_SHOWNORMAL);
      thread_id_.store(GetCurrentThreadId());
      form_.store(form.Handle());
      form.RunMessageLoop();
    });
    EXPECT_TRUE(Eventually([this] { return form_.load() != nullptr; }));
    // As the shell says once it has made the window's button.
    PostMessageW(Form(), RegisterWindowMessageW(L"TaskbarButtonCreated"), 0, 0);
  }
  Form1OnItsThread(const Form1OnItsThread&) = delete;
  Form1OnItsThread& operator=(const Form1OnItsThread&) = delete;
  ~Form1OnItsThread() {
    if (const HWND box = SummaryBox()) PostMessageW(box, WM_COMMAND, IDOK, 0);
    Close();
  }

  testing::HookedFileSystem& Hooks() { return *hooks_; }
  const RecordingTaskbar& Taskbar() const { return taskbar_; }
  HWND Form() const { return form_.load(); }
  HWND Control(const char* name) const { return GetDlgItem(Form(), ControlId(name)); }

  void SetText(const char* name, std::u16string_view text) const {
    const std::wstring wide(text.begin(), text.end());
    SendMessageW(Control(name), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  }

  void Click() const {
    PostMessageW(Form(), WM_COMMAND, MAKEWPARAM(ControlId("Command1"), BN_CLICKED),
                 reinterpret_cast<LPARAM>(Control("Command1")));
  }

  // Closes the window as its close box does, and waits until it has gone.
  void Close() {
    if (!thread_.joinable()) return;
    PostMessageW(Form(), WM_CLOSE, 0, 0);
    thread_.join();
  }
  bool Closed() const { return !thread_.joinable(); }

  // The box titled "Vendrake" that the window's thread shows; nullptr if none.
  HWND SummaryBox() const {
    HWND found = nullptr;
    EnumThreadWindows(
        thread_id_.load(),
        [](HWND window, LPARAM context) -> BOOL {
          wchar_t class_name[16] = {};
          wchar_t title[16] = {};
          GetClassNameW(window, class_name, 16);
          GetWindowTextW(window, title, 16);
          if (!IsWindowVisible(window) || std::wstring_view(class_name) != L"#32770" ||
              std::wstring_view(title) != L"Vendrake") {
            return TRUE;
          }
          *reinterpret_cast<HWND*>(context) = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
  }

 private:
  RecordingTaskbar taskbar_;
  std::unique_ptr<engine::FileSystem> platform_ = engine::MakePlatformFileSystem();
  testing::HookedFileSystem* hooks_ = nullptr;
  std::atomic<HWND> form_{nullptr};
  std::atomic<DWORD> thread_id_{0};
  std::thread thread_;
};

class Win32Form1Worker : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(source_);
    window_.SetText("Text2", testing::FolderText(source_));
    window_.SetText("Text3", testing::FolderText(destination_));
  }

  void WriteModels(std::initializer_list<const char*> names) {
    for (const char* name : names) testing::WriteFile(source_ / name, tools::MakeModel(kShape));
  }

  // Holds the run up for `pause` just before `name` is read, once.
  void SlowDown(const char* name, std::chrono::milliseconds pause) {
    window_.Hooks().Before(Operation::kRead, std::u16string(name, name + strlen(name)),
                           [this, pause] {
                             reading_.store(true);
                             std::this_thread::sleep_for(pause);
                           });
  }

  // Four models, each read slowly, and each output held up for `hold` as it
  // is about to take its name.
  void WriteFourSlowModels(std::chrono::milliseconds hold) {
    for (const char* name : kFourModels) {
      WriteModels({name});
      SlowDown(name, std::chrono::milliseconds(300));
      const std::string output = std::string("CliffNatural0_2x") + std::strchr(name, '_');
      window_.Hooks().Before(Operation::kCommit, std::u16string(output.begin(), output.end()),
                             [this, hold] {
                               committing_.store(true);
                               std::this_thread::sleep_for(hold);
                             });
    }
  }

  // Listing order is the file system's, so whichever comes first holds the
  // run up.
  static constexpr const char* kFourModels[] = {"CliffNatural0_A1", "CliffNatural0_B2",
                                                "CliffNatural0_C3", "CliffNatural0_D4"};
  static constexpr tools::ModelShape kShape{.vertex_count = 40, .face_count = 60, .seed = 5};
  testing::TemporaryFolder folder_;
  const fs::path source_ = folder_.Path() / "CliffNatural0";
  const fs::path destination_ = folder_.Path() / "CliffNatural0_2x";
  std::atomic<bool> reading_{false};
  std::atomic<bool> committing_{false};
  Form1OnItsThread window_;
};

// While the worker is held up, the window answers at once, runs the resize
// rule, keeps every input locked and counts the files done on its credit
// line; the summary comes after, and the credit line is itself again.
TEST_F(Win32Form1Worker, WindowAnswersAndResizesWhileTheRunGoesOn) {
  WriteModels({"CliffNatural0_A1", "CliffNatural0_B2"});
  SlowDown("CliffNatural0_A1", std::chrono::milliseconds(1500));
  SlowDown("CliffNatural0_B2", std::chrono::milliseconds(1500));

  window_.Click();

  ASSERT_TRUE(Eventually([this] { return reading_.load(); }));
  DWORD_PTR ignored = 0;
  EXPECT_NE(SendMessageTimeoutW(window_.Form(), WM_NULL, 0, 0, SMTO_NORMAL, kAnswerMilliseconds,
                                &ignored),
            0)
      << "the window does not answer during the run";
  EXPECT_EQ(TextOf(window_.Control("Command1")), u"Working...");
  for (const char* name : {"Command1", "Text1", "Text2", "Text3"}) {
    EXPECT_FALSE(IsWindowEnabled(window_.Control(name))) << name;
  }
  RECT frame{};
  RECT client{};
  GetWindowRect(window_.Form(), &frame);
  GetClientRect(window_.Form(), &client);
  const int width = client.right + 120;
  SetWindowPos(window_.Form(), nullptr, 0, 0, frame.right - frame.left + 120,
               frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT box{};
  GetWindowRect(window_.Control("Text2"), &box);
  EXPECT_EQ(box.right - box.left, FitToClientWidth(width).path_box_width);
  EXPECT_EQ(window_.SummaryBox(), nullptr) << "a message during the run";
  std::u16string credit;
  EXPECT_TRUE(Eventually([&] {
    credit = TextOf(window_.Control("Label4"));
    return credit == u"0 of 2 models" || credit == u"1 of 2 models";
  })) << std::string(credit.begin(), credit.end());

  HWND summary = nullptr;
  ASSERT_TRUE(Eventually([&] { return (summary = window_.SummaryBox()) != nullptr; }));
  PostMessageW(summary, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(Eventually([&] { return IsWindowEnabled(window_.Control("Text2")) != FALSE; }));
  EXPECT_EQ(TextOf(window_.Control("Command1")), u"Scale");
  EXPECT_EQ(TextOf(window_.Control("Label4")), DescriptionOf("Label4").text);
  // Busy with no end in sight until the count of files listed comes, filled
  // in step with the credit line, and plain again at the end.
  const std::vector<std::string> calls = window_.Taskbar().Calls();
  const auto busy = std::find(calls.begin(), calls.end(), "state 1");
  ASSERT_NE(busy, calls.end()) << ::testing::PrintToString(calls);
  EXPECT_THAT(std::vector<std::string>(calls.begin(), busy), Each(std::string("state 0")));
  ASSERT_GE(calls.end() - busy, 3) << ::testing::PrintToString(calls);
  EXPECT_THAT(std::vector<std::string>(busy + 1, calls.end() - 1),
              Each(AnyOf("value 0 of 2", "value 1 of 2")));
  EXPECT_EQ(calls.back(), "state 0");
}

// Closed while the first file is read: the window answers at once while the
// group in hand takes its names, that file is the last, and the window goes
// without a summary.
TEST_F(Win32Form1Worker, ClosingDuringARunStopsItWholeAndTheWindowAnswersMeanwhile) {
  WriteFourSlowModels(std::chrono::milliseconds(1500));

  window_.Click();
  ASSERT_TRUE(Eventually([this] { return reading_.load(); }));
  PostMessageW(window_.Form(), WM_CLOSE, 0, 0);
  ASSERT_TRUE(Eventually([this] { return committing_.load(); }));
  DWORD_PTR ignored = 0;
  EXPECT_NE(SendMessageTimeoutW(window_.Form(), WM_NULL, 0, 0, SMTO_NORMAL, kAnswerMilliseconds,
                                &ignored),
            0)
      << "the window does not answer while the closed run ends";
  window_.Close();

  testing::ExpectOnlyTheFileInHandWritten(destination_, kShape);
}

// Log-off, shutdown or restart while the first file is read: the query is
// answered at once; by the time the window has seen the session's end
// through, the run has ended as a closed one does; then the window goes.
TEST_F(Win32Form1Worker, SessionEndDuringARunEndsItWholeBeforeTheSessionGoes) {
  WriteFourSlowModels(std::chrono::milliseconds(1000));

  window_.Click();
  ASSERT_TRUE(Eventually([this] { return reading_.load(); }));
  const HWND form = window_.Form();
  DWORD_PTR answer = 0;
  ASSERT_NE(SendMessageTimeoutW(form, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                kAnswerMilliseconds, &answer),
            0)
      << "the query is not answered at once";
  EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE)) << "the window holds the session up";
  ASSERT_NE(SendMessageTimeoutW(form, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 20'000,
                                &answer),
            0);

  testing::ExpectOnlyTheFileInHandWritten(destination_, kShape);
  EXPECT_TRUE(Eventually([form] { return IsWindow(form) == FALSE; })) << "the window stays";
}

// The texts of the controls in `box`, a message box or task dialog.
std::vector<std::u16string> TextsIn(HWND box) {
  std::vector<std::u16string> texts;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM context) -> BOOL {
        reinterpret_cast<std::vector<std::u16string>*>(context)->push_back(TextOf(child));
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&texts));
  return texts;
}

// A log-off that another program calls off, during a run: the run goes on to
// its end and shows its summary.
TEST_F(Win32Form1Worker, ASessionEndCalledOffLeavesTheRunGoing) {
  WriteFourSlowModels(std::chrono::milliseconds(0));

  window_.Click();
  ASSERT_TRUE(Eventually([this] { return reading_.load(); }));
  DWORD_PTR answer = 0;
  for (const auto& [message, wparam] :
       {std::pair{WM_QUERYENDSESSION, WPARAM{0}}, std::pair{WM_ENDSESSION, WPARAM{FALSE}}}) {
    ASSERT_NE(SendMessageTimeoutW(window_.Form(), message, wparam, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                  kAnswerMilliseconds, &answer),
              0);
  }

  HWND summary = nullptr;
  ASSERT_TRUE(Eventually([&] { return (summary = window_.SummaryBox()) != nullptr; }));
  const std::vector<std::u16string> texts = TextsIn(summary);
  PostMessageW(summary, WM_COMMAND, IDOK, 0);
  EXPECT_THAT(texts, Contains(u"Attempted model scales: 4. Success count: 4."));
}

// A drop of `item` as Explorer hands it to a window: a DROPFILES header, then
// the item's path ending in two nulls. The window frees it.
HDROP DropOf(const fs::path& item) {
  const std::wstring path = item.wstring();
  const HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + (path.size() + 2) * sizeof(wchar_t));
  auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  std::memcpy(header + 1, path.c_str(), path.size() * sizeof(wchar_t));
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

// A folder dropped from Explorer fills the box it lands on; a file gives its
// folder. Nothing runs until the button is pressed.
TEST_F(Win32Form1Worker, AFolderDroppedOnABoxPutsItsPathThere) {
  WriteModels({"CliffNatural0_A1"});
  const auto drop = [this](const char* box, const fs::path& item) {
    SendMessageW(window_.Control(box), WM_DROPFILES, reinterpret_cast<WPARAM>(DropOf(item)), 0);
  };

  drop("Text2", folder_.Path());
  drop("Text3", source_ / "CliffNatural0_A1");

  EXPECT_EQ(TextOf(window_.Control("Text2")), folder_.Path().u16string());
  EXPECT_EQ(TextOf(window_.Control("Text3")), source_.u16string());
  EXPECT_EQ(window_.SummaryBox(), nullptr);
  EXPECT_FALSE(fs::exists(destination_));
}

// One file for each way a file can fail; the box itself is read back.
TEST_F(Win32Form1Worker, SummaryBoxListsEachFailedFileWithItsReason) {
  testing::WriteOneFileOfEachFailureKind(source_);

  window_.Click();

  HWND box = nullptr;
  ASSERT_TRUE(Eventually([&] { return (box = window_.SummaryBox()) != nullptr; }));
  const std::vector<std::u16string> texts = TextsIn(box);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_THAT(texts, Contains(u"Attempted model scales: 6. Success count: 1."));
  bool found = false;
  for (const std::u16string& text : texts) {
    if (!text.starts_with(u"b_") && text.find(u"\nb_") == std::u16string::npos) continue;
    found = true;
    EXPECT_THAT(Lines(text), UnorderedElementsAreArray(testing::DetailsOfEachFailureKind()));
  }
  EXPECT_TRUE(found) << "no details in the box";
}

}  // namespace
}  // namespace vendrake::window
