#include "window/win32/control_look.h"

#include <string>

#include "window/twips.h"

namespace vendrake::window {
namespace {

// The dialog font offered for the 8 points the description's heights were
// made for; smaller sizes, in half points, only as far as a caption needs.
constexpr wchar_t kDialogFontFace[] = L"MS Shell Dlg 2";
constexpr int kDescribedHalfPoints = 16;
constexpr int kSmallestHalfPoints = 12;

HFONT CreateDialogFont(int half_points, int dpi) {
  return CreateFontW(-MulDiv(half_points, dpi, 2 * 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, kDialogFontFace);
}

// Whether every caption, drawn in `font`, fits whole in the part of its label
// that no box or button covers, and in its label's height.
bool CaptionsFit(HWND form, HFONT font, int dpi) {
  HDC dc = GetDC(form);
  const HGDIOBJ previous = SelectObject(dc, font);
  TEXTMETRICW metrics{};
  bool fit = GetTextMetricsW(dc, &metrics) != FALSE;
  for (const ControlDescription& label : kForm1Controls) {
    if (label.kind != ControlKind::kLabel) continue;
    const std::wstring caption(label.text,
                               label.text + std::char_traits<char16_t>::length(label.text));
    SIZE extent{};
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
    fit = fit && extent.cx <= TwipsToPixels(static_cast<float>(UncoveredWidth(label)), dpi) &&
          metrics.tmHeight <= DescribedRect(label, dpi).height;
  }
  SelectObject(dc, previous);
  ReleaseDC(form, dc);
  return fit;
}

}  // namespace

const wchar_t* ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::kPushButton:
      return L"BUTTON";
    case ControlKind::kTextBox:
      return L"EDIT";
    case ControlKind::kLabel:
      break;
  }
  return L"STATIC";
}

DWORD StyleOf(ControlKind kind) {
  // No control draws over a sibling above it; a label above a box it reaches
  // into is cropped (see CropToUncovered).
  constexpr DWORD kChild = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
  switch (kind) {
    case ControlKind::kPushButton:
      return kChild | WS_TABSTOP | BS_PUSHBUTTON;
    case ControlKind::kTextBox:
      return kChild | WS_TABSTOP | ES_AUTOHSCROLL;
    case ControlKind::kLabel:
      break;
  }
  return kChild | SS_LEFTNOWORDWRAP | SS_NOPREFIX;
}

HFONT CreateFittingFont(HWND form, int dpi) {
  HFONT font = nullptr;
  // A size under which nothing fits leaves the smallest one tried.
  for (int half_points = kDescribedHalfPoints; half_points >= kSmallestHalfPoints; --half_points) {
    if (font != nullptr) DeleteObject(font);
    font = CreateDialogFont(half_points, dpi);
    if (CaptionsFit(form, font, dpi)) break;
  }
  return font;
}

// A label lies above the box it names but must not draw over it: its window
// keeps the described size, and shows only the part that no box or button
// covers. The system then leaves the box whole.
void CropToUncovered(HWND label, const ControlDescription& description, const PixelRect& rect,
                     int dpi) {
  const int shown = TwipsToPixels(static_cast<float>(UncoveredWidth(description)), dpi);
  if (shown >= rect.width) {
    SetWindowRgn(label, nullptr, TRUE);
    return;
  }
  // The system owns the region from here on.
  SetWindowRgn(label, CreateRectRgn(0, 0, shown, rect.height), TRUE);
}

void Place(HWND control, const PixelRect& rect) {
  SetWindowPos(control, nullptr, rect.left, rect.top, rect.width, rect.height,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace vendrake::window
