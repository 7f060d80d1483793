#include "window/resize_rule.h"

namespace vendrake::window {
namespace {

constexpr float kCreditRightMargin = 120.0F;

}  // namespace

FittedLayout ApplyResizeRule(float client_width, float path_box_left, float credit_width) {
  float path_box_width = client_width - path_box_left;
  // A control cannot take a negative width; written this way a NaN lands on 0 too.
  if (!(path_box_width > 0.0F)) path_box_width = 0.0F;
  return {.path_box_width = path_box_width,
          .credit_left = client_width - credit_width - kCreditRightMargin};
}

}  // namespace vendrake::window
