#include "window/message_box.h"

#include <QMessageBox>
#include <QString>

#include "command/messages.h"

namespace vendrake::window {

void ShowMessageBox(QWidget* parent, const QString& text, const QString& details) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf16(command::kApplicationTitle), text,
                  QMessageBox::Ok, parent);
  if (!details.isEmpty()) box.setDetailedText(details);
  box.exec();
}

}  // namespace vendrake::window
