#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "tools/synthetic_model.h"

namespace vendrake::testing {

// The bytes of the generated model with every height multiplied by `factor`,
// worked out here from the layout's offsets rather than by the scaling pass.
std::vector<std::uint8_t> ScaledModel(const tools::ModelShape& shape, float factor);

// What a run of models of `shape` scaled by 2, stopped after the file in hand
// (by SIGINT, the window's closing, the session's end), leaves in
// `destination`: that file's output, and only that, whole under its name,
// and nothing staged.
void ExpectOnlyTheFileInHandWritten(const std::filesystem::path& destination,
                                    const tools::ModelShape& shape);

}  // namespace vendrake::testing
