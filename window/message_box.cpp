#include "window/message_box.h"

#include <QMessageBox>
#include <QString>

#include "command/messages.h"

namespace vendrake::window {

void ShowMessageBox(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf16(command::kApplicationTitle), text,
                  QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace vendrake::window
