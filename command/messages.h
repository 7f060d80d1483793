#pragma once

#include <string>

#include "engine/batch_run.h"

namespace vendrake::command {

// Every text the Scale command shows, in one place.
inline constexpr char16_t kApplicationTitle[] = u"Vendrake";
inline constexpr char16_t kIdleCaption[] = u"Scale";
inline constexpr char16_t kWorkingCaption[] = u"Working...";

inline constexpr char16_t kSourceInvalidMessage[] = u"Source must be a valid path name.";
inline constexpr char16_t kDestinationInvalidMessage[] = u"Destination must be a valid path name.";
inline constexpr char16_t kScaleNotNumericMessage[] =
    u"Scale value must be numeric. Please use . as the decimal separator.";
inline constexpr char16_t kScaleOutOfRangeMessage[] = u"Scale value is out of range.";
inline constexpr char16_t kSourceMissingMessage[] = u"The source path does not exist.";

// "Attempted model scales: 12. Success count: 11."
std::u16string SummaryMessage(const engine::RunTally& tally);

}  // namespace vendrake::command
