#include <QApplication>

#include "window/form1.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Wayland compositors find the icon through the installed desktop entry.
  QApplication::setDesktopFileName(QStringLiteral("vendrake"));
  vendrake::window::Form1 form;
  form.show();
  return QApplication::exec();
}
