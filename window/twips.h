#pragma once

#include <cmath>

namespace vendrake::window {

// 1440 twips make an inch. Pixels per inch is the screen's DPI: 96 for the
// device-independent pixels a toolkit scales for itself, whatever the screen's
// real resolution, and the monitor's own for a window that scales itself.
inline constexpr float kTwipsPerInch = 1440.0F;
inline constexpr int kStandardDpi = 96;
// Nearest whole pixel, halves away from zero; every twip value of the window
// description is a whole number of pixels at the standard DPI (15 twips each).
inline int TwipsToPixels(float twips, int dpi = kStandardDpi) {
  return static_cast<int>(std::lround(static_cast<double>(twips) * dpi / kTwipsPerInch));
}

inline float PixelsToTwips(int pixels, int dpi = kStandardDpi) {
  return static_cast<float>(static_cast<double>(pixels) * kTwipsPerInch / dpi);
}

}  // namespace vendrake::window
