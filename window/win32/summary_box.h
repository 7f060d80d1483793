#pragma once

#include <windows.h>

#include <string_view>

namespace vendrake::window {

// Shows `text` in a modal box over `owner` titled "Vendrake", with one OK
// button and no icon, and returns once the user has closed it. Non-empty
// `details` go in the box's expandable section: a task dialog's expanded
// information, where the common controls have task dialogs; elsewhere the
// box is a plain message box with the details below the text, as many lines
// of them as a box can show.
void ShowSummaryBox(HWND owner, std::u16string_view text, std::u16string_view details);

}  // namespace vendrake::window
