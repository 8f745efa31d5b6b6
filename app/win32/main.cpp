// moxtest: the bench-test window of the velnor library, native on Windows.
#include <windows.h>

#include "form_main.h"
#include "runtime_velnor.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int show) {
  moxtest::RuntimeVelnorLibrary library("velnor");
  moxtest::FormMain form(instance, library);
  ShowWindow(form.window(), show);
  UpdateWindow(form.window());
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    // Tab and the arrow keys move the focus between the controls.
    if (IsDialogMessageW(form.window(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
