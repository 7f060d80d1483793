#pragma once

#include <array>
#include <ostream>
#include <string_view>

#include "command/defaults.h"
#include "window/pixel_layout.h"
#include "window/window_description.h"

// Where both windows, the Qt one and the Win32 one, must put their controls,
// in pixels at 96 DPI, written out here rather than worked out from the
// description, so that a slip in either is caught.
namespace vendrake::window {

struct ExpectedControl {
  const char* name;
  ControlKind kind;
  std::u16string_view text;  // empty: any text but an empty one
  PixelRect rect;
};

inline void PrintTo(const ExpectedControl& control, std::ostream* out) { *out << control.name; }

inline constexpr int kExpectedClientWidth = 473;
inline constexpr int kExpectedClientHeight = 103;

inline constexpr std::array<ExpectedControl, 8> kExpectedControls{{
    {"Command1", ControlKind::kPushButton, u"Scale", {136, 72, 89, 25}},
    {"Text1", ControlKind::kTextBox, u"2.0", {72, 72, 57, 25}},
    {"Text2", ControlKind::kTextBox, command::kDefaultSourceText, {72, 8, 401, 25}},
    {"Label1", ControlKind::kLabel, u"Source:", {8, 16, 49, 17}},
    {"Label2", ControlKind::kLabel, u"Destination:", {8, 48, 73, 17}},
    {"Text3", ControlKind::kTextBox, command::kDefaultDestinationText, {72, 40, 401, 25}},
    {"Label3", ControlKind::kLabel, u"Scale:", {8, 80, 57, 25}},
    {"Label4", ControlKind::kLabel, u"", {304, 80, 161, 17}},
}};

// What resizing the client area to `client_width` pixels does: the path boxes
// (72 pixels from the left, 8 and 40 from the top) take `path_box_width`, the
// credit line (80 from the top) moves to `credit_left`, and nothing else moves.
struct ExpectedFit {
  int client_width;
  int path_box_width;
  int credit_left;
};

inline void PrintTo(const ExpectedFit& fit, std::ostream* out) {
  *out << fit.client_width << " pixels";
}

inline constexpr std::array<ExpectedFit, 5> kExpectedFits{{
    {473, 401, 304},  // 7095 twips, as built
    {569, 497, 400},  // widened by 1440 twips
    {133, 61, -36},   // 1995 twips
    {60, 0, -109},    // narrower than 1080
    {0, 0, -169},     // minimised
}};

}  // namespace vendrake::window
