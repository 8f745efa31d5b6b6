#include "window_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <random>

#include "log_area.h"

namespace moxtest::testing {

BitstreamFolder::BitstreamFolder() : previous_(std::filesystem::current_path()) {
  std::random_device entropy;
  folder_ = std::filesystem::temp_directory_path() /
            ("moxtest-" + std::to_string(entropy()) + std::to_string(entropy()));
  std::filesystem::create_directories(folder_);
  std::filesystem::current_path(folder_);
  const std::string command = std::string(VELNOR_BITGEN_PATH) + " xc2s200 velnor.bit";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

BitstreamFolder::~BitstreamFolder() {
  std::filesystem::current_path(previous_);
  std::filesystem::remove_all(folder_);
}

void click(FormMain& window, const char* button) {
  QTest::mouseClick(window.findChild<QPushButton*>(QString::fromLatin1(button)), Qt::LeftButton);
}

void set_text(FormMain& window, const char* edit_box, const QString& text) {
  window.findChild<QLineEdit*>(QString::fromLatin1(edit_box))->setText(text);
}

QString text_of(FormMain& window, const char* control) {
  QWidget* widget = window.findChild<QWidget*>(QString::fromLatin1(control));
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
  if (auto* button = qobject_cast<QPushButton*>(widget)) return button->text();
  return QStringLiteral("<no text>");
}

bool is_enabled(FormMain& window, const char* control) {
  return window.findChild<QWidget*>(QString::fromLatin1(control))->isEnabled();
}

QStringList log_of(FormMain& window) {
  return window.findChild<LogArea*>(QStringLiteral("PictureLog"))->lines();
}

int run_until_exit(const std::function<void()>& action, QStringList* message_boxes) {
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [message_boxes] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      message_boxes->append(box->windowTitle() + QStringLiteral(": ") + box->text());
      box->accept();
    }
  });
  closer.start(10);
  QTimer::singleShot(0, action);
  return QApplication::exec();
}

}  // namespace moxtest::testing
