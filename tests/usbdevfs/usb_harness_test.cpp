// The board's EZ-USB cables as Linux USB devices (velnor-usb-run): real,
// unmodified libusb programs against the emulated chip. OpenOCD's ulink
// driver is the independent oracle: it downloads its own OpenULINK
// firmware into a bare chip wired as the ULINK pod, the chip renumerates,
// and OpenOCD must find the IDCODEs velnorctl finds. A program that is not
// installed is skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/board.h"
#include "peers/peer_run.h"

namespace {

using velnor::testing::installed;
using velnor::testing::ProgramRun;
using velnor::testing::run_shell;
using velnor::testing::TempDir;
using velnor::testing::write_text;

// A program under the harness on a board; the harness's own leak report
// (GLib's type system keeps its allocations) is not the program's result.
ProgramRun under_harness(const std::string& board, const std::string& command,
                         const std::string& environment = "") {
  return run_shell("env -u VELNOR_BENCH ASAN_OPTIONS=detect_leaks=0 VELNOR_USB_BENCH='" + board +
                   "' " + environment + " timeout 120 " VELNOR_USB_RUN " " + command);
}

// The hex numbers that follow each occurrence of the marker.
std::vector<unsigned> idcodes(const std::string& text, const std::string& marker) {
  std::vector<unsigned> found;
  for (std::size_t at = text.find(marker); at != std::string::npos;
       at = text.find(marker, at + 1)) {
    found.push_back(
        static_cast<unsigned>(std::stoul(text.substr(at + marker.size()), nullptr, 16)));
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
// 200 ms off the bus plus the host's 300 ms to enumerate); a second run,
// a second later (again on a loaded machine), finds it running. All runs
// see the same emulated chip.
TEST_F(OpenUlink, DownloadsItsFirmwareRenumeratesAndFindsVelnorsIdcodes) {
  const ProgramRun velnor = run_shell("VELNOR_BENCH=default " VELNORCTL_PATH " --cable usb scan");
  ASSERT_EQ(velnor.status, 0) << velnor.output;
  const std::vector<unsigned> expected = idcodes(velnor.output, "    0x");
  ASSERT_EQ(expected, (std::vector<unsigned>{0x05045093, 0x0061C093}));

  const ProgramRun run = under_harness(
      "usb=0:ulink", "sh -c '" + openocd("") + "; for try in 1 2 3 4 5; do sleep 1; " +
                         openocd("-c scan_chain") + " && break; done'");
  EXPECT_NE(run.output.find("Loading OpenULINK firmware"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("ULINK device is already running OpenULINK firmware"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(idcodes(run.output, "tap/device found: "), expected) << run.output;
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

// Our own firmware through a plain libusb program: the pin bytes' replies
// come back on 0x82; with the replies held back the read times out, libusb
// discards the URB, and nothing reaches the buffer, then or later.
TEST(LibusbProgram, ExchangesPinBytesAndACancelledReadWritesNothing) {
  const ProgramRun pins = under_harness("usb=0:running", USBDEVFS_PROBE " pins");
  EXPECT_EQ(pins.output, "64 replies 0x09\n");  // TDO high, target powered
  EXPECT_EQ(pins.status, 0);
  const ProgramRun stall =
      under_harness("usb=0:running;usbfault=readstall", USBDEVFS_PROBE " stall");
  EXPECT_EQ(stall.output, "timed out, buffer untouched\n");
  EXPECT_EQ(stall.status, 0);
}

// A program watching the chip renumerate: it loads OpenULINK with request
// 0xA0 and starts it; libusb's hotplug sees the bare chip leave and the
// new device arrive under the next address (their uevents), and the new
// device answers with the firmware's strings.
TEST(LibusbProgram, SeesTheChipLeaveAndComeBackUnderTheNextAddress) {
  const char* image = "/usr/share/openocd/OpenULINK/ulink_firmware.hex";
  if (!std::filesystem::exists(image)) GTEST_SKIP() << image << " is not installed";
  const ProgramRun run =
      under_harness("usb=0:ulink", USBDEVFS_PROBE " renumerate " + std::string(image));
  EXPECT_EQ(run.output, "left 2\narrived 3\nmanufacturer OpenULINK\n");
  EXPECT_EQ(run.status, 0);
}

}  // namespace

// velnorctl itself through the library's libusb backend: from a bare chip
// (firmware download, renumeration, found again under its new address) to a
// configured FPGA and its PROM, with the same report as on the Windows
// driver model.
TEST(VelnorOverLibusb, ASessionReportsAsThroughTheWindowsDriver) {
  TempDir folder;
  const std::string bitstream = folder.path("design.bit");
  ASSERT_EQ(run_shell(VELNOR_BITGEN_PATH " xc2s200 " + bitstream).status, 0);
  const std::string session = "--cable usb scan config " + bitstream + " status prom info";
  const ProgramRun libusb = under_harness("default", VELNORCTL_PATH " " + session);
  ProgramRun windows = run_shell("VELNOR_BENCH=default " VELNORCTL_PATH " " + session);
  const std::string announced = "virtual board: default\n";
  windows.output.erase(windows.output.find(announced), announced.size());
  EXPECT_EQ(libusb.status, 0) << libusb.output;
  EXPECT_EQ(libusb.output, windows.output);
  EXPECT_NE(libusb.output.find("DONE=1"), std::string::npos) << libusb.output;
}

// The cable missing, of another kind, mute or pulled out: velnorctl ends
// with the cable named, in bounded time.
TEST(VelnorOverLibusb, BadCablesAreNamed) {
  const struct {
    const char* board;
    const char* command;
    const char* expected;
  } CASES[] = {
      {"usb=", "scan", "Can't found EZ-USB"},
      {"usb=0:ulink", "scan", "Can't found EZ-USB"},
      {"usb=0:running;usbfault=readstall", "status", "failed: 0x40000000 (VELNOR_ERR_PROBE)"},
      {"usb=0:running;usbfault=unplug@3", "status", "failed: 0x40000000 (VELNOR_ERR_PROBE)"},
  };
  for (const auto& c : CASES) {
    const ProgramRun run =
        under_harness(c.board, VELNORCTL_PATH " --cable usb " + std::string(c.command));
    EXPECT_EQ(run.status, 1) << c.board << ": " << run.output;
    EXPECT_NE(run.output.find(c.expected), std::string::npos) << c.board << ": " << run.output;
  }
}
