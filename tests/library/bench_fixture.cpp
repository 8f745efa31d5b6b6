#include "bench_fixture.h"

#include <cstdlib>

#include "core/library_state.h"
#include "core/worker_slot.h"
#include "velnor.h"

namespace velnor::testing {
namespace {
// The platform layer picks its backend at first use: make it the bench even
// when the binary is run by hand.
const bool kBenchSelected = setenv("VELNOR_BENCH", "default", 0) == 0;
}  // namespace

bench::Board& install_board(const std::string& description) {
  EXPECT_TRUE(kBenchSelected);
  bench::install_board(bench::make_board(description));
  bench::Board& board = bench::active_board();
  board.trace().enable(true);
  return board;
}

bench::Board& BenchTest::board_for(const std::string& description) {
  return install_board(description);
}

void BenchTest::open_parallel_cable() {
  ASSERT_EQ(velnor_init(VELNOR_CABLE_PARALLEL), VELNOR_OK);
  bench::active_board().trace().clear();
}

void BenchTest::TearDown() {
  velnor_free();
  worker_gate();  // collects a result left in the slot
  EXPECT_EQ(bench::active_board().violations(), std::vector<std::string>{});
}

std::string bits_of(const std::uint8_t* bytes, int bit_count) {
  std::string bits;
  for (int p = 0; p < bit_count; ++p) bits += (bytes[p / 8] & (0x80 >> (p % 8))) ? '1' : '0';
  return bits;
}

}  // namespace velnor::testing
