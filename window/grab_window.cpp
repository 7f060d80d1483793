// Writes a picture of the main window as it first appears, drawn by the real
// widget: vendrake-grab-window <file.png>. Runs without a display when
// QT_QPA_PLATFORM=offscreen; QT_SCALE_FACTOR=2 draws it as on a screen of
// twice the usual density.
#include <QApplication>
#include <QPixmap>
#include <cstdio>

#include "window/form1.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <file.png>\n", argv[0]);
    return 2;
  }
  vendrake::window::Form1 form;
  form.show();
  QApplication::processEvents();
  if (!form.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
