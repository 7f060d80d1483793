#pragma once

class QWidget;

namespace vendrake::window {

// Gives `form` the font all its controls are drawn in: 8 points, the size the
// window description's fixed heights were made for, then narrower faces, then
// smaller sizes, only as far as needed for every label's caption to fit whole
// in the part of the label that no box or button covers, as measured by the
// label itself. `form` must already hold the described labels.
void FitCaptionFont(QWidget& form);

}  // namespace vendrake::window
