// Stays a user of Wine's desktop for as long as a Windows test run lasts.
//
// Wine closes its desktop, and ends the explorer.exe that draws it, about a
// second after the last program using it has gone; the console-only tests
// leave it unused for minutes. The next program to open a window then starts
// a new explorer.exe, and that one inherits the test's output streams and
// keeps them open until it ends in turn. ctest waits for the streams to
// close, so every window test took 20 to 30 s, and a window test could see
// the desktop, and with it the active window, come and go under it. The
// wine_prefix fixture starts this program once the prefix is made, and
// `wineserver -k` ends it with the run.
#include <windows.h>

int main() {
  // The first call into user32 makes this thread a user of the desktop.
  if (GetDesktopWindow() == nullptr) return 1;
  Sleep(INFINITE);
}
