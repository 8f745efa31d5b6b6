// The window driving the bench library: sessions in the ordinary order and in
// odd ones, read back from the log. The library is the built libvelnor.so,
// found by name; each test gets a fresh virtual board and a fresh load.
//
// The window opens USB cable 0. Sessions run twice: through that cable, as
// the program ships, and through the parallel cable standing in for it. The
// USB runs report a skip, with the reason, for as long as the library cannot
// open the USB cable on the bench.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QTest>
#include <memory>

#include "bench/board.h"
#include "runtime_velnor.h"
#include "velnor.h"
#include "window_support.h"

namespace moxtest::testing {
namespace {

// The loopback design answers 0xA5 to the first byte of every transfer on
// channel 1 (each transfer starts a frame of its own).
constexpr const char* kSessionBoard = "design=loopback";
// A board on which no cable of the kind INIT asks for can be found.
constexpr const char* kBoardWithoutCable = "lpt=;usb=";

enum class Cable { Usb, ParallelStandIn };

std::string cable_name(const ::testing::TestParamInfo<Cable>& info) {
  return info.param == Cable::Usb ? "UsbCable" : "ParallelCableStandIn";
}
void PrintTo(Cable cable, std::ostream* out) {
  *out << (cable == Cable::Usb ? "USB cable 0" : "parallel cable for USB cable 0");
}

class WindowSession : public ::testing::TestWithParam<Cable> {
 protected:
  void SetUp() override {
    velnor::bench::install_board(velnor::bench::make_board(kSessionBoard));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  }

  VelnorLibrary& cable_library() {
    if (GetParam() == Cable::Usb) return loaded;
    return stand_in;
  }

  // Clicks INIT; true when the cable opened. A USB run on a build whose USB
  // cable cannot be opened is skipped by the caller with the reason.
  bool init_opens_cable() {
    click(window, "CmdINIT");
    return log_of(window).back() == QStringLiteral("INIT : err = 0");
  }
  std::string usb_missing() const {
    return "this session needs USB cable 0 on the bench, and velnor_init(0x10000) returned: " +
           log_of(const_cast<FormMain&>(window)).join(QStringLiteral(" / ")).toStdString();
  }

  void expect_buttons(bool config, bool shutdown, bool transfer, bool close) {
    EXPECT_EQ(is_enabled(window, "CmdConfig"), config);
    EXPECT_EQ(is_enabled(window, "CmdShutdown"), shutdown);
    EXPECT_EQ(is_enabled(window, "CmdSPI_XFER"), transfer);
    EXPECT_EQ(is_enabled(window, "CmdSPI_CLOSE"), close);
  }

  BitstreamFolder folder;
  RuntimeVelnorLibrary loaded{"velnor"};
  ParallelCableStandIn stand_in{loaded};
  FormMain window{cable_library()};
};

#define INIT_OR_SKIP()                                    \
  do {                                                    \
    if (!init_opens_cable()) {                            \
      ASSERT_EQ(GetParam(), Cable::Usb) << usb_missing(); \
      GTEST_SKIP() << usb_missing();                      \
    }                                                     \
  } while (false)

TEST_P(WindowSession, OrdinaryOrder) {
  INIT_OR_SKIP();
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

TEST_P(WindowSession, TransferAfterCloseOpensTheChannelAgain) {
  INIT_OR_SKIP();
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

TEST_P(WindowSession, ShutdownBeforeAnyConfiguration) {
  INIT_OR_SKIP();
  click(window, "CmdShutdown");
  click(window, "CmdShutdown");
  EXPECT_EQ(log_of(window),
            (QStringList{"INIT : err = 0", "Shutdown : err = 0", "Shutdown : err = 0"}));
  expect_buttons(true, true, false, false);
}

TEST_P(WindowSession, InitAgainInTheMiddleOfASession) {
  INIT_OR_SKIP();
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

TEST_P(WindowSession, ConfigurationFromAMissingFileLeavesTransfersDisabled) {
  INIT_OR_SKIP();
  set_text(window, "TextFilename", QStringLiteral("missing.bit"));
  click(window, "CmdConfig");
  EXPECT_EQ(text_of(window, "LabelCFRemain"), QStringLiteral("終了"));
  EXPECT_EQ(log_of(window), (QStringList{"INIT : err = 0", "CONFIG : err = 10000000",
                                         "  Configration file error"}));
  expect_buttons(true, true, false, false);
}

TEST_P(WindowSession, DisabledButtonsIgnoreClicks) {
  click(window, "CmdConfig");
  click(window, "CmdShutdown");
  click(window, "CmdSPI_XFER");
  click(window, "CmdSPI_CLOSE");
  EXPECT_TRUE(log_of(window).isEmpty());
  INIT_OR_SKIP();
  click(window, "CmdConfig");
  click(window, "CmdShutdown");
  click(window, "CmdSPI_XFER");
  click(window, "CmdSPI_CLOSE");
  EXPECT_EQ(log_of(window),
            (QStringList{"INIT : err = 0", "CONFIG : err = 0", "Shutdown : err = 0"}));
}

TEST_P(WindowSession, TransmitOverflowEndsTheProgramWithoutATransfer) {
  INIT_OR_SKIP();
  click(window, "CmdConfig");
  set_text(window, "TextSPI_TXD", QStringLiteral("256"));
  QStringList boxes;
  EXPECT_EQ(run_until_exit([this] { click(window, "CmdSPI_XFER"); }, &boxes), 1);
  EXPECT_EQ(boxes, (QStringList{"moxtest: Run-time error: overflow: the transmit value \"256\" is "
                                "not within 0 to 255"}));
  EXPECT_EQ(log_of(window), (QStringList{"INIT : err = 0", "CONFIG : err = 0"}));
  EXPECT_EQ(text_of(window, "LabelSPIRemain"), QString());
}

INSTANTIATE_TEST_SUITE_P(Cables, WindowSession,
                         ::testing::Values(Cable::Usb, Cable::ParallelStandIn), cable_name);

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
  RuntimeVelnorLibrary loaded("velnor");
  ParallelCableStandIn stand_in(loaded);
  // At each blocking call: what the configuration marker and the transfer
  // marker showed when last painted.
  QStringList configuration_at_call, transfer_at_call;
  std::unique_ptr<PaintRecorder> configuration, transfer;
  CallWatcher watcher(stand_in, [&] {
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
