#pragma once

class QString;
class QWidget;

namespace vendrake::window {

// Shows `text` in a modal box titled "Vendrake" with one OK button and no
// icon, over `parent`, and returns once the user has closed it.
void ShowMessageBox(QWidget* parent, const QString& text);

}  // namespace vendrake::window
