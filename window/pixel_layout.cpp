#include "window/pixel_layout.h"

#include <algorithm>

#include "window/resize_rule.h"

namespace vendrake::window {
namespace {

// The resize rule measures from these two.
constexpr const ControlDescription& kText2 = DescriptionOf("Text2");
constexpr const ControlDescription& kLabel4 = DescriptionOf("Label4");

int Pixels(int twips, int dpi) { return TwipsToPixels(static_cast<float>(twips), dpi); }

bool Overlap(const ControlDescription& a, const ControlDescription& b) {
  return a.left < b.left + b.width && b.left < a.left + a.width && a.top < b.top + b.height &&
         b.top < a.top + a.height;
}

}  // namespace

PixelRect DescribedRect(const ControlDescription& control, int dpi) {
  return {Pixels(control.left, dpi), Pixels(control.top, dpi), Pixels(control.width, dpi),
          Pixels(control.height, dpi)};
}

PixelRect DescribedClientArea(int dpi) {
  return {0, 0, Pixels(kClientWidth, dpi), Pixels(kClientHeight, dpi)};
}

FittedPixels FitToClientWidth(int client_width, int dpi) {
  const FittedLayout layout =
      ApplyResizeRule(PixelsToTwips(client_width, dpi), static_cast<float>(kText2.left),
                      static_cast<float>(kLabel4.width));
  return {TwipsToPixels(layout.path_box_width, dpi), TwipsToPixels(layout.credit_left, dpi)};
}

std::vector<const ControlDescription*> FocusOrder() {
  std::vector<const ControlDescription*> order;
  for (const ControlDescription& control : kForm1Controls) {
    if (control.kind != ControlKind::kLabel) order.push_back(&control);
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const ControlDescription* a, const ControlDescription* b) {
                     return a->tab_index < b->tab_index;
                   });
  return order;
}

int UncoveredWidth(const ControlDescription& label) {
  int width = label.width;
  for (const ControlDescription& other : kForm1Controls) {
    if (other.kind == ControlKind::kLabel || !Overlap(label, other)) continue;
    width = std::min(width, std::max(0, other.left - label.left));
  }
  return width;
}

}  // namespace vendrake::window
