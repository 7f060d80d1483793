#include "window/message_box.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QString>

#include "command/messages.h"

namespace vendrake::window {

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const QString& text,
                                            const QString& details) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon,
                                           QString::fromUtf16(command::kApplicationTitle), text,
                                           QMessageBox::Ok, parent);
  if (!details.isEmpty()) {
    box->setDetailedText(details);
    // The box sizes itself to its short text, so a line of the details
    // would wrap at every few words; a spacer across its grid widens it.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
      const int width = box->fontMetrics().averageCharWidth() * 72;
      grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                    grid->rowCount(), 0, 1, grid->columnCount());
    }
  }
  return box;
}

void ShowMessageBox(QWidget* parent, const QString& text, const QString& details) {
  MakeMessageBox(parent, text, details)->exec();
}

}  // namespace vendrake::window
