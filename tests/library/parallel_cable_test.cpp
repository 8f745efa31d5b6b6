// The parallel cable as the printer port sees it: exact register traffic.
#include "cables/parallel/parallel_cable.h"

#include <gtest/gtest.h>

#include <cstring>

#include "api/session.h"
#include "base/bit_order.h"
#include "bench_fixture.h"
#include "velnor.h"

namespace velnor::testing {
namespace {

using bench::Board;

class ParallelCableTest : public BenchTest {};

TEST_F(ParallelCableTest, DetectionDrivesTheLoopBothWaysAndChecksFourReadings) {
  Board& board = board_for("default");
  ASSERT_EQ(velnor_init(VELNOR_CABLE_PARALLEL), VELNOR_OK);
  EXPECT_EQ(board.trace().port_writes(0x378), (std::vector<std::uint8_t>{0x52, 0x12}));
  const std::vector<std::uint8_t> status = board.trace().port_reads(0x379);
  ASSERT_EQ(status.size(), 4u);
  EXPECT_NE(status[0] & 0x20, 0);
  EXPECT_EQ(status[1] & 0x80, 0);
  EXPECT_EQ(status[2] & 0x20, 0);
  EXPECT_NE(status[3] & 0x80, 0);
  EXPECT_EQ(board.printer_port(0x378)->data(), 0x12) << "left with TCK high, TMS and TDI low";
}

TEST_F(ParallelCableTest, DetectionFailsWithoutTheCable) {
  for (const char* description : {"lpt=0x378:none", "lpt=0x378:other", "lpt="}) {
    board_for(description);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(velnor_init(VELNOR_CABLE_PARALLEL), VELNOR_ERR_PROBE) << description;
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "No Probe\n") << description;
    EXPECT_EQ(session().cable_open, 0);
  }
}

TEST_F(ParallelCableTest, WithoutPortIoTheCableIsNotTouched) {
  Board& board = board_for("giveio=absent;rights=user");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(velnor_init(VELNOR_CABLE_PARALLEL), VELNOR_ERR_PROBE);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Can't access GIVEIO system\n");
  EXPECT_TRUE(board.trace().port_writes(0x378).empty());
  EXPECT_TRUE(board.trace().port_reads(0x379).empty());
}

TEST_F(ParallelCableTest, ASecondPortIsReachedAtItsOwnBase) {
  Board& board = board_for("lpt=0x378:none,0x278:cable");
  EXPECT_EQ(velnor_init(VELNOR_CABLE_PARALLEL | 0x278), VELNOR_OK);
  EXPECT_EQ(board.trace().port_writes(0x278), (std::vector<std::uint8_t>{0x52, 0x12}));
  EXPECT_TRUE(board.trace().port_writes(0x378).empty());
}

TEST_F(ParallelCableTest, ThreeCycleShiftWritesTheExactDataValues) {
  Board& board = board_for("default");
  open_parallel_cable();
  const std::uint8_t tdi = 0xA0;
  jtag().cable.shift(&tdi, nullptr, 3, 0, 1);
  EXPECT_EQ(board.trace().port_writes(0x378),
            (std::vector<std::uint8_t>{0x11, 0x13, 0x10, 0x12, 0x15, 0x17}));
  EXPECT_TRUE(board.trace().port_reads(0x379).empty()) << "no TDO buffer, no status reads";
  EXPECT_EQ(board.trace().tdi_bits(), "101");
  EXPECT_EQ(board.trace().tms_bits(), "001");
}

TEST_F(ParallelCableTest, OneCycleUsesTheLastTmsAndZeroCyclesTouchNothing) {
  Board& board = board_for("default");
  open_parallel_cable();
  jtag().cable.shift(nullptr, nullptr, 1, 0, 1);
  EXPECT_EQ(board.trace().port_writes(0x378), (std::vector<std::uint8_t>{0x14, 0x16}));
  board.trace().clear();
  std::uint8_t tdo = 0x5A;
  jtag().cable.shift(nullptr, &tdo, 0, 1, 1);
  EXPECT_TRUE(board.trace().entries().empty());
  EXPECT_EQ(tdo, 0x5A);
}

TEST_F(ParallelCableTest, TdoIsReadBetweenTheEdgesAndStoredInStreamOrder) {
  Board& board = board_for("fault=tdo1");
  open_parallel_cable();
  std::uint8_t tdo[2] = {0, 0xFF};
  jtag().cable.shift(nullptr, tdo, 10, 1, 1);
  EXPECT_EQ(tdo[0], 0xFF);
  EXPECT_EQ(tdo[1], 0xC0) << "bits no cycle reached read 0";
  std::vector<bench::TraceEntry> entries;
  for (const bench::TraceEntry& entry : board.trace().entries()) {
    if (entry.kind != bench::TraceEntry::Kind::Clock) entries.push_back(entry);
  }
  ASSERT_EQ(entries.size(), 30u);
  for (std::size_t cycle = 0; cycle < 10; ++cycle) {
    EXPECT_EQ(entries[3 * cycle].kind, bench::TraceEntry::Kind::PortWrite);
    EXPECT_EQ(entries[3 * cycle].value & 0x02, 0) << "TCK low before the read";
    EXPECT_EQ(entries[3 * cycle + 1].kind, bench::TraceEntry::Kind::PortRead);
    EXPECT_EQ(entries[3 * cycle + 1].port, 0x379);
    EXPECT_NE(entries[3 * cycle + 2].value & 0x02, 0) << "TCK rises after the read";
  }
}

// After Test-Logic-Reset every device has its IDCODE register selected: the
// 32 bits arrive least significant first, in stream order like TDI.
TEST_F(ParallelCableTest, BitOrdersFacingTheCable) {
  Board& board = board_for("chain=xc2s50/v3");
  open_parallel_cable();
  jtag().cable.shift(nullptr, nullptr, 6, 1, 0);  // Run-Test/Idle
  jtag().cable.shift(nullptr, nullptr, 1, 1, 1);  // Select-DR-Scan
  jtag().cable.shift(nullptr, nullptr, 2, 0, 0);  // Capture-DR, Shift-DR
  board.trace().clear();
  const std::uint8_t tdi[4] = {0xC5, 0x00, 0xFF, 0x01};
  std::uint8_t tdo[4];
  jtag().cable.shift(tdi, tdo, 32, 0, 0);
  EXPECT_EQ(board.trace().tdi_bits(), "11000101000000001111111100000001");
  EXPECT_EQ(lsb_first_value(tdo, 0, 32), 0x30610093u);
  EXPECT_EQ(tdo[0], 0xC9) << "the first bit received is bit 7 of byte 0";
}

TEST_F(ParallelCableTest, TargetPowerFollowsTheSenseLine) {
  board_for("default");
  open_parallel_cable();
  EXPECT_EQ(jtag().cable.target_power(), 1);
  board_for("power=off");
  open_parallel_cable();
  EXPECT_EQ(jtag().cable.target_power(), 0);
}

TEST_F(ParallelCableTest, LongShiftsClockEveryCycle) {
  Board& board = board_for("default");
  open_parallel_cable();
  board.trace().enable(false);
  const std::uint64_t before = board.chain().cycle_count();
  jtag().cable.shift(nullptr, nullptr, 100000, 1, 1);
  EXPECT_EQ(board.chain().cycle_count() - before, 100000u);
}

}  // namespace
}  // namespace velnor::testing
