#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "window/form1.h"

namespace {

constexpr char kHelp[] =
    "Usage: vendrake [Qt options]\n"
    "Opens the Vendrake window: scales the vertex heights of every terrain cliff\n"
    "model in a source folder into a destination folder, by a factor.\n"
    "\n"
    "Options:\n"
    "  -h, --help     Print this help and exit\n"
    "  -V, --version  Print the version and exit\n"
    "\n"
    "The window takes Qt's own options too, such as -platform NAME.\n"
    "vendrake-cli does the same work from a terminal or a script.\n";

// --help and --version are answered before Qt starts, as Qt aborts when it
// finds no display. Returns the exit status, or -1 when the window is to open.
int AnswerWithoutWindow(int argc, char** argv) {
  for (int k = 1; k < argc; ++k) {
    const char* arg = argv[k];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      return std::fputs(kHelp, stdout) < 0 || std::fflush(stdout) != 0 ? 1 : 0;
    }
    if (std::strcmp(arg, "--version") == 0 || std::strcmp(arg, "-V") == 0) {
      return std::puts("vendrake " VENDRAKE_VERSION) < 0 || std::fflush(stdout) != 0 ? 1 : 0;
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (const int status = AnswerWithoutWindow(argc, argv); status >= 0) return status;
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
