#include <windows.h>

#include "window/win32/win32_form1.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int show_command) {
  vendrake::window::Win32Form1 form(instance);
  form.Show(show_command);
  return form.RunMessageLoop();
}
