#include <QApplication>
#include <csignal>

#include "window/form1.h"

int main(int argc, char** argv) {
#ifdef SIGXFSZ
  // An output beyond the file-size limit (ulimit -f) is a failed file, not
  // the end of the program with the run half done.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  QApplication app(argc, argv);
  // Wayland compositors find the icon through the installed desktop entry.
  QApplication::setDesktopFileName(QStringLiteral("vendrake"));
  vendrake::window::Form1 form;
  form.show();
  return QApplication::exec();
}
