// The board's EZ-USB cables as Linux USB devices (velnor-usb-run): real,
// unmodified libusb programs against the emulated chip. OpenOCD's ulink
// driver is the independent oracle: it downloads its own OpenULINK
// firmware into a bare chip wired as the ULINK pod, the chip renumerates,
// and OpenOCD must find the IDCODEs velnorctl finds. A program that is not
// installed is skipped.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "peers/peer_run.h"

namespace {

using velnor::testing::installed;
using velnor::testing::ProgramRun;
using velnor::testing::run_shell;
using velnor::testing::TempDir;
using velnor::testing::write_text;

// A program under the harness on a board; the harness's own leak report
// (GLib's type system keeps its allocations) is not the program's result.
ProgramRun under_harness(const std::string& board, const std::string& command) {
  return run_shell("env -u VELNOR_BENCH ASAN_OPTIONS=detect_leaks=0 VELNOR_USB_BENCH='" + board +
                   "' timeout 120 " VELNOR_USB_RUN " " + command);
}

std::vector<unsigned> idcodes(const std::string& text, const std::string& pattern) {
  std::vector<unsigned> found;
  const std::regex expression(pattern);
  for (auto match = std::sregex_iterator(text.begin(), text.end(), expression);
       match != std::sregex_iterator(); ++match) {
    found.push_back(static_cast<unsigned>(std::stoul((*match)[1].str(), nullptr, 16)));
  }
  return found;
}

class OpenUlink : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!installed("openocd")) GTEST_SKIP() << "OpenOCD is not installed";
    write_text(config, "adapter driver ulink\ntransport select jtag\nadapter speed 1000\n");
  }
  std::string openocd(const std::string& commands) {
    return "openocd -f " + config + " -c init " + commands + " -c shutdown";
  }
  TempDir folder;
  const std::string config = folder.path("ulink.cfg");
};

// OpenOCD 0.12 releases an interface it never claimed right after the
// download, so its first run ends with "Could not download firmware and
// re-numerate ULINK" even though the firmware is in and renumerates (its
// 200 ms off the bus plus the host's 300 ms to enumerate); the second run,
// a second later, finds it running. Both runs see the same emulated chip.
TEST_F(OpenUlink, DownloadsItsFirmwareRenumeratesAndFindsVelnorsIdcodes) {
  const ProgramRun velnor = run_shell("VELNOR_BENCH=default " VELNORCTL_PATH " --cable usb scan");
  ASSERT_EQ(velnor.status, 0) << velnor.output;
  const std::vector<unsigned> expected = idcodes(velnor.output, "\\s(0x[0-9A-F]{8})\\s");
  ASSERT_EQ(expected, (std::vector<unsigned>{0x05045093, 0x0061C093}));

  const ProgramRun run = under_harness(
      "usb=0:ulink", "sh -c '" + openocd("") + "; sleep 1; " + openocd("-c scan_chain") + "'");
  EXPECT_NE(run.output.find("Loading OpenULINK firmware"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("ULINK device is already running OpenULINK firmware"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(idcodes(run.output, "tap/device found: (0x[0-9a-f]{8})"), expected) << run.output;
  EXPECT_EQ(run.output.find("violation"), std::string::npos) << run.output;
  EXPECT_EQ(run.status, 0) << run.output;
}

TEST_F(OpenUlink, FindsNothingWithoutACableOrWithAnotherIdentity) {
  for (const char* board : {"usb=", "usb=0"}) {
    const ProgramRun run = under_harness(board, openocd(""));
    EXPECT_NE(run.output.find("Could not open ULINK device"), std::string::npos) << board << "\n"
                                                                                 << run.output;
    EXPECT_NE(run.status, 0) << board;
  }
}

// Our own firmware through a plain libusb program: the pin byte's reply
// comes back on 0x82; with the reply held back the read times out, libusb
// discards the URB, and nothing reaches the buffer, then or later.
TEST(LibusbProgram, ExchangesAPinByteAndACancelledReadWritesNothing) {
  const ProgramRun power = under_harness("usb=0:running", USBDEVFS_PROBE " power");
  EXPECT_EQ(power.output, "reply 0x09\n");  // TDO high, target powered
  EXPECT_EQ(power.status, 0);
  const ProgramRun stall =
      under_harness("usb=0:running;usbfault=readstall", USBDEVFS_PROBE " stall");
  EXPECT_EQ(stall.output, "timed out, buffer untouched\n");
  EXPECT_EQ(stall.status, 0);
}

}  // namespace
