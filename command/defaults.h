#pragma once

namespace vendrake::command {

// The texts the three input boxes start with: the game's working asset
// folder for cliffs, a folder beside it for the doubled models, and 2.
inline constexpr char16_t kDefaultSourceText[] =
    u"C:\\Program Files (x86)\\Orvantis\\Work\\Assets\\Cliffs\\CliffNatural0";
inline constexpr char16_t kDefaultDestinationText[] =
    u"C:\\Program Files (x86)\\Orvantis\\Work\\Assets\\Cliffs\\CliffNatural0_2x";
inline constexpr char16_t kDefaultScaleText[] = u"2.0";

}  // namespace vendrake::command
