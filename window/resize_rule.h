#pragma once

namespace vendrake::window {

// What the resize rule sets, in twips: the width of both path boxes (Text2
// and Text3) and the left edge of the credit line (Label4).
struct FittedLayout {
  float path_box_width;
  float credit_left;
};

// Fits the path boxes to end at the client area's right edge and keeps the
// credit line 120 twips from it, in single precision. A client narrower than
// the path boxes' left edge (a minimised window reports 0) gives them width 0;
// the credit line then lies partly or wholly left of the client area.
FittedLayout ApplyResizeRule(float client_width, float path_box_left, float credit_width);

}  // namespace vendrake::window
