// The window as it opens: title, size, every control's kind, name, text,
// place and enabled state, the tab order, and the log area's scrolling.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "log_area.h"
#include "runtime_velnor.h"
#include "window_support.h"

namespace moxtest::testing {
namespace {

class WindowLayout : public ::testing::Test {
 protected:
  RuntimeVelnorLibrary library{"velnor"};
  FormMain window{library};
};

TEST_F(WindowLayout, TitleAndFixedClientArea) {
  EXPECT_EQ(window.windowTitle(), QStringLiteral("VELNOR SPI TEST"));
  EXPECT_EQ(window.size(), QSize(468, 394));
  EXPECT_EQ(window.minimumSize(), QSize(468, 394));
  EXPECT_EQ(window.maximumSize(), QSize(468, 394));
}

TEST_F(WindowLayout, ControlsInTabOrderWithKindTextPlaceAndEnabledState) {
  struct Row {
    const char* name;
    const char* kind;
    QString text;
    QRect place;
    bool enabled;
  };
  const Row rows[] = {
      {"CmdINIT", "QPushButton", QStringLiteral("ドライバ初期化"), {320, 16, 89, 33}, true},
      {"PictureLog", "LogArea", QString(), {8, 8, 233, 329}, true},
      {"CmdConfig",
       "QPushButton",
       QStringLiteral("コンフィグレーション"),
       {320, 104, 89, 33},
       false},
      {"CmdSPI_XFER", "QPushButton", QStringLiteral("SPI送受信"), {320, 152, 89, 33}, false},
      {"CmdSPI_CLOSE", "QPushButton", QStringLiteral("SPIクローズ"), {320, 200, 89, 33}, false},
      {"CmdShutdown", "QPushButton", QStringLiteral("FPGA停止"), {320, 256, 89, 33}, false},
      {"LabelCFRemain", "QLabel", QString(), {424, 112, 33, 25}, true},
      {"LabelSPIRemain", "QLabel", QString(), {424, 160, 33, 25}, true},
      {"TextSPI_TXD", "QLineEdit", QStringLiteral("1"), {264, 160, 49, 25}, true},
      {"TextFilename", "QLineEdit", QStringLiteral("velnor.bit"), {128, 360, 209, 18}, true},
      {"Label1", "QLabel", QStringLiteral("ConfigFilePath"), {16, 360, 89, 25}, true},
      {"CmdEnd", "QPushButton", QStringLiteral("終了"), {320, 312, 89, 33}, true},
      {"Label2", "QLabel", QStringLiteral("送信コード"), {248, 136, 57, 17}, true},
  };
  const QList<QWidget*> children = window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  ASSERT_EQ(children.size(), std::size(rows));
  for (std::size_t index = 0; index < std::size(rows); ++index) {
    const Row& row = rows[index];
    QWidget* control = children[static_cast<qsizetype>(index)];
    SCOPED_TRACE(row.name);
    EXPECT_EQ(control->objectName(), QString::fromLatin1(row.name));
    if (std::string_view(row.kind) == "LogArea") {
      EXPECT_NE(dynamic_cast<LogArea*>(control), nullptr);
    } else {
      EXPECT_STREQ(control->metaObject()->className(), row.kind);
      EXPECT_EQ(text_of(window, row.name), row.text);
    }
    EXPECT_EQ(control->geometry(), row.place);
    EXPECT_EQ(control->isEnabled(), row.enabled);
    EXPECT_FALSE(control->isHidden());
  }
  EXPECT_TRUE(log_of(window).isEmpty());
}

TEST_F(WindowLayout, FocusChainFollowsTheTabOrder) {
  const QStringList expected = {"CmdINIT",     "PictureLog",   "CmdConfig",
                                "CmdSPI_XFER", "CmdSPI_CLOSE", "CmdShutdown",
                                "TextSPI_TXD", "TextFilename", "CmdEnd"};
  QStringList chain;
  QWidget* start = window.findChild<QWidget*>(QStringLiteral("CmdINIT"));
  QWidget* widget = start;
  do {
    if (widget->parentWidget() == &window && (widget->focusPolicy() & Qt::TabFocus))
      chain.append(widget->objectName());
    widget = widget->nextInFocusChain();
  } while (widget != start && chain.size() <= expected.size());
  EXPECT_EQ(chain, expected);
}

TEST_F(WindowLayout, TabKeySkipsTheDisabledButtons) {
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  window.findChild<QWidget*>(QStringLiteral("CmdINIT"))->setFocus();
  QStringList visited;
  for (int press = 0; press < 5; ++press) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited.append(QApplication::focusWidget()->objectName());
  }
  EXPECT_EQ(visited,
            (QStringList{"PictureLog", "TextSPI_TXD", "TextFilename", "CmdEnd", "CmdINIT"}));
}

QImage rendered(const LogArea& area) {
  QImage image(area.size(), QImage::Format_ARGB32);
  const_cast<LogArea&>(area).render(&image);
  return image;
}

TEST(LogAreaScrolling, KeepsEveryLineAndShowsTheNewestOnceFull) {
  LogArea full(nullptr);
  full.resize(233, 329);
  const int fit = full.visible_line_count();
  ASSERT_GE(fit, 10);  // 329 pixels hold at least ten lines of the default font
  LogArea newest(nullptr);
  newest.resize(233, 329);
  for (int line = 0; line < fit + 3; ++line) {
    const QString text = QStringLiteral("INIT : err = %1").arg(line);
    full.print(text);
    if (line >= 3) newest.print(text);
  }
  EXPECT_EQ(full.lines().size(), fit + 3);
  EXPECT_EQ(full.lines().front(), QStringLiteral("INIT : err = 0"));
  EXPECT_EQ(rendered(full), rendered(newest));

  LogArea oldest(nullptr);
  oldest.resize(233, 329);
  for (int line = 0; line < fit; ++line) oldest.print(QStringLiteral("INIT : err = %1").arg(line));
  EXPECT_NE(rendered(full), rendered(oldest));
}

}  // namespace
}  // namespace moxtest::testing
