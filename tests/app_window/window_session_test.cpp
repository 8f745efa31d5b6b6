// The window driving the bench library: sessions in the ordinary order and in
// odd ones, read back from the log. The library is the built libvelnor.so,
// found by name; each test gets a fresh virtual board and a fresh load.
//
// The window opens USB cable 0, as the program ships.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QTest>
#include <memory>

#include "bench/board.h"
#include "runtime_velnor.h"
#include "window_support.h"

namespace moxtest::testing {
namespace {

// The loopback design answers 0xA5 to the first byte of every transfer on
// channel 1 (each transfer starts a frame of its own).
constexpr const char* kSessionBoard = "design=loopback";
// A board on which no cable of the kind INIT asks for can be found.
constexpr const char* kBoardWithoutCable = "lpt=;usb=";

class WindowSession : public ::testing::Test {
 protected:
  void SetUp() override {
    velnor::bench::install_board(velnor::bench::make_board(kSessionBoard));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  }

  // Clicks INIT, which opens USB cable 0.
  void init() {
    click(window, "CmdINIT");
    ASSERT_EQ(log_of(window), QStringList{"INIT : err = 0"});
  }

  void expect_buttons(bool config, bool shutdown, bool transfer, bool close) {
    EXPECT_EQ(is_enabled(window, "CmdConfig"), config);
    EXPECT_EQ(is_enabled(window, "CmdShutdown"), shutdown);
    EXPECT_EQ(is_enabled(window, "CmdSPI_XFER"), transfer);
    EXPECT_EQ(is_enabled(window, "CmdSPI_CLOSE"), close);
  }

  BitstreamFolder folder;
  RuntimeVelnorLibrary library{"velnor"};
  FormMain window{library};
};

TEST_F(WindowSession, OrdinaryOrder) {
  init();
  expect_buttons(true, true, false, false);
  click(window, "CmdConfig");
  EXPECT_EQ(text_of(window, "LabelCFRemain"), QStringLiteral("終了"));
  expect_buttons(true, true, true, true);
  click(window, "CmdSPI_XFER");
  EXPECT_EQ(text_of(window, "LabelSPIRemain"), QStringLiteral("終了"));
  set_text(window, "TextSPI_TXD", QStringLiteral("255"));
  click(window, "CmdSPI_XFER");
  set_text(window, "TextSPI_TXD", QStringLiteral("2.6"));
  click(window, "CmdSPI_XFER");
  click(window, "CmdSPI_CLOSE");
  expect_buttons(true, true, true, true);
  click(window, "CmdShutdown");
  expect_buttons(true, true, false, false);
  click(window, "CmdConfig");
  expect_buttons(true, true, true, true);
  EXPECT_EQ(log_of(window), (QStringList{
                                "INIT : err = 0",
                                "CONFIG : err = 0",
                                "SPI XFER TXD=1 RXD=A5: err = 0",
                                "SPI XFER TXD=FF RXD=A5: err = 0",
                                "SPI XFER TXD=3 RXD=A5: err = 0",
                                "SPI close : err = 0",
                                "Shutdown : err = 0",
                                "CONFIG : err = 0",
                            }));
}

TEST_F(WindowSession, TransferAfterCloseOpensTheChannelAgain) {
  init();
  click(window, "CmdConfig");
  click(window, "CmdSPI_CLOSE");
  click(window, "CmdSPI_XFER");
  click(window, "CmdSPI_CLOSE");
  click(window, "CmdSPI_CLOSE");
  EXPECT_EQ(log_of(window), (QStringList{
                                "INIT : err = 0",
                                "CONFIG : err = 0",
                                "SPI close : err = 0",
                                "SPI XFER TXD=1 RXD=A5: err = 0",
                                "SPI close : err = 0",
                                "SPI close : err = 0",
                            }));
  expect_buttons(true, true, true, true);
}

TEST_F(WindowSession, ShutdownBeforeAnyConfiguration) {
  init();
  click(window, "CmdShutdown");
  click(window, "CmdShutdown");
  EXPECT_EQ(log_of(window),
            (QStringList{"INIT : err = 0", "Shutdown : err = 0", "Shutdown : err = 0"}));
  expect_buttons(true, true, false, false);
}

TEST_F(WindowSession, InitAgainInTheMiddleOfASession) {
  init();
  click(window, "CmdConfig");
  click(window, "CmdINIT");
  click(window, "CmdSPI_XFER");
  click(window, "CmdConfig");
  click(window, "CmdSPI_XFER");
  EXPECT_EQ(log_of(window), (QStringList{
                                "INIT : err = 0",
                                "CONFIG : err = 0",
                                "INIT : err = 0",
                                "SPI XFER TXD=1 RXD=A5: err = 0",
                                "CONFIG : err = 0",
                                "SPI XFER TXD=1 RXD=A5: err = 0",
                            }));
}

TEST_F(WindowSession, ConfigurationFromAMissingFileLeavesTransfersDisabled) {
  init();
  set_text(window, "TextFilename", QStringLiteral("missing.bit"));
  click(window, "CmdConfig");
  EXPECT_EQ(text_of(window, "LabelCFRemain"), QStringLiteral("終了"));
  EXPECT_EQ(log_of(window), (QStringList{"INIT : err = 0", "CONFIG : err = 10000000",
                                         "  Configration file error"}));
  expect_buttons(true, true, false, false);
}

TEST_F(WindowSession, DisabledButtonsIgnoreClicks) {
  click(window, "CmdConfig");
  click(window, "CmdShutdown");
  click(window, "CmdSPI_XFER");
  click(window, "CmdSPI_CLOSE");
  EXPECT_TRUE(log_of(window).isEmpty());
  init();
  click(window, "CmdConfig");
  click(window, "CmdShutdown");
  click(window, "CmdSPI_XFER");
  click(window, "CmdSPI_CLOSE");
  EXPECT_EQ(log_of(window),
            (QStringList{"INIT : err = 0", "CONFIG : err = 0", "Shutdown : err = 0"}));
}

TEST_F(WindowSession, TransmitOverflowEndsTheProgramWithoutATransfer) {
  init();
  click(window, "CmdConfig");
  set_text(window, "TextSPI_TXD", QStringLiteral("256"));
  QStringList boxes;
  EXPECT_EQ(run_until_exit([this] { click(window, "CmdSPI_XFER"); }, &boxes), 1);
  EXPECT_EQ(boxes, (QStringList{"moxtest: Run-time error: overflow: the transmit value \"256\" is "
                                "not within 0 to 255"}));
  EXPECT_EQ(log_of(window), (QStringList{"INIT : err = 0", "CONFIG : err = 0"}));
  EXPECT_EQ(text_of(window, "LabelSPIRemain"), QString());
}

TEST(WindowWithoutCable, InitLogsTheProbeErrorAndEnablesNothing) {
  velnor::bench::install_board(velnor::bench::make_board(kBoardWithoutCable));
  RuntimeVelnorLibrary library("velnor");
  FormMain window(library);
  click(window, "CmdINIT");
  EXPECT_EQ(log_of(window), (QStringList{"INIT : err = 40000000", "  Probe error"}));
  EXPECT_FALSE(is_enabled(window, "CmdConfig"));
  EXPECT_FALSE(is_enabled(window, "CmdShutdown"));
  click(window, "CmdINIT");
  EXPECT_EQ(log_of(window).size(), 4);
}

// Records the text the last paint of a label showed.
class PaintRecorder final : public QObject {
 public:
  explicit PaintRecorder(QLabel* label) : label_(label) { label->installEventFilter(this); }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == label_ && event->type() == QEvent::Paint) last_painted = label_->text();
    return false;
  }
  QString last_painted = QStringLiteral("(not painted)");

 private:
  QLabel* label_;
};

TEST(WindowMarkers, ArePaintedBeforeTheBlockingCall) {
  velnor::bench::install_board(velnor::bench::make_board(kSessionBoard));
  BitstreamFolder folder;
  RuntimeVelnorLibrary library("velnor");
  // At each blocking call: what the configuration marker and the transfer
  // marker showed when last painted.
  QStringList configuration_at_call, transfer_at_call;
  std::unique_ptr<PaintRecorder> configuration, transfer;
  CallWatcher watcher(library, [&] {
    configuration_at_call.append(configuration->last_painted);
    transfer_at_call.append(transfer->last_painted);
  });
  FormMain window(watcher);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  configuration = std::make_unique<PaintRecorder>(window.findChild<QLabel*>("LabelCFRemain"));
  transfer = std::make_unique<PaintRecorder>(window.findChild<QLabel*>("LabelSPIRemain"));
  click(window, "CmdINIT");
  click(window, "CmdConfig");
  click(window, "CmdSPI_XFER");
  ASSERT_EQ(configuration_at_call.size(), 2);
  EXPECT_EQ(configuration_at_call[0], QStringLiteral("開始"));  // the configuration call
  EXPECT_EQ(transfer_at_call[1], QStringLiteral("開始"));       // the transfer call
}

TEST(WindowRuntimeErrors, MissingLibraryIsReportedAndEndsTheProgram) {
  RuntimeVelnorLibrary library("velnor_absent");
  FormMain window(library);
  QStringList boxes;
  EXPECT_EQ(run_until_exit([&] { click(window, "CmdINIT"); }, &boxes), 1);
  EXPECT_EQ(boxes, (QStringList{"moxtest: Run-time error: the library velnor_absent cannot be "
                                "loaded: libvelnor_absent.so: cannot open shared object file: No "
                                "such file or directory"}));
  EXPECT_TRUE(log_of(window).isEmpty());
}

TEST(WindowRuntimeErrors, MissingFunctionIsReportedAtItsFirstCall) {
  RuntimeVelnorLibrary library("velnor_init_only");
  FormMain window(library);
  click(window, "CmdINIT");
  EXPECT_EQ(log_of(window), (QStringList{"INIT : err = 0"}));
  QStringList boxes;
  EXPECT_EQ(run_until_exit([&] { click(window, "CmdConfig"); }, &boxes), 1);
  EXPECT_EQ(boxes, (QStringList{"moxtest: Run-time error: the library velnor_init_only has no "
                                "function velnor_config"}));
  EXPECT_EQ(log_of(window), (QStringList{"INIT : err = 0"}));
}

TEST(WindowEnd, EndsTheProgramWithoutCallingTheLibrary) {
  // Any call into a library that cannot be loaded would end in a run-time
  // error instead.
  RuntimeVelnorLibrary library("velnor_absent");
  FormMain window(library);
  QStringList boxes;
  EXPECT_EQ(run_until_exit([&] { click(window, "CmdEnd"); }, &boxes), 0);
  EXPECT_TRUE(boxes.isEmpty());
}

}  // namespace
}  // namespace moxtest::testing
