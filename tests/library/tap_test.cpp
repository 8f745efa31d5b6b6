// The TAP primitives on real chains: exact clocks, and what each device holds
// afterwards.
#include "jtag/tap.h"

#include <gtest/gtest.h>

#include "api/session.h"
#include "base/bit_order.h"
#include "bench_fixture.h"
#include "jtag/chain_scan.h"
#include "velnor.h"

namespace velnor::testing {
namespace {

using bench::Board;
using bench::TapState;

void walk(const std::string& tms) {
  for (char level : tms) {
    const int bit = level == '1';
    session().target.jtag.cable.shift(nullptr, nullptr, 1, bit, bit);
  }
}

std::uint32_t lsb_first(const std::string& bits) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < bits.size(); ++i) {
    if (bits[i] == '1') value |= 1u << i;
  }
  return value;
}

class TapTest : public BenchTest {
 protected:
  // Three devices around the FPGA: IR 8 | 5 | 8 from TDO to TDI.
  Board& three_device_chain() {
    Board& board = board_for("chain=xcf02s,xc2s50/v2,xcf01s");
    open_parallel_cable();
    EXPECT_TRUE(scan_chain(jtag()));
    EXPECT_EQ(select_device(jtag(), 1), 0x20610093u);
    tap_reset(jtag(), 6);
    board.trace().clear();
    return board;
  }
};

TEST_F(TapTest, ResetReachesRunTestIdleFromEveryState) {
  Board& board = board_for("chain=xc2s200,xcf04s");
  open_parallel_cable();
  const struct {
    const char* path;
    TapState state;
  } kPaths[] = {
      {"1", TapState::TestLogicReset}, {"0", TapState::RunTestIdle},
      {"01", TapState::SelectDrScan},  {"010", TapState::CaptureDr},
      {"0100", TapState::ShiftDr},     {"0101", TapState::Exit1Dr},
      {"01010", TapState::PauseDr},    {"010101", TapState::Exit2Dr},
      {"01011", TapState::UpdateDr},   {"011", TapState::SelectIrScan},
      {"0110", TapState::CaptureIr},   {"01100", TapState::ShiftIr},
      {"01101", TapState::Exit1Ir},    {"011010", TapState::PauseIr},
      {"0110101", TapState::Exit2Ir},  {"011011", TapState::UpdateIr},
  };
  for (const auto& path : kPaths) {
    walk("11111");
    walk(path.path);
    ASSERT_EQ(board.chain().device(0).state(), path.state) << path.path;
    EXPECT_EQ(tap_reset(jtag(), 6), 0u);
    EXPECT_EQ(board.chain().device(0).state(), TapState::RunTestIdle) << path.path;
    EXPECT_EQ(board.chain().device(1).state(), TapState::RunTestIdle) << path.path;
  }
  board.trace().clear();
  tap_reset(jtag(), 1);
  EXPECT_EQ(board.trace().tms_bits(), "0");
}

TEST_F(TapTest, InstructionGoesLeastSignificantBitFirstThenUpdate) {
  Board& board = board_for("chain=xc2s100");
  open_parallel_cable();
  ASSERT_TRUE(scan_chain(jtag()));
  select_device(jtag(), 0);
  tap_reset(jtag(), 6);
  board.trace().clear();
  EXPECT_EQ(shift_ir(jtag(), 5, 5), 0u);
  EXPECT_EQ(board.trace().tms_bits(), bits("11 00 00001 1"));
  EXPECT_EQ(board.trace().tdi_bits(), bits("00 00 10100 0"));
  EXPECT_EQ(board.chain().device(0).state(), TapState::UpdateIr);
  tap_idle(jtag(), 1);  // the instruction takes effect on the falling edge in Update-IR
  EXPECT_EQ(board.chain().device(0).instruction(), 5u);
}

TEST_F(TapTest, InstructionIsPaddedWithBypassOnesOnBothSides) {
  Board& board = board_for("chain=xcf02s,xcf01s,other:0x0A001093:6");
  open_parallel_cable();
  tap_reset(jtag(), 6);
  session().target.jtag.position = ChainPosition{1, 8, 6, 1, 1, 1};
  board.trace().clear();
  shift_ir(jtag(), 0xE8, 8);
  EXPECT_EQ(board.trace().tdi_bits().substr(4, 22), bits("11111111 00010111 111111"));
  tap_idle(jtag(), 1);
  EXPECT_EQ(board.chain().device(0).instruction(), 0xFFu);
  EXPECT_EQ(board.chain().device(1).instruction(), 0xE8u);
  EXPECT_EQ(board.chain().device(2).instruction(), 0x3Fu);
}

TEST_F(TapTest, InstructionBitsAboveTheEighthLoadZero) {
  Board& board = board_for("chain=other:0x0A001093:10");
  open_parallel_cable();
  tap_reset(jtag(), 6);
  session().target.jtag.position = ChainPosition{};
  shift_ir(jtag(), 0x3FF, 10);
  tap_idle(jtag(), 1);
  EXPECT_EQ(board.chain().device(0).instruction(), 0x0FFu);
}

TEST_F(TapTest, InstructionScanLongerThanTheBufferIsRefused) {
  Board& board = board_for("default");
  open_parallel_cable();
  session().target.jtag.position = ChainPosition{1, 60, 0, 1, 0, 0};
  board.trace().clear();
  EXPECT_EQ(shift_ir(jtag(), 9, 5), VELNOR_ERR_JTAG);
  EXPECT_EQ(board.trace().clock_count(), 0u);
}

TEST_F(TapTest, ReadThroughBypassesReturnsTheSelectedDevicesBitsFirstInBitSeven) {
  Board& board = three_device_chain();
  shift_ir(jtag(), 0x09, 5);  // IDCODE
  EXPECT_EQ(board.trace().tms_bits(), "1100" + std::string(20, '0') + "11");
  board.trace().clear();
  std::uint8_t idcode[4];
  EXPECT_EQ(scan_dr(jtag(), nullptr, idcode, 32), 0u);
  EXPECT_EQ(lsb_first(bits_of(idcode, 32)), 0x20610093u);
  EXPECT_EQ(board.trace().tms_bits(), "1000" + std::string(31, '0') + "11");
  EXPECT_EQ(board.chain().device(1).state(), TapState::UpdateDr);
}

TEST_F(TapTest, TwelveBitReadLeavesTheUnusedLowBitsClear) {
  three_device_chain();
  shift_ir(jtag(), 0x09, 5);
  std::uint8_t bytes[2] = {0xFF, 0xFF};
  scan_dr(jtag(), nullptr, bytes, 12);
  EXPECT_EQ(bits_of(bytes, 16), bits("110010010000 0000")) << "0x093 least significant bit first";
}

// With the selected device in BYPASS between two more bypass registers, a
// full scan skips the lead bit, so the first bit read is the selected
// device's capture (0); the data written appear after the three registers.
TEST_F(TapTest, SkipAndPadAlignTheScanOnTheSelectedDevice) {
  Board& board = three_device_chain();
  shift_ir(jtag(), 0x1F, 5);
  board.trace().clear();
  const std::uint8_t tdi = 0xB4;
  std::uint8_t tdo = 0;
  scan_dr(jtag(), &tdi, &tdo, 8);
  EXPECT_EQ(bits_of(&tdo, 8), "00010110");
  EXPECT_EQ(board.trace().tms_bits(), bits("100 0 00000000 1 1"));
  EXPECT_EQ(board.trace().tdi_bits().substr(4, 9), bits("10110100 0"));
}

TEST_F(TapTest, FlagsAddClocksOnlyWhereTheyApply) {
  Board& board = three_device_chain();
  const std::uint8_t data = 0xFF;
  std::uint8_t read = 0;
  const struct {
    std::uint32_t flags;
    const std::uint8_t* tdi;
    std::uint8_t* tdo;
    const char* tms;
  } kCases[] = {
      {DR_ENTER | DR_SKIP, &data, nullptr, "100 0000"},    // no TDO: no skip
      {DR_ENTER | DR_SKIP, nullptr, &read, "100 0 0000"},  // skip one lead bit
      {DR_SKIP | DR_EXIT, nullptr, &read, "0001 1"},       // skip needs enter
      {DR_EXIT | DR_PAD, nullptr, &read, "0001 1"},        // no TDI: no pad
      {DR_EXIT | DR_PAD, &data, nullptr, "0000 1 1"},      // pad one trail bit
      {DR_ENTER | DR_PAD, &data, nullptr, "100 0000"},     // pad needs exit
  };
  for (const auto& scan : kCases) {
    tap_reset(jtag(), 6);
    if ((scan.flags & DR_ENTER) == 0) shift_dr(jtag(), nullptr, nullptr, 0, DR_ENTER);
    board.trace().clear();
    shift_dr(jtag(), scan.tdi, scan.tdo, 4, scan.flags);
    EXPECT_EQ(board.trace().tms_bits(), bits(scan.tms)) << "flags " << scan.flags;
  }
}

TEST_F(TapTest, EmptyScanWalksIntoShiftDrAndStays) {
  Board& board = three_device_chain();
  shift_dr(jtag(), nullptr, nullptr, 0, DR_ENTER | DR_EXIT);
  EXPECT_EQ(board.trace().tms_bits(), "100");
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(board.chain().device(i).state(), TapState::ShiftDr);
}

TEST_F(TapTest, PiecesOfOneLongScanStayInShiftDr) {
  Board& board = three_device_chain();
  shift_ir(jtag(), 0x09, 5);
  std::uint8_t first[2], second[2];
  shift_dr(jtag(), nullptr, first, 16, DR_ENTER | DR_SKIP);
  EXPECT_EQ(board.chain().device(1).state(), TapState::ShiftDr);
  shift_dr(jtag(), nullptr, second, 16, DR_EXIT);
  EXPECT_EQ(lsb_first(bits_of(first, 16) + bits_of(second, 16)), 0x20610093u);
}

TEST(DropLeadingBits, WholeBytesMoveAndPartialBytesShift) {
  const struct {
    int dropped;
    std::uint8_t expected[2];
  } kCases[] = {{8, {0xCD, 0xEF}}, {3, {0x5E, 0x6F}}, {0, {0xAB, 0xCD}}};
  for (const auto& c : kCases) {
    std::uint8_t bytes[] = {0xAB, 0xCD, 0xEF};
    drop_leading_bits(bytes, 2, c.dropped);
    EXPECT_EQ(bytes[0], c.expected[0]) << c.dropped;
    EXPECT_EQ(bytes[1], c.expected[1]) << c.dropped;
  }
}

}  // namespace
}  // namespace velnor::testing
