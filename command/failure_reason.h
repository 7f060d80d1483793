#pragma once

#include <string>
#include <string_view>

#include "engine/batch_run.h"

namespace vendrake::command {

// Why the file `entry` failed at `step`, in a modder's words followed by the
// engine's detail in brackets: "shorter than 4 bytes, too short to be a model
// (the file holds 3 bytes, no whole word)". The one wording of a failure that
// every front end shows; the text is not escaped, which is each front end's
// own business.
std::u16string FailureText(std::u16string_view entry, engine::BatchStep step,
                           const engine::Error& error);

}  // namespace vendrake::command
