#pragma once

#include <vector>

#include "window/twips.h"
#include "window/window_description.h"

namespace vendrake::window {

// Pixels from the top-left corner of the client area.
struct PixelRect {
  int left;
  int top;
  int width;
  int height;

  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// Where `control` lies at `dpi` before the resize rule has run.
PixelRect DescribedRect(const ControlDescription& control, int dpi = kStandardDpi);

// The client area's described width and height at `dpi`.
PixelRect DescribedClientArea(int dpi = kStandardDpi);

// What the resize rule makes of a client area `client_width` pixels wide at
// `dpi`, in pixels: the width of both path boxes and the credit line's left
// edge. A minimised window's client width is 0.
struct FittedPixels {
  int path_box_width;
  int credit_left;
};
FittedPixels FitToClientWidth(int client_width, int dpi = kStandardDpi);

// The controls that take the focus, in tab order; labels never do.
std::vector<const ControlDescription*> FocusOrder();

// Twips of `label`, from its left edge, over which no box or button lies; a
// caption drawn further right is hidden, since labels lie beneath the boxes.
int UncoveredWidth(const ControlDescription& label);

}  // namespace vendrake::window
