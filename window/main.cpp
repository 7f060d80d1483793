#include <QApplication>

#include "window/form1.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  vendrake::window::Form1 form;
  form.show();
  return QApplication::exec();
}
