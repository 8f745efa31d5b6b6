// Other JTAG programs as oracles: urJTAG, OpenOCD and xc3sprog drive the
// same virtual board through the preload library's /dev/parport0 (their
// Xilinx parallel cable III drivers), and must find the devices, IDCODEs and
// IR lengths that velnorctl reports. A program that is not installed is
// skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <vector>

#include "peers/peer_run.h"

namespace {

using velnor::testing::installed;
using velnor::testing::ProgramRun;
using velnor::testing::read_text;
using velnor::testing::run_peer;
using velnor::testing::run_shell;
using velnor::testing::TempDir;
using velnor::testing::through_preload;
using velnor::testing::velnorctl;

struct Device {
  std::string name;
  unsigned idcode;
  int ir_length;
  bool operator==(const Device& other) const {
    return idcode == other.idcode && ir_length == other.ir_length;
  }
};

std::ostream& operator<<(std::ostream& out, const Device& device) {
  char text[64];
  std::snprintf(text, sizeof text, "%s 0x%08X IR %d", device.name.c_str(), device.idcode,
                device.ir_length);
  return out << text;
}

// The boards: an XCF02S (version D) nearest TDO and an XC2S200, and three
// devices the other way round. urJTAG 0.10 overruns a buffer (SIGBUS) reading its own
// description of any XCF PROM at a version it lists (xcf01s, xcf02s and
// xcf04s at 0; xcf04s at 15 too), so the PROMs here have versions it does
// not know and leaves undescribed.
const char* const kBoards[] = {"chain=xcf02s/vd,xc2s200/v0", "chain=xc2s100/v2,xcf04s/v1,xc2s15"};

// The chain as velnorctl reports it through the preload, nearest TDO first.
std::vector<Device> velnor_chain(const std::string& board) {
  const ProgramRun run = velnorctl(through_preload(board), "--cable lpt scan");
  EXPECT_EQ(run.status, 0) << run.output;
  std::vector<Device> chain;
  std::istringstream lines(run.output);
  std::string line;
  while (std::getline(lines, line)) {
    int index = 0;
    char name[16];
    Device device;
    if (std::sscanf(line.c_str(), "%d %15s 0x%x %d", &index, name, &device.idcode,
                    &device.ir_length) == 4) {
      device.name = name;
      chain.push_back(device);
    }
  }
  return chain;
}

TEST(PeerTools, VelnorReportsTheBoardsChain) {
  const std::vector<Device> chain = velnor_chain(kBoards[0]);
  EXPECT_EQ(chain, (std::vector<Device>{{"xcf02s", 0xD5045093, 8}, {"xc2s200", 0x0061C093, 5}}));
}

// urJTAG's detect: the total IR length (it measures it), the chain length and
// the IDCODEs nearest TDO first.
TEST(PeerTools, UrjtagDetectsTheSameChain) {
  if (!installed("jtag")) GTEST_SKIP() << "urJTAG (jtag) is not installed";
  for (const char* board : kBoards) {
    const std::vector<Device> chain = velnor_chain(board);
    ASSERT_FALSE(chain.empty());
    const ProgramRun run = run_peer(board,
                                    "sh -c \"printf 'cable DLC5 ppdev /dev/parport0\\ndetect\\n' | "
                                    "jtag -q\"");
    int ir_total = 0;
    for (const Device& device : chain) ir_total += device.ir_length;
    EXPECT_NE(run.output.find("IR length: " + std::to_string(ir_total) + "\n"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("Chain length: " + std::to_string(chain.size()) + "\n"),
              std::string::npos)
        << run.output;
    std::vector<unsigned> found;
    for (std::size_t at = run.output.find("Device Id: "); at != std::string::npos;
         at = run.output.find("Device Id: ", at + 1)) {
      unsigned idcode = 0;
      const std::size_t open = run.output.find("(0x", at);
      ASSERT_EQ(std::sscanf(run.output.c_str() + open, "(0x%x)", &idcode), 1);
      found.push_back(idcode);
    }
    std::vector<unsigned> expected;
    for (const Device& device : chain) expected.push_back(device.idcode);
    EXPECT_EQ(found, expected) << board << "\n" << run.output;
  }
}

// OpenOCD's parport driver with the dlc5 layout. Its autoprobe finds the
// IDCODEs; its IR-length guess trusts the capture's upper bits to be 0,
// which the Spartan-II's are not (11001), so the IR lengths are checked instead by
// declaring the taps with velnor's lengths and reading each IDCODE through
// its own IDCODE instruction, the others in BYPASS: a wrong length anywhere
// misplaces the instructions and the reads.
std::string openocd(const std::string& commands) {
  return "openocd -c 'adapter driver parport' -c 'parport port 0' -c 'parport cable dlc5' " +
         commands + " -c shutdown";
}

std::vector<unsigned> openocd_idcode_reads(const std::string& board,
                                           const std::vector<Device>& chain) {
  std::string commands;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    char text[96];
    std::snprintf(text, sizeof text, " -c 'jtag newtap d%zu tap -irlen %d -expected-id 0x%08x'", i,
                  chain[i].ir_length, chain[i].idcode);
    commands += text;
  }
  commands += " -c init";
  for (std::size_t i = 0; i < chain.size(); ++i) {
    // IDCODE: 0xFE on the XCF PROMs, 01001 on the Spartan-II.
    const unsigned instruction = chain[i].name.rfind("xcf", 0) == 0 ? 0xFE : 0x09;
    commands += " -c 'irscan d" + std::to_string(i) + ".tap " + std::to_string(instruction) +
                "' -c 'drscan d" + std::to_string(i) + ".tap 32 0'";
  }
  const ProgramRun run = run_peer(board, openocd(commands));
  EXPECT_EQ(run.status, 0) << run.output;
  std::vector<unsigned> reads;
  std::istringstream lines(run.output);
  std::string line;
  while (std::getline(lines, line)) {
    unsigned value = 0;
    char rest = 0;
    if (line.size() == 8 && std::sscanf(line.c_str(), "%8x%c", &value, &rest) == 1) {
      reads.push_back(value);
    }
  }
  return reads;
}

TEST(PeerTools, OpenocdFindsTheIdcodesAndReadsThemWithVelnorsIrLengths) {
  if (!installed("openocd")) GTEST_SKIP() << "OpenOCD is not installed";
  for (const char* board : kBoards) {
    const std::vector<Device> chain = velnor_chain(board);
    ASSERT_FALSE(chain.empty());
    std::vector<unsigned> expected;
    for (const Device& device : chain) expected.push_back(device.idcode);

    const ProgramRun probe = run_peer(board, openocd("-c init"));
    std::vector<unsigned> found;
    for (std::size_t at = probe.output.find("tap/device found: 0x"); at != std::string::npos;
         at = probe.output.find("tap/device found: 0x", at + 1)) {
      unsigned idcode = 0;
      ASSERT_EQ(std::sscanf(probe.output.c_str() + at, "tap/device found: 0x%x", &idcode), 1);
      found.push_back(idcode);
    }
    EXPECT_EQ(found, expected) << board << "\n" << probe.output;

    EXPECT_EQ(openocd_idcode_reads(board, chain), expected) << board;
  }
}

TEST(PeerTools, OpenocdReadsGarbageWithAWrongIrLength) {
  if (!installed("openocd")) GTEST_SKIP() << "OpenOCD is not installed";
  std::vector<Device> chain = velnor_chain(kBoards[0]);
  ASSERT_EQ(chain.size(), 2u);
  chain[1].ir_length = 4;
  const std::vector<unsigned> reads = openocd_idcode_reads(kBoards[0], chain);
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_NE(reads[1], chain[1].idcode);
}

// xc3sprog numbers the chain from the cable's TDO, that is from the chain's
// TDI end, and takes IR lengths from its own list of parts.
TEST(PeerTools, Xc3sprogFindsTheSamePartsAndIrLengths) {
  if (!installed("xc3sprog")) GTEST_SKIP() << "xc3sprog is not installed";
  for (const char* board : kBoards) {
    std::vector<Device> chain = velnor_chain(board);
    ASSERT_FALSE(chain.empty());
    std::reverse(chain.begin(), chain.end());
    const ProgramRun run = run_peer(board, "xc3sprog -c dlc5");
    EXPECT_NE(run.output.find("Found Xilinx Parallel Cable III"), std::string::npos) << run.output;
    std::vector<Device> found;
    for (std::size_t at = run.output.find("JTAG loc.:"); at != std::string::npos;
         at = run.output.find("JTAG loc.:", at + 1)) {
      Device device;
      int location = 0;
      ASSERT_EQ(std::sscanf(run.output.c_str() + at, "JTAG loc.: %d IDCODE: 0x%x", &location,
                            &device.idcode),
                2);
      const std::size_t ir = run.output.find("IR length:", at);
      ASSERT_EQ(std::sscanf(run.output.c_str() + ir, "IR length: %d", &device.ir_length), 1);
      EXPECT_EQ(location, static_cast<int>(found.size()));
      found.push_back(device);
    }
    EXPECT_EQ(found, chain) << board << "\n" << run.output;
  }
}

// The FPGA's DONE pin as the last instruction scan of a board trace
// captured it. Trace lines of TCK cycles read "C TMS TDI TDO STATES", the
// last hex digit of STATES being the TAP state of the device nearest TDO;
// the cycles that leave Shift-IR (B) shift the bits out. The FPGA is the
// device nearest TDI, so its five capture bits come last, DONE third.
bool done_at_last_ir_scan(const std::string& trace) {
  std::istringstream lines(trace);
  std::string line, scan, last_scan;
  char state = '0';
  while (std::getline(lines, line)) {
    char tms, tdi, tdo;
    char states[32];
    if (std::sscanf(line.c_str(), "C %c %c %c %31s", &tms, &tdi, &tdo, states) != 4) continue;
    if (state == 'B') {
      scan += tdo;
    } else if (!scan.empty()) {
      last_scan = scan;
      scan.clear();
    }
    state = states[std::strlen(states) - 1];
  }
  return last_scan.size() >= 5 && last_scan[last_scan.size() - 3] == '1';
}

// xc3sprog configures a Spartan-II with three short CFG_IN scans (the
// shutdown words) before the bitstream, each scan as long as its data plus
// the bypass bits of the other devices. Alone on the chain the FPGA starts.
// With a PROM on the chain every scan brings one bit more: the part, in
// step with its words since the first sync word, takes the next sync word
// off the word boundary for something else and never reaches DONE.
TEST(PeerTools, Xc3sprogConfiguresTheFpgaOnlyWithScansOfWholeWords) {
  if (!installed("xc3sprog")) GTEST_SKIP() << "xc3sprog is not installed";
  TempDir folder;
  const std::string bitstream = folder.path("xc2s15.bit"), trace = folder.path("trace");
  ASSERT_EQ(run_shell(VELNOR_BITGEN_PATH " xc2s15 " + bitstream).status, 0);
  for (const auto& [board, done] :
       {std::pair{"chain=xc2s15", true}, std::pair{"chain=xcf01s,xc2s15", false}}) {
    const ProgramRun run = run_shell(through_preload(board, "VELNOR_PARPORT_TRACE=" + trace) +
                                     "timeout 120 xc3sprog -c dlc5 -p 0 " + bitstream);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(done_at_last_ir_scan(read_text(trace)), done) << board;
  }
}

}  // namespace
