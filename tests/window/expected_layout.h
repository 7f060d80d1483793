#pragma once

#include <array>
#include <ostream>
#include <string_view>

#include "command/defaults.h"
#include "window/pixel_layout.h"
#include "window/window_description.h"

// Where both windows, the Qt one and the Win32 one, must put their controls,
// in pixels, written out here rather than worked out from the description, so
// that a slip in either is caught. The windows are tested at 96 DPI, where
// every place is a whole number of pixels (15 twips each). At 120 and 144 DPI
// (12 and 10 twips a pixel) many are not, so the rounding (to the nearest
// pixel, halves away from zero) and any place that ignores the DPI show;
// those columns are checked against the layout functions alone.
namespace vendrake::window {

inline void PrintTo(const PixelRect& rect, std::ostream* out) {
  *out << '{' << rect.left << ", " << rect.top << ", " << rect.width << ", " << rect.height << '}';
}

struct ExpectedControl {
  const char* name;
  ControlKind kind;
  std::u16string_view text;  // empty: any text but an empty one
  PixelRect rect;            // at 96 DPI
  PixelRect rect_at_120;
  PixelRect rect_at_144;
};

inline void PrintTo(const ExpectedControl& control, std::ostream* out) { *out << control.name; }

inline constexpr int kExpectedClientWidth = 473;
inline constexpr int kExpectedClientHeight = 103;
inline constexpr PixelRect kExpectedClientAt120{0, 0, 591, 129};
inline constexpr PixelRect kExpectedClientAt144{0, 0, 710, 155};

// Each control's name, kind and text, then its place at 96, 120 and 144 DPI.
inline constexpr std::array<ExpectedControl, 8> kExpectedControls{{
    {"Command1",
     ControlKind::kPushButton,
     u"Scale",
     {136, 72, 89, 25},
     {170, 90, 111, 31},
     {204, 108, 134, 38}},
    {"Text1",
     ControlKind::kTextBox,
     u"2.0",
     {72, 72, 57, 25},
     {90, 90, 71, 31},
     {108, 108, 86, 38}},
    {"Text2",
     ControlKind::kTextBox,
     command::kDefaultSourceText,
     {72, 8, 401, 25},
     {90, 10, 501, 31},
     {108, 12, 602, 38}},
    {"Label1",
     ControlKind::kLabel,
     u"Source:",
     {8, 16, 49, 17},
     {10, 20, 61, 21},
     {12, 24, 74, 26}},
    {"Label2",
     ControlKind::kLabel,
     u"Destination:",
     {8, 48, 73, 17},
     {10, 60, 91, 21},
     {12, 72, 110, 26}},
    {"Text3",
     ControlKind::kTextBox,
     command::kDefaultDestinationText,
     {72, 40, 401, 25},
     {90, 50, 501, 31},
     {108, 60, 602, 38}},
    {"Label3",
     ControlKind::kLabel,
     u"Scale:",
     {8, 80, 57, 25},
     {10, 100, 71, 31},
     {12, 120, 86, 38}},
    {"Label4",
     ControlKind::kLabel,
     u"",
     {304, 80, 161, 17},
     {380, 100, 201, 21},
     {456, 120, 242, 26}},
}};

// What resizing the client area to `client_width` pixels does: the path boxes
// (72 pixels from the left, 8 and 40 from the top at 96 DPI) take
// `path_box_width`, the credit line (80 from the top) moves to `credit_left`,
// and nothing else moves.
struct PixelFit {
  int client_width;
  int path_box_width;
  int credit_left;
};

// One client width at 96 DPI, and the like width at 120 and 144 DPI.
struct ExpectedFit {
  int client_width;
  int path_box_width;
  int credit_left;
  PixelFit at_120;
  PixelFit at_144;
};

inline void PrintTo(const ExpectedFit& fit, std::ostream* out) {
  *out << fit.client_width << " pixels";
}

// At 144 DPI the credit line's left edge always falls on a half pixel.
inline constexpr std::array<ExpectedFit, 5> kExpectedFits{{
    // As built: 7095 twips at 96 DPI, 7092 at 120 and 7100 at 144.
    {473, 401, 304, {591, 501, 380}, {710, 602, 457}},
    // Widened by 1440 twips.
    {569, 497, 400, {711, 621, 500}, {854, 746, 601}},
    // 1995, 2004 and 2000 twips: the credit line lies partly left of the client.
    {133, 61, -36, {167, 77, -44}, {200, 92, -54}},
    // 900 twips, narrower than 1080.
    {60, 0, -109, {75, 0, -136}, {90, 0, -164}},
    // Minimised.
    {0, 0, -169, {0, 0, -211}, {0, 0, -254}},
}};

}  // namespace vendrake::window
