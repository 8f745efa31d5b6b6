// moxtest: the bench-test window of the velnor library.
#include <QApplication>

#include "form_main.h"
#include "runtime_velnor.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  moxtest::RuntimeVelnorLibrary library("velnor");
  moxtest::FormMain window(library);
  window.show();
  return QApplication::exec();
}
