#pragma once

#include <string>

#include "engine/word_image.h"

namespace vendrake::engine {

// What the main window keeps for its whole life and lends to the Scale
// command, the batch run and the scaling pass. Values persist between runs.
struct WindowState {
  WordImage ModelWords;         // the file being converted; replaced for each file
  std::u16string DestBaseName;  // "\" and the destination folder's own name
  float ScaleFactor = 0.0F;     // the factor applied to every height
};

}  // namespace vendrake::engine
