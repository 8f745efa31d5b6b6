// A picture of the window after a whole session on the virtual bench, taken
// from the X server (Xvfb) so that a person can look at what a user sees:
// the Japanese captions, the log and the markers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <cstdio>

#include "bench/board.h"
#include "runtime_velnor.h"
#include "window_support.h"

namespace moxtest::testing {
namespace {

class Screenshot : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"))
        << "the screenshot is taken from an X server: run under xvfb-run";
    ASSERT_FALSE(QFontDatabase::families(QFontDatabase::Japanese).isEmpty())
        << "no font with Japanese glyphs (Debian: fonts-noto-cjk)";
    velnor::bench::install_board(velnor::bench::make_board("design=loopback"));
  }

  BitstreamFolder folder;

  // INIT, configuration, two transfers, close, shutdown; then the picture.
  void run_session_and_save(FormMain& window, const char* file) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    click(window, "CmdINIT");
    click(window, "CmdConfig");
    click(window, "CmdSPI_XFER");
    set_text(window, "TextSPI_TXD", QStringLiteral("255"));
    click(window, "CmdSPI_XFER");
    click(window, "CmdSPI_CLOSE");
    click(window, "CmdShutdown");
    ASSERT_EQ(log_of(window),
              (QStringList{"INIT : err = 0", "CONFIG : err = 0", "SPI XFER TXD=1 RXD=A5: err = 0",
                           "SPI XFER TXD=FF RXD=A5: err = 0", "SPI close : err = 0",
                           "Shutdown : err = 0"}));
    // Let the X server catch up with the last paints.
    QTest::qWait(200);
    const QImage shot = window.screen()->grabWindow(window.winId()).toImage();
    const QString path = QStringLiteral(MOXTEST_SCREENSHOT_DIR "/") + QString::fromLatin1(file);
    ASSERT_TRUE(shot.save(path)) << path.toStdString();
    std::printf("screenshot: %s\n", path.toLocal8Bit().constData());

    const QImage saved(path);
    EXPECT_EQ(saved.size(), QSize(468, 394));
    // What the server shows is what the window draws.
    EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32),
              window.grab().toImage().convertToFormat(QImage::Format_RGB32));
  }
};

TEST_F(Screenshot, AfterASessionThroughUsbCable) {
  RuntimeVelnorLibrary loaded("velnor");
  FormMain window(loaded);
  run_session_and_save(window, "moxtest-screenshot.png");
}

}  // namespace
}  // namespace moxtest::testing

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
