// The test window's logic against a recording view and a scripted library:
// the enabling rules, the log lines, the order of marker, paint and call, and
// the run-time errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes.h"
#include "form_presenter.h"
#include "velnor.h"

namespace moxtest::testing {
namespace {

using Lines = std::vector<std::string>;

// The enabled state of CmdConfig, CmdShutdown, CmdSPI_XFER and CmdSPI_CLOSE.
struct Buttons {
  bool config, shutdown, transfer, close;
  bool operator==(const Buttons&) const = default;
};

void PrintTo(const Buttons& b, std::ostream* os) {
  *os << "{config " << b.config << ", shutdown " << b.shutdown << ", transfer " << b.transfer
      << ", close " << b.close << "}";
}

class Presenter : public ::testing::Test {
 protected:
  RecordingView view;
  ScriptedLibrary library{view.events};
  FormPresenter presenter{view, library};

  Buttons buttons() const {
    return {view.enabled(Button::Config), view.enabled(Button::Shutdown),
            view.enabled(Button::SpiTransfer), view.enabled(Button::SpiClose)};
  }
  void set_buttons(Buttons state) {
    view.set_enabled(Button::Config, state.config);
    view.set_enabled(Button::Shutdown, state.shutdown);
    view.set_enabled(Button::SpiTransfer, state.transfer);
    view.set_enabled(Button::SpiClose, state.close);
  }
};

TEST_F(Presenter, WindowOpensWithTheFourOperationButtonsDisabled) {
  EXPECT_EQ(buttons(), (Buttons{false, false, false, false}));
  EXPECT_TRUE(library.calls.empty());
  EXPECT_EQ(view.marker(Marker::Configuration), "");
  EXPECT_EQ(view.marker(Marker::Transfer), "");
}

TEST_F(Presenter, InitOpensUsbCableZeroAndEnablesConfigurationAndShutdownOnSuccess) {
  set_buttons({false, false, true, false});
  presenter.click_init();
  EXPECT_EQ(library.init_selector, 0x00010000u);
  EXPECT_EQ(view.lines, (Lines{"INIT : err = 0"}));
  EXPECT_EQ(buttons(), (Buttons{true, true, true, false}));
}

TEST_F(Presenter, InitWithoutCableLogsTheProbeErrorAndChangesNoButton) {
  library.result = VELNOR_ERR_PROBE;
  presenter.click_init();
  EXPECT_EQ(view.lines, (Lines{"INIT : err = 40000000", "  Probe error"}));
  EXPECT_EQ(buttons(), (Buttons{false, false, false, false}));
}

TEST_F(Presenter, ConfigurationEnablesTheTransferButtonsOnSuccessOnly) {
  set_buttons({true, true, false, false});
  library.result = VELNOR_ERR_CRC;
  presenter.click_config();
  EXPECT_EQ(buttons(), (Buttons{true, true, false, false}));
  library.result = VELNOR_OK;
  presenter.click_config();
  EXPECT_EQ(buttons(), (Buttons{true, true, true, true}));
  EXPECT_EQ(view.lines, (Lines{"CONFIG : err = 1", "  CRC error", "CONFIG : err = 0"}));
}

TEST_F(Presenter, ConfigurationPassesTheFileNameAsTypedWithACountOfZero) {
  view.file_name_text = "  no such dir/..bit";
  presenter.click_config();
  EXPECT_EQ(library.config_source, "  no such dir/..bit");
  EXPECT_EQ(library.config_count, 0);
}

TEST_F(Presenter, ShutdownDisablesTheTransferButtonsWhateverItsResult) {
  for (const std::uint32_t result : {VELNOR_OK, VELNOR_ERR_SHUTDOWN_A, VELNOR_ERR_PROBE}) {
    set_buttons({true, true, true, true});
    library.result = result;
    presenter.click_shutdown();
    EXPECT_EQ(buttons(), (Buttons{true, true, false, false})) << result;
  }
  EXPECT_EQ(view.lines, (Lines{"Shutdown : err = 0", "Shutdown : err = 4", "  Can't shutdown",
                               "Shutdown : err = 40000000", "  Probe error"}));
}

TEST_F(Presenter, TransferAndCloseChangeNoButton) {
  for (const Buttons state : {Buttons{true, true, true, true}, Buttons{false, true, false, true}}) {
    for (const std::uint32_t result : {VELNOR_OK, VELNOR_ERR_JTAG}) {
      set_buttons(state);
      library.result = result;
      presenter.click_spi_transfer();
      presenter.click_spi_close();
      EXPECT_EQ(buttons(), state);
    }
  }
}

TEST_F(Presenter, FailedCallsChangeNoButton) {
  set_buttons({false, true, false, true});
  library.result = VELNOR_ERR_FILE | VELNOR_ERR_CRC;
  presenter.click_init();
  presenter.click_config();
  EXPECT_EQ(buttons(), (Buttons{false, true, false, true}));
}

TEST_F(Presenter, TransferSendsByteZeroOfFreshBuffersOnChannelOne) {
  library.receive_byte = 0xA5;
  presenter.click_spi_transfer();
  library.receive_byte = 0x01;
  view.transmit = "255";
  presenter.click_spi_transfer();
  ASSERT_EQ(library.transfers.size(), 2u);
  for (const auto& transfer : library.transfers) {
    EXPECT_EQ(transfer.channel, 1);
    EXPECT_EQ(transfer.count, 1);
    EXPECT_TRUE(transfer.rest_zero);
  }
  EXPECT_EQ(library.transfers[0].transmit0, 0x01);
  EXPECT_EQ(library.transfers[1].transmit0, 0xFF);
  EXPECT_EQ(view.lines,
            (Lines{"SPI XFER TXD=1 RXD=A5: err = 0", "SPI XFER TXD=FF RXD=1: err = 0"}));
}

TEST_F(Presenter, TransferLogsReceiveByteZeroEvenWhenTheLibraryWroteNothing) {
  library.result = VELNOR_ERR_PROBE;
  library.writes_receive_byte = false;
  view.transmit = "abc";
  presenter.click_spi_transfer();
  EXPECT_EQ(view.lines, (Lines{"SPI XFER TXD=0 RXD=0: err = 40000000", "  Probe error"}));
}

TEST_F(Presenter, TransmitTextIsRoundedToTheNearestByte) {
  view.transmit = "2.6";
  presenter.click_spi_transfer();
  ASSERT_EQ(library.transfers.size(), 1u);
  EXPECT_EQ(library.transfers[0].transmit0, 3);
  EXPECT_EQ(view.lines[0].rfind("SPI XFER TXD=3 RXD=", 0), 0u);
}

TEST_F(Presenter, TransmitOverflowIsARunTimeErrorBeforeAnyCall) {
  view.transmit = "256";
  presenter.click_spi_transfer();
  EXPECT_TRUE(library.calls.empty());
  EXPECT_TRUE(view.lines.empty());
  EXPECT_TRUE(view.events.empty());
  EXPECT_EQ(view.runtime_errors,
            (std::vector<std::string>{
                "Run-time error: overflow: the transmit value \"256\" is not within 0 to 255"}));
}

TEST_F(Presenter, CloseCallsChannelZeroWithNullPointers) {
  library.result = VELNOR_ERR_PROBE;
  presenter.click_spi_close();
  ASSERT_EQ(library.transfers.size(), 1u);
  EXPECT_EQ(library.transfers[0].channel, 0);
  EXPECT_TRUE(library.transfers[0].buffers_null);
  EXPECT_EQ(view.lines, (Lines{"SPI close : err = 40000000", "  Probe error"}));
}

TEST_F(Presenter, MarkersArePaintedBeforeTheBlockingCallAndFinishAfterIt) {
  presenter.click_config();
  presenter.click_spi_transfer();
  EXPECT_EQ(view.events, (Lines{"marker 開始", "paint", "call config", "marker 終了", "marker 開始",
                                "paint", "call spi_xfer", "marker 終了"}));
  EXPECT_EQ(view.marker(Marker::Configuration), "終了");
  EXPECT_EQ(view.marker(Marker::Transfer), "終了");
}

TEST_F(Presenter, MissingFunctionIsARunTimeErrorWithNoLogLine) {
  library.missing = "the library velnor has no function velnor_shutdown";
  set_buttons({true, true, true, true});
  presenter.click_shutdown();
  presenter.click_init();
  EXPECT_TRUE(view.lines.empty());
  EXPECT_EQ(buttons(), (Buttons{true, true, true, true}));
  EXPECT_EQ(view.runtime_errors,
            (std::vector<std::string>(
                2, "Run-time error: the library velnor has no function velnor_shutdown")));
}

TEST_F(Presenter, EndingCallsNoLibraryFunction) {
  presenter.click_end();
  EXPECT_EQ(view.end_requests, 1);
  EXPECT_TRUE(library.calls.empty());
}

TEST_F(Presenter, ResultLinesOfTheEdgeCases) {
  library.result = 0x00800002u;  // two bits: no explanation
  presenter.click_init();
  library.result = VELNOR_ERR_FORMAT;
  presenter.click_config();
  library.result = VELNOR_BUSY;  // a bit the decoder does not name
  presenter.click_spi_close();
  EXPECT_EQ(view.lines, (Lines{"INIT : err = 800002", "CONFIG : err = 8000", "  format error",
                               "SPI close : err = 8000000"}));
}

}  // namespace
}  // namespace moxtest::testing
