// Configuring the FPGA from files and memory, inline and on the worker
// thread, with devices on either side of it.
#include "fpga/configuration.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>

#include "api/session.h"
#include "bench/bitstream.h"
#include "bench_fixture.h"
#include "fpga/fpga.h"
#include "jtag/tap.h"
#include "temp_file.h"
#include "velnor.h"

namespace velnor::testing {
namespace {

using bench::BitstreamOptions;
using bench::Board;
using bench::Part;

std::vector<std::uint8_t> bitstream(Part part, BitstreamOptions options = {}) {
  options.part = part;
  return bench::make_bitstream(options);
}

std::vector<std::uint8_t> bit_file(const std::vector<std::uint8_t>& data) {
  return bench::make_bit_file(data, bench::BitFileFields{});
}

std::uint32_t status_word() {
  std::uint32_t status = 0;
  EXPECT_EQ(velnor_get_status(nullptr, &status, nullptr), VELNOR_OK);
  return status;
}

class ConfigurationTest : public BenchTest {
 protected:
  Board& opened(const std::string& description) {
    Board& board = board_for(description, false);
    open_parallel_cable();
    return board;
  }
};

TEST_F(ConfigurationTest, FromAFileOnTheCallersThread) {
  opened("default");
  TempFile file(bit_file(bitstream(Part::Xc2s200)));
  std::int32_t count = 0;
  EXPECT_EQ(velnor_config(file.path(), &count), VELNOR_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(status_word() & (STATUS_DONE | STATUS_CRC_ERROR), STATUS_DONE);
  EXPECT_EQ(session().worker.state.load(), WORKER_IDLE);
}

// From memory, without touching a file.
TEST_F(ConfigurationTest, EveryPartWithDevicesOnEitherSide) {
  const struct {
    const char* chain;
    Part part;
    std::int32_t u;
  } kBoards[] = {{"chain=xc2s15", Part::Xc2s15, 0},
                 {"chain=xc2s30", Part::Xc2s30, 0},
                 {"chain=xcf02s,xc2s50", Part::Xc2s50, 0},
                 {"chain=xc2s100,xcf02s", Part::Xc2s100, 1},
                 {"chain=xcf01s,xc2s150,xcf02s,xcf04s", Part::Xc2s150, 2},
                 {"chain=xc2s200,xcf04s,xcf04s", Part::Xc2s200, 2}};
  for (const auto& board : kBoards) {
    SCOPED_TRACE(board.chain);
    opened(board.chain);
    std::vector<std::uint8_t> data = bitstream(board.part);
    std::int32_t count = static_cast<std::int32_t>(data.size());
    EXPECT_EQ(velnor_config(data.data(), &count), VELNOR_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(session().target.jtag.position.bypass_bits, board.u);
    EXPECT_EQ(status_word() & (STATUS_DONE | STATUS_CRC_ERROR), STATUS_DONE);
  }
}

TEST_F(ConfigurationTest, OneDeviceOnTheTdiSideGets31BitsBeforeAndOneAfter) {
  opened("chain=xc2s50,xcf02s");
  std::vector<std::uint8_t> data = bitstream(Part::Xc2s50);
  std::int32_t count = static_cast<std::int32_t>(data.size());
  ASSERT_EQ(check_target(target()), VELNOR_OK);
  std::vector<ShiftCall>& calls = record_shifts();
  ASSERT_EQ(velnor_config(data.data(), &count), VELNOR_OK);
  std::size_t first_piece = 0;
  while (first_piece < calls.size() && calls[first_piece].bit_count != 8 * 4096) ++first_piece;
  ASSERT_LT(first_piece, calls.size());
  EXPECT_EQ(calls[first_piece - 1].bit_count, 31u);
  std::size_t last_piece = first_piece;
  while (calls[last_piece].bit_count != 8u * (data.size() % 4096)) ++last_piece;
  // The last piece stays in Shift-DR; one zero bit then leaves it.
  EXPECT_EQ(calls[last_piece].tms_last, 0);
  EXPECT_EQ(calls[last_piece + 1].bit_count, 1u);
  EXPECT_EQ(calls[last_piece + 1].tms_last, 1);
  EXPECT_TRUE(calls[last_piece + 1].tdi.empty());
}

// 8192 bytes of filler: not a bitstream, so the FPGA refuses it, but the
// pieces show how the scan is cut.
TEST_F(ConfigurationTest, AnExactMultipleOfThePieceMarksOnlyTheFinalPieceLast) {
  opened("chain=xc2s50");
  std::vector<std::uint8_t> data(8192, 0xFF);
  std::int32_t count = 8192;
  ASSERT_EQ(check_target(target()), VELNOR_OK);
  std::vector<ShiftCall>& calls = record_shifts();
  EXPECT_EQ(velnor_config(data.data(), &count), VELNOR_ERR_CRC);
  std::vector<const ShiftCall*> pieces;
  for (const ShiftCall& call : calls) {
    if (call.bit_count == 8 * 4096) pieces.push_back(&call);
  }
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0]->tms_last, 0);
  EXPECT_EQ(pieces[0]->count_word, 8192);
  EXPECT_EQ(pieces[1]->tms_last, 1);
  EXPECT_EQ(pieces[1]->count_word, 4096);
  EXPECT_EQ(count, 0);
}

TEST_F(ConfigurationTest, OnTheWorkerThreadTheCountFallsInWholePieces) {
  opened("default");
  std::vector<std::uint8_t> data = bitstream(Part::Xc2s200);
  TempFile file(bit_file(data));
  std::int32_t count = static_cast<std::int32_t>(VELNOR_COUNT_BACKGROUND);
  ASSERT_EQ(velnor_config(file.path(), &count), VELNOR_BUSY);
  const auto total = static_cast<std::int32_t>(data.size());
  std::uint32_t result;
  while ((result = velnor_config(nullptr, nullptr)) == VELNOR_BUSY) {
    const std::int32_t seen = std::atomic_ref<std::int32_t>(count).load();
    EXPECT_TRUE(seen == total || (total - seen) % 4096 == 0 || seen == 0) << seen;
  }
  EXPECT_EQ(result, VELNOR_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(velnor_config(nullptr, nullptr), VELNOR_ERR_FORMAT) << "the result is delivered once";
  EXPECT_EQ(status_word() & STATUS_DONE, STATUS_DONE);
}

// Memory that does not start with dummy bytes is a file name, which must end
// within the count.
TEST_F(ConfigurationTest, FailuresBeforeTheDataPhaseReturnDirectly) {
  opened("default");
  std::int32_t count = static_cast<std::int32_t>(VELNOR_COUNT_BACKGROUND);
  EXPECT_EQ(velnor_config("/nonexistent/design.bit", &count), VELNOR_ERR_FILE);
  EXPECT_EQ(session().worker.state.load(), WORKER_IDLE);
  EXPECT_EQ(velnor_config("design.bit", nullptr), VELNOR_ERR_FORMAT);
  std::int32_t zero = 0;
  EXPECT_EQ(velnor_config(nullptr, &zero), VELNOR_ERR_FORMAT) << "a poll with nothing pending";
  const char name[] = "/nonexistent/x.bit";
  count = sizeof name;
  EXPECT_EQ(velnor_config(name, &count), VELNOR_ERR_FILE);
  const std::uint8_t unterminated[4] = {'a', 'b', 'c', 'd'};
  count = 4;
  EXPECT_EQ(velnor_config(unterminated, &count), VELNOR_ERR_FILE);
  const std::vector<std::uint8_t> whole_file = bit_file(bitstream(Part::Xc2s200));
  count = static_cast<std::int32_t>(whole_file.size());
  EXPECT_EQ(velnor_config(whole_file.data(), &count), VELNOR_ERR_FILE)
      << "a .bit file's bytes start with its header, not with the data's padding";
}

TEST_F(ConfigurationTest, BrokenFilesAndBitstreams) {
  opened("chain=xc2s15");
  std::vector<std::uint8_t> bad_key = bit_file(bitstream(Part::Xc2s15));
  std::int32_t count = 0;
  bad_key[13] = 'x';
  TempFile bad_key_file(bad_key);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(velnor_config(bad_key_file.path(), &count), VELNOR_ERR_FILE);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Unknown header ID 78 found\n");

  TempFile empty_data(bit_file({}));
  EXPECT_EQ(velnor_config(empty_data.path(), &count), VELNOR_ERR_CRC);

  for (BitstreamOptions options :
       {BitstreamOptions{.wrong_first_crc = true}, BitstreamOptions{.extra_frames = 1},
        BitstreamOptions{.extra_frames = -1}, BitstreamOptions{.write_to_missing_register = true},
        BitstreamOptions{.wrong_frame_length = true}}) {
    std::vector<std::uint8_t> data = bitstream(Part::Xc2s15, options);
    count = static_cast<std::int32_t>(data.size());
    EXPECT_EQ(velnor_config(data.data(), &count), VELNOR_ERR_CRC);
    EXPECT_EQ(status_word() & STATUS_DONE, 0u);
  }
  std::vector<std::uint8_t> wrong_part = bitstream(Part::Xc2s30);
  count = static_cast<std::int32_t>(wrong_part.size());
  EXPECT_EQ(velnor_config(wrong_part.data(), &count), VELNOR_ERR_CRC);
}

// A file shorter than its header's length is refused before the FPGA is
// read or shut down: the running design stays, and not one TCK cycle runs.
TEST_F(ConfigurationTest, ATruncatedFileLeavesTheConfiguredFpgaUntouched) {
  Board& board = opened("chain=xcf02s,xc2s15");
  std::vector<std::uint8_t> good = bit_file(bitstream(Part::Xc2s15));
  TempFile good_file(good);
  std::int32_t count = 0;
  ASSERT_EQ(velnor_config(good_file.path(), &count), VELNOR_OK);
  for (std::size_t size : {std::size_t{5000}, good.size() - 1}) {
    SCOPED_TRACE(size);
    TempFile cut(std::vector<std::uint8_t>(good.begin(), good.begin() + size));
    board.trace().enable(true);
    board.trace().clear();
    count = 0;
    EXPECT_EQ(velnor_config(cut.path(), &count), VELNOR_ERR_FILE);
    EXPECT_EQ(board.trace().clock_count(), 0u);
    board.trace().enable(false);
    EXPECT_EQ(status_word() & STATUS_DONE, STATUS_DONE);
  }
}

TEST_F(ConfigurationTest, AConfiguredFpgaIsShutDownFirst) {
  opened("chain=xcf02s,xc2s100");
  std::vector<std::uint8_t> first = bitstream(Part::Xc2s100);
  std::vector<std::uint8_t> second = bitstream(Part::Xc2s100, BitstreamOptions{.seed = 7});
  std::int32_t count = static_cast<std::int32_t>(first.size());
  ASSERT_EQ(velnor_config(first.data(), &count), VELNOR_OK);
  std::vector<ShiftCall>& calls = record_shifts();
  count = static_cast<std::int32_t>(second.size());
  EXPECT_EQ(velnor_config(second.data(), &count), VELNOR_OK);
  std::size_t shutdown_words = 0;
  for (const ShiftCall& call : calls) shutdown_words += call.bit_count == 288;
  EXPECT_EQ(shutdown_words, 1u);
  EXPECT_EQ(status_word() & STATUS_DONE, STATUS_DONE);
}

TEST_F(ConfigurationTest, StartupClockAndModePins) {
  std::vector<std::uint8_t> cclk =
      bitstream(Part::Xc2s15, BitstreamOptions{.startup_clock = bench::StartupClock::Cclk});
  opened("chain=xc2s15;mode=master");
  std::int32_t count = static_cast<std::int32_t>(cclk.size());
  EXPECT_EQ(velnor_config(cclk.data(), &count), VELNOR_OK) << "CCLK runs in master-serial mode";
  opened("chain=xc2s15;mode=slave");
  count = static_cast<std::int32_t>(cclk.size());
  EXPECT_EQ(velnor_config(cclk.data(), &count), VELNOR_ERR_CRC) << "CCLK stands still";
  std::vector<std::uint8_t> jtag = bitstream(Part::Xc2s15);
  count = static_cast<std::int32_t>(jtag.size());
  EXPECT_EQ(velnor_config(jtag.data(), &count), VELNOR_OK);
}

// The chain dies between the target check and the status read: what comes
// back is no status.
TEST_F(ConfigurationTest, ADeadChainIsAStatusReadError) {
  static Board* board = nullptr;
  board = &opened("default");
  ASSERT_EQ(check_target(target()), VELNOR_OK);
  static CableOps original;
  original = jtag().cable.ops;
  jtag().cable.ops.shift = [](void* cable, const std::uint8_t* tdi, std::uint8_t* tdo,
                              std::uint32_t bits, int tms, int tms_last) {
    if (tdi != nullptr && bits == 64) board->set_target_powered(false);  // the STAT read packet
    return original.shift(cable, tdi, tdo, bits, tms, tms_last);
  };
  std::vector<std::uint8_t> data = bitstream(Part::Xc2s200);
  std::int32_t count = static_cast<std::int32_t>(data.size());
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(velnor_config(data.data(), &count), VELNOR_ERR_CRC);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "status read error\n");
  jtag().cable.ops = original;
  EXPECT_EQ(velnor_config(data.data(), &count), VELNOR_ERR_POWER_DOWN) << "sensed first";
}

// The vendor's own bitstreams for real boards, where the shared data is at
// hand, each from a copy of its own: the library opens files without
// sharing, and tests run side by side. (How the model refuses damaged real
// files is the bench's concern.)
TEST_F(ConfigurationTest, RealBitstreamsConfigureTheirParts) {
  const struct {
    const char* file;
    const char* chain;
  } kFiles[] = {
      {"XSA/50/test_board/test_board.bit", "chain=xc2s50"},
      {"XSA/100/test_board/test_board.bit", "chain=xcf02s,xc2s100"},
      {"XSA/100/fintf_jtag/fintf_jtag.bit", "chain=xc2s100;mode=slave"},
      {"XSA/200/test_board/test_board.bit", "chain=xc2s200,xcf04s"},
  };
  int found = 0;
  for (const auto& real : kFiles) {
    std::ifstream in(
        std::string(VELNOR_REALDATA_DIR) + "/HattonLe_XessCorp-Tools-CD/Examples/" + real.file,
        std::ios::binary);
    if (!in) continue;
    ++found;
    const TempFile file(std::vector<std::uint8_t>{std::istreambuf_iterator<char>(in), {}});
    opened(real.chain);
    std::int32_t count = 0;
    EXPECT_EQ(velnor_config(file.path(), &count), VELNOR_OK) << real.file;
    EXPECT_EQ(status_word() & (STATUS_DONE | STATUS_CRC_ERROR), STATUS_DONE);
  }
  if (found == 0) GTEST_SKIP() << "no real bitstreams at " << VELNOR_REALDATA_DIR;
}

}  // namespace
}  // namespace velnor::testing
