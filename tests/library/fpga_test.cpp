// Finding the FPGA, reading it, shutting it down: every result word the
// target check can give, reached on a virtual board.
#include "fpga/fpga.h"

#include <gtest/gtest.h>

#include "api/session.h"
#include "base/bit_order.h"
#include "bench/bitstream.h"
#include "bench_fixture.h"
#include "jtag/chain_scan.h"
#include "jtag/tap.h"
#include "velnor.h"

namespace velnor::testing {
namespace {

using bench::Board;

class FpgaTest : public BenchTest {
 protected:
  Board& opened(const std::string& description) {
    Board& board = board_for(description);
    open_parallel_cable();
    return board;
  }
  // Configures the FPGA of the open board from a generated bitstream.
  void configure(bench::Part part) {
    bench::BitstreamOptions options;
    options.part = part;
    std::vector<std::uint8_t> data = bench::make_bitstream(options);
    std::int32_t count = static_cast<std::int32_t>(data.size());
    bench::Trace& trace = bench::active_board().trace();
    const bool traced = trace.enabled();
    trace.enable(false);
    ASSERT_EQ(velnor_config(data.data(), &count), VELNOR_OK);
    trace.enable(traced);
  }
};

TEST_F(FpgaTest, TheCheckSelectsTheFirstSupportedFpgaPastOtherParts) {
  opened("chain=xcf02s,xc2s50");
  EXPECT_EQ(check_target(target()), VELNOR_OK);
  EXPECT_EQ(session().target.fpga_index, 1);
  EXPECT_EQ(session().target.jtag.position.dr_lead, 1);
  EXPECT_EQ(session().target.jtag.position.bypass_bits, 0);
  EXPECT_EQ(session().target.open_channel, 0);

  opened("chain=xc2s30,xcf04s,xc2s200");
  EXPECT_EQ(check_target(target()), VELNOR_OK);
  EXPECT_EQ(session().target.fpga_index, 0);
  EXPECT_EQ(session().target.jtag.position.bypass_bits, 2);
}

TEST_F(FpgaTest, ChainsWithoutASupportedFpgaHaveNoTarget) {
  for (const char* description :
       {"chain=xcf02s,xcf04s", "chain=", "chain=xcf02s,other:0x12345093:6", "fault=tdo0",
        "chain=other:0x21428093:6"}) {
    opened(description);
    EXPECT_EQ(check_target(target()), VELNOR_ERR_NO_TARGET) << description;
    EXPECT_EQ(session().target.fpga_index, -1) << description;
  }
}

TEST_F(FpgaTest, AnyVersionNibbleIsAcceptedWhenTheCodeReadsBackTheSame) {
  opened("chain=xc2s100/v7");
  std::uint32_t idcode = 0;
  EXPECT_EQ(velnor_get_status(&idcode, nullptr, nullptr), VELNOR_OK);
  EXPECT_EQ(idcode, 0x70614093u);
}

TEST_F(FpgaTest, ALostSupplyIsNamed) {
  Board& board = opened("power=off");
  EXPECT_EQ(velnor_get_status(nullptr, nullptr, nullptr), VELNOR_ERR_POWER_DOWN);
  EXPECT_EQ(board.trace().clock_count(), 0u);
  board.set_target_powered(true);
  EXPECT_EQ(velnor_get_status(nullptr, nullptr, nullptr), VELNOR_OK);
  EXPECT_EQ(session().target.fpga_index, 1);

  // Unplugged now: the FPGA found before no longer answers, the supply is
  // named, and nothing is handed back as if read.
  board.set_target_powered(false);
  std::uint32_t idcode = 1, status = 1;
  EXPECT_EQ(velnor_get_status(&idcode, &status, nullptr), VELNOR_ERR_POWER_DOWN);
  EXPECT_EQ(idcode, 1u);
  EXPECT_EQ(status, 1u);
}

// Another board may sit behind a cable opened again: the devices found
// before are forgotten and found afresh.
TEST_F(FpgaTest, OpeningTheCableForgetsTheDevicesFound) {
  Board& board = opened("chain=xcf02s,xc2s200");
  ASSERT_EQ(velnor_get_status(nullptr, nullptr, nullptr), VELNOR_OK);
  velnor_free();
  EXPECT_EQ(velnor_get_status(nullptr, nullptr, nullptr), VELNOR_ERR_PROBE);
  board_for("chain=xc2s50", false);
  open_parallel_cable();
  std::uint32_t idcode = 0;
  EXPECT_EQ(velnor_get_status(&idcode, nullptr, nullptr), VELNOR_OK);
  EXPECT_EQ(idcode, 0x00610093u);
  EXPECT_EQ(session().target.jtag.position.index, 0);
  (void)board;
}

TEST_F(FpgaTest, StatusOfAnUnconfiguredThenConfiguredThenShutDownFpga) {
  const struct {
    const char* board;
    bench::Part part;
    std::uint32_t idcode;
    std::uint32_t usercode;
  } kBoards[] = {
      {"chain=xc2s50;usercode=0x12345678", bench::Part::Xc2s50, 0x00610093, 0x12345678},
      {"chain=xcf01s,xc2s150,xcf02s,xcf04s", bench::Part::Xc2s150, 0x00618093, 0xFFFFFFFF}};
  constexpr std::uint32_t kFlags = STATUS_DONE | STATUS_CRC_ERROR | STATUS_UPPER_HALF;
  for (const auto& board : kBoards) {
    SCOPED_TRACE(board.board);
    opened(board.board);
    std::uint32_t idcode = 0, status = 0, usercode = 0;
    ASSERT_EQ(velnor_get_status(&idcode, &status, &usercode), VELNOR_OK);
    EXPECT_EQ(idcode, board.idcode);
    EXPECT_EQ(status & kFlags, 0u);

    configure(board.part);
    ASSERT_EQ(velnor_get_status(&idcode, &status, &usercode), VELNOR_OK);
    EXPECT_EQ(status & kFlags, STATUS_DONE);
    EXPECT_EQ(usercode, board.usercode);

    EXPECT_EQ(velnor_shutdown(), VELNOR_OK);
    ASSERT_EQ(velnor_get_status(nullptr, &status, nullptr), VELNOR_OK);
    EXPECT_EQ(status & STATUS_DONE, 0u);
    EXPECT_EQ(session().target.loaded_channel, -1);
  }
}

TEST_F(FpgaTest, ThreeNullPointersOnlyCheckTheTarget) {
  Board& board = opened("chain=xc2s200");
  ASSERT_EQ(check_target(target()), VELNOR_OK);
  board.trace().clear();
  ASSERT_EQ(check_target(target()), VELNOR_OK);
  const std::uint64_t check_clocks = board.trace().clock_count();
  board.trace().clear();
  EXPECT_EQ(velnor_get_status(nullptr, nullptr, nullptr), VELNOR_OK);
  EXPECT_EQ(board.trace().clock_count(), check_clocks);
}

TEST_F(FpgaTest, AlignmentPutsOneZeroWordAheadWhenDevicesSitOnTheTdiSide) {
  opened("chain=xc2s200,xcf02s");
  ASSERT_EQ(check_target(target()), VELNOR_OK);
  ASSERT_EQ(session().target.jtag.position.bypass_bits, 1);
  tap_reset(jtag(), 6);
  shift_ir(jtag(), CFG_IN, FPGA_IR_LENGTH);
  const std::uint8_t words[8] = {0x28, 0x00, 0xE0, 0x01, 0, 0, 0, 0};
  std::vector<ShiftCall>& calls = record_shifts();
  write_cfg_in(target(), words, 8);
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_EQ(calls[2].bit_count, 31u) << "(32 - u) zeros after entering Shift-DR";
  EXPECT_EQ(calls[3].bit_count, 64u);
  EXPECT_EQ(calls[3].tms_last, 0);
  EXPECT_EQ(calls[4].bit_count, 1u) << "u zeros push the data into the FPGA";
  EXPECT_EQ(calls[4].tms_last, 1);
}

TEST_F(FpgaTest, BusyWhileAnOperationRuns) {
  opened("default");
  session().worker.state.store(WORKER_RUNNING);
  EXPECT_EQ(velnor_get_status(nullptr, nullptr, nullptr), VELNOR_BUSY);
  EXPECT_EQ(velnor_shutdown(), VELNOR_BUSY);
  session().worker.state.store(WORKER_IDLE);
}

TEST(BitOrder, RegisterValuesGoLeastSignificantBitFirst) {
  const std::uint8_t received[4] = {0x80, 0x00, 0x00, 0x01};
  EXPECT_EQ(lsb_first_value(received, 0, 32), 0x80000001u);
  const std::uint8_t idcode[4] = {0xC9, 0x00, 0x86, 0x00};  // 0x00610093 as shifted out
  EXPECT_EQ(lsb_first_value(idcode, 0, 32), 0x00610093u);
  std::uint8_t stream[2];
  lsb_first_stream(0x0001, 16, stream);
  EXPECT_EQ(stream[0], 0x80);
  EXPECT_EQ(stream[1], 0x00);
}

}  // namespace
}  // namespace velnor::testing
