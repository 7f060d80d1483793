#pragma once

#include <array>
#include <stdexcept>
#include <string_view>

#include "command/defaults.h"
#include "command/messages.h"

namespace vendrake::window {

enum class ControlKind { kPushButton, kTextBox, kLabel };

// One control of the main window. Positions and sizes are in twips from the
// top-left corner of the client area; labels take no focus whatever their tab
// index says.
struct ControlDescription {
  const char* name;
  ControlKind kind;
  const char16_t* text;
  int left;
  int top;
  int width;
  int height;
  int tab_index;
};

inline constexpr int kClientWidth = 7095;
inline constexpr int kClientHeight = 1545;

// The whole window, in tab order. Label3 is 375 twips high and so reaches 30
// twips below the client area; that is how the window has always looked.
inline constexpr std::array<ControlDescription, 8> kForm1Controls{{
    {"Command1", ControlKind::kPushButton, command::kIdleCaption, 2040, 1080, 1335, 375, 0},
    {"Text1", ControlKind::kTextBox, command::kDefaultScaleText, 1080, 1080, 855, 375, 1},
    {"Text2", ControlKind::kTextBox, command::kDefaultSourceText, 1080, 120, 6015, 375, 2},
    {"Label1", ControlKind::kLabel, u"Source:", 120, 240, 735, 255, 3},
    {"Label2", ControlKind::kLabel, u"Destination:", 120, 720, 1095, 255, 4},
    {"Text3", ControlKind::kTextBox, command::kDefaultDestinationText, 1080, 600, 6015, 375, 5},
    {"Label3", ControlKind::kLabel, u"Scale:", 120, 1200, 855, 375, 6},
    {"Label4", ControlKind::kLabel, u"Vendrake \u2014 cliff scaler", 4560, 1200, 2415, 255, 7},
}};

// Each text box with the label that names it, for assistive technology.
struct LabelledBox {
  const char* label;
  const char* box;
};
inline constexpr std::array<LabelledBox, 3> kLabelledBoxes{{
    {"Label1", "Text2"},
    {"Label2", "Text3"},
    {"Label3", "Text1"},
}};

// The described control called `name`. Meant for constant expressions, where
// a name missing from the table is a build error.
constexpr const ControlDescription& DescriptionOf(std::string_view name) {
  for (const ControlDescription& control : kForm1Controls) {
    if (control.name == name) return control;
  }
  throw std::logic_error("no such control in the window description");
}

}  // namespace vendrake::window
