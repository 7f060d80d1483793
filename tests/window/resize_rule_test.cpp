#include "window/resize_rule.h"

#include <gtest/gtest.h>

#include <ostream>

namespace vendrake::window {
namespace {

struct ResizeCase {
  float client_width;
  float path_box_width;
  float credit_left;
};

void PrintTo(const ResizeCase& c, std::ostream* out) { *out << c.client_width << " twips"; }

class ResizeRule : public ::testing::TestWithParam<ResizeCase> {};

// Text2 starts 1080 twips from the left; the credit line is 2415 twips wide.
TEST_P(ResizeRule, FitsPathBoxesToTheRightEdgeAndKeepsTheCreditMargin) {
  const ResizeCase& c = GetParam();
  const FittedLayout layout = ApplyResizeRule(c.client_width, 1080.0F, 2415.0F);
  EXPECT_EQ(layout.path_box_width, c.path_box_width);
  EXPECT_EQ(layout.credit_left, c.credit_left);
}

INSTANTIATE_TEST_SUITE_P(
    ClientWidths, ResizeRule,
    ::testing::Values(ResizeCase{7095.0F, 6015.0F, 4560.0F},    // the initial size
                      ResizeCase{8535.0F, 7455.0F, 6000.0F},    // widened by 1440
                      ResizeCase{2000.0F, 920.0F, -535.0F},     // credit partly outside
                      ResizeCase{1081.0F, 1.0F, -1454.0F},      // narrowest visible boxes
                      ResizeCase{1080.0F, 0.0F, -1455.0F},      // boxes just vanish
                      ResizeCase{1000.0F, 0.0F, -1535.0F},      // narrower than their left
                      ResizeCase{0.0F, 0.0F, -2535.0F},         // minimised
                      ResizeCase{7095.5F, 6015.5F, 4560.5F}));  // fractions are kept

}  // namespace
}  // namespace vendrake::window
