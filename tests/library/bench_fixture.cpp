#include "bench_fixture.h"

#include <cstdlib>

#include "api/session.h"
#include "api/worker_slot.h"
#include "test_environment.h"
#include "velnor.h"

namespace velnor::testing {
namespace {
// The platform layer picks its backend at first use: make it the bench even
// when the binary is run by hand.
const bool kBenchSelected =
    std::getenv("VELNOR_BENCH") != nullptr || set_environment("VELNOR_BENCH", "default");
}  // namespace

bench::Board& install_board(const std::string& description, bool traced) {
  EXPECT_TRUE(kBenchSelected);
  bench::install_board(bench::make_board(description));
  bench::Board& board = bench::active_board();
  board.trace().enable(traced);
  return board;
}

bench::Board& BenchTest::board_for(const std::string& description, bool traced) {
  session().target.fpga_index = -1;
  session().target.prom_index = -1;
  session().target.open_channel = -1;
  session().target.loaded_channel = -1;
  // Parts a test added stay with that test.
  session().target.jtag.added_parts = {};
  return install_board(description, traced);
}

namespace {
std::vector<ShiftCall> shift_log;
CableOps recorded_cable;

std::int32_t recording_shift(void* cable, const std::uint8_t* tdi, std::uint8_t* tdo,
                             std::uint32_t bit_count, int tms, int tms_last) {
  ShiftCall call{bit_count, tms, tms_last, {}, tdo != nullptr, 0};
  if (tdi != nullptr) call.tdi.assign(tdi, tdi + (bit_count + 7) / 8);
  // The count word is the caller's, alive while the operation runs.
  if (session().worker.state.load() == WORKER_RUNNING &&
      session().worker.operation.count != nullptr) {
    call.count_word = *session().worker.operation.count;
  }
  shift_log.push_back(std::move(call));
  return recorded_cable.shift(cable, tdi, tdo, bit_count, tms, tms_last);
}
}  // namespace

std::vector<ShiftCall>& record_shifts() {
  CableOps& ops = jtag().cable.ops;
  if (ops.shift != recording_shift) {
    recorded_cable = ops;
    ops.shift = recording_shift;
  }
  shift_log.clear();
  return shift_log;
}

void stop_recording_shifts() {
  CableOps& ops = jtag().cable.ops;
  if (ops.shift == recording_shift) ops.shift = recorded_cable.shift;
}

void BenchTest::open_parallel_cable() {
  ASSERT_EQ(velnor_init(VELNOR_CABLE_PARALLEL), VELNOR_OK);
  bench::active_board().trace().clear();
}

void BenchTest::TearDown() {
  stop_recording_shifts();
  velnor_free();
  // A result left in the slot belongs to this test's operation, not the next.
  session().worker.state.store(WORKER_IDLE);
  EXPECT_EQ(bench::active_board().violations(), std::vector<std::string>{});
}

std::string bits_of(const std::uint8_t* bytes, int bit_count) {
  std::string bits;
  for (int p = 0; p < bit_count; ++p) bits += (bytes[p / 8] & (0x80 >> (p % 8))) ? '1' : '0';
  return bits;
}

std::string bits(std::string_view spaced) {
  std::string out;
  for (char c : spaced) {
    if (c != ' ') out.push_back(c);
  }
  return out;
}

}  // namespace velnor::testing
