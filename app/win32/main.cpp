// moxtest: the bench-test window of the velnor library, native on Windows.
#include <windows.h>

#include "form_main.h"
#include "runtime_velnor.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/, int show) {
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
  // The program ends with the library still loaded, as on a click on the end
  // button: the library goes away with the process. A FreeLibrary here would
  // close an open USB cable inside the loader's lock, where its reader
  // thread cannot end.
  ExitProcess(static_cast<UINT>(message.wParam));
}
