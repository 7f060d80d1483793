#pragma once

#include <cstdint>
#include <vector>

#include "tools/synthetic_model.h"

namespace vendrake::testing {

// The bytes of the generated model with every height multiplied by `factor`,
// worked out here from the layout's offsets rather than by the scaling pass.
std::vector<std::uint8_t> ScaledModel(const tools::ModelShape& shape, float factor);

}  // namespace vendrake::testing
