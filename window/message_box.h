#pragma once

#include <memory>

class QMessageBox;
class QString;
class QWidget;

namespace vendrake::window {

// The box ShowMessageBox shows, not yet shown.
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const QString& text,
                                            const QString& details);

// Shows `text` in a modal box titled "Vendrake" with one OK button and no
// icon, over `parent`, and returns once the user has closed it. Non-empty
// `details` go in the box's expandable details section.
void ShowMessageBox(QWidget* parent, const QString& text, const QString& details);

}  // namespace vendrake::window
