// What a screen reader finds in the window: MSAA names a box by the label
// just above it in the z-order, and a button by its caption.
#include <windows.h>
// After windows.h, which they need.
#include <oleacc.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "window/win32/win32_form1.h"
#include "window/window_description.h"

namespace vendrake::window {
namespace {

using ::testing::ElementsAre;

// IID_IAccessible, spelled out, and oleacc looked up rather than linked:
// mingw-w64 defines the IID in both liboleacc and libuuid, which the window
// links for the taskbar.
constexpr IID kAccessibleInterface = {
    0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// The control's name as MSAA gives it; nothing where oleacc does not answer.
std::optional<std::u16string> AccessibleName(HWND control) {
  using FromWindow = HRESULT(WINAPI*)(HWND, DWORD, REFIID, void**);
  const HMODULE oleacc = LoadLibraryW(L"oleacc.dll");
  const auto from_window = oleacc == nullptr
                               ? nullptr
                               : reinterpret_cast<FromWindow>(reinterpret_cast<void*>(
                                     GetProcAddress(oleacc, "AccessibleObjectFromWindow")));
  IAccessible* accessible = nullptr;
  if (from_window == nullptr ||
      FAILED(from_window(control, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                         reinterpret_cast<void**>(&accessible)))) {
    return std::nullopt;
  }
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  const HRESULT got = accessible->get_accName(self, &name);
  accessible->Release();
  if (got != S_OK || name == nullptr) return std::nullopt;
  std::u16string text(name, name + SysStringLen(name));
  SysFreeString(name);
  return text;
}

TEST(Win32Form1, EachBoxIsNamedByTheLabelJustAboveItAndTheButtonByItsCaption) {
  Win32Form1 form(GetModuleHandleW(nullptr));
  std::vector<std::string> top_to_bottom;
  for (HWND child = GetWindow(form.Handle(), GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    for (const ControlDescription& control : kForm1Controls) {
      if (GetDlgItem(form.Handle(), ControlId(control.name)) == child) {
        top_to_bottom.push_back(control.name);
      }
    }
  }
  EXPECT_THAT(top_to_bottom, ElementsAre("Command1", "Label3", "Text1", "Label1", "Text2", "Label2",
                                         "Text3", "Label4"));

  struct Named {
    const char* control;
    std::u16string name;
  };
  for (const Named& named : {Named{"Text1", u"Scale:"}, Named{"Text2", u"Source:"},
                             Named{"Text3", u"Destination:"}, Named{"Command1", u"Scale"}}) {
    EXPECT_EQ(AccessibleName(GetDlgItem(form.Handle(), ControlId(named.control))), named.name)
        << named.control;
  }
}

// A label above its box is cropped to the part no box covers: each box is
// seen whole, Text3 beside Label2, which reaches into its column, too.
TEST(Win32Form1, NoLabelCoversTheBoxBeneathIt) {
  Win32Form1 form(GetModuleHandleW(nullptr));
  form.Show(SW_SHOWNOACTIVATE);
  for (const char* name : {"Text1", "Text2", "Text3", "Command1"}) {
    const HWND control = GetDlgItem(form.Handle(), ControlId(name));
    HDC dc = GetDC(control);
    HRGN visible = CreateRectRgn(0, 0, 0, 0);
    ASSERT_EQ(GetRandomRgn(dc, visible, SYSRGN), 1) << name;
    RECT whole{};
    RECT seen{};
    // The control's DC draws its client area, inside the box's border.
    GetClientRect(control, &whole);
    MapWindowPoints(control, HWND_DESKTOP, reinterpret_cast<POINT*>(&whole), 2);
    EXPECT_EQ(GetRgnBox(visible, &seen), SIMPLEREGION) << name;
    EXPECT_TRUE(EqualRect(&seen, &whole)) << name;
    DeleteObject(visible);
    ReleaseDC(control, dc);
  }
}

}  // namespace
}  // namespace vendrake::window
