#include "window/pixel_layout.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/window/expected_layout.h"
#include "window/window_description.h"

namespace vendrake::window {
namespace {

// One DPI's column of the expected places.
struct DpiColumn {
  int dpi;
  PixelRect client;
  PixelRect ExpectedControl::*rect;
  PixelFit (*fit)(const ExpectedFit&);
};

void PrintTo(const DpiColumn& column, std::ostream* out) { *out << column.dpi << " DPI"; }

// The window tests run at 96 DPI only; these check every column through the
// layout functions, without a window.
class PixelLayout : public ::testing::TestWithParam<DpiColumn> {};

TEST_P(PixelLayout, PlacesTheClientAreaAndEveryControlAsExpected) {
  const DpiColumn& column = GetParam();
  EXPECT_EQ(DescribedClientArea(column.dpi), column.client);
  for (const ExpectedControl& expected : kExpectedControls) {
    EXPECT_EQ(DescribedRect(DescriptionOf(expected.name), column.dpi), expected.*column.rect)
        << expected.name;
  }
}

TEST_P(PixelLayout, FitsEveryExpectedClientWidth) {
  const DpiColumn& column = GetParam();
  for (const ExpectedFit& row : kExpectedFits) {
    const PixelFit expected = column.fit(row);
    const FittedPixels fitted = FitToClientWidth(expected.client_width, column.dpi);
    EXPECT_EQ(fitted.path_box_width, expected.path_box_width) << expected.client_width << " pixels";
    EXPECT_EQ(fitted.credit_left, expected.credit_left) << expected.client_width << " pixels";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Dpis, PixelLayout,
    ::testing::Values(
        DpiColumn{96,
                  {0, 0, kExpectedClientWidth, kExpectedClientHeight},
                  &ExpectedControl::rect,
                  [](const ExpectedFit& fit) {
                    return PixelFit{fit.client_width, fit.path_box_width, fit.credit_left};
                  }},
        DpiColumn{120, kExpectedClientAt120, &ExpectedControl::rect_at_120,
                  [](const ExpectedFit& fit) { return fit.at_120; }},
        DpiColumn{144, kExpectedClientAt144, &ExpectedControl::rect_at_144,
                  [](const ExpectedFit& fit) { return fit.at_144; }}),
    [](const auto& param_info) { return std::to_string(param_info.param.dpi) + "Dpi"; });

}  // namespace
}  // namespace vendrake::window
