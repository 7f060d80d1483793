#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vendrake::engine::win32 {

// The names of staging files: ".vendrake-<n>.tmp" while an output is written,
// and on FAT and exFAT ".vendrake-<n>.<output>.ready" (or ".vendrake-<n>.ready"
// where the output's name does not fit) once it is whole, on disk, and about
// to replace the output (see win32_staging.cpp); "vendrake-recovered-<n>" for
// a whole one whose output is unknown, left for the user.

// A new ".vendrake-<n>.tmp" name, <n> random.
std::u16string NextStagingName();

// The <n> of a name that starts ".vendrake-<n>.", or nothing.
std::u16string_view StagingNumber(std::u16string_view name);

// The staging name ".vendrake-<n>.tmp" itself.
bool IsWritingName(std::u16string_view name);

// For ".vendrake-<n>.<output>.ready", the output; for ".vendrake-<n>.ready",
// the empty name; otherwise nothing.
std::optional<std::u16string_view> ReadyFor(std::u16string_view name);

// The ready name of the staging file `staging_name` for the output `output`.
std::u16string ReadyName(std::u16string_view staging_name, std::u16string_view output);

// "vendrake-recovered-<n>".
std::u16string RecoveredName(std::u16string_view number);

// Whether no listing of a folder gives the name `name`, on any volume: that
// of a staging file (".vendrake-<n>." and anything after). Staging files are
// HIDDEN as well, but a volume may not keep attributes, and a copy of a
// folder may lose them.
bool IsKeptFromListings(std::u16string_view name);

// Whether `name` is that of a whole staging file that the clean-up left as
// "vendrake-recovered-<n>" for the user to look at (see
// RemoveAbandonedStaging): listed, so that a run can say it passes it over.
bool IsSetAsideName(std::u16string_view name);

}  // namespace vendrake::engine::win32
