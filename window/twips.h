#pragma once

#include <cmath>

namespace vendrake::window {

// 1440 twips make an inch and 96 device-independent pixels make one, so a
// pixel is 15 twips whatever the screen's real resolution; the toolkit scales
// device-independent pixels to the screen.
inline constexpr float kTwipsPerPixel = 15.0F;

// Nearest whole pixel, halves away from zero; every twip value of the window
// description is a whole number of pixels.
inline int TwipsToPixels(float twips) {
  return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

inline float PixelsToTwips(int pixels) { return static_cast<float>(pixels) * kTwipsPerPixel; }

}  // namespace vendrake::window
