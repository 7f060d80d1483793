#pragma once

class QString;
class QWidget;

namespace vendrake::window {

// Shows `text` in a modal box titled "Vendrake" with one OK button and no
// icon, over `parent`, and returns once the user has closed it. Non-empty
// `details` go in the box's expandable details section.
void ShowMessageBox(QWidget* parent, const QString& text, const QString& details);

}  // namespace vendrake::window
