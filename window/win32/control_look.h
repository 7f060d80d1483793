#pragma once

#include <windows.h>

#include "window/pixel_layout.h"
#include "window/window_description.h"

namespace vendrake::window {

// The system control class and window style that make a control of `kind`.
const wchar_t* ClassOf(ControlKind kind);
DWORD StyleOf(ControlKind kind);

// The dialog font at the 8 points the description's heights were made for,
// or smaller where a caption would not show whole beside the boxes of `form`
// at `dpi`; the caller owns it.
HFONT CreateFittingFont(HWND form, int dpi);

// Makes `label`, placed at `rect`, show only the part of its description
// that no box or button covers.
void CropToUncovered(HWND label, const ControlDescription& description, const PixelRect& rect,
                     int dpi);

// Moves and sizes `control` to `rect` in its parent's client coordinates.
void Place(HWND control, const PixelRect& rect);

}  // namespace vendrake::window
