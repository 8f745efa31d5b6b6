// The user channels and the memory-access protocol against the bench's
// designs: exact clocks where the framing matters, and the bytes that come
// back.
#include "fpga/user_channel.h"

#include <gtest/gtest.h>

#include <numeric>

#include "api/session.h"
#include "bench/bitstream.h"
#include "bench/spartan2.h"
#include "bench_fixture.h"
#include "velnor.h"

namespace velnor::testing {
namespace {

using bench::Board;

class UserChannelTest : public BenchTest {
 protected:
  // A board whose FPGA is configured, with the trace cleared and on when
  // asked for.
  Board& configured(const std::string& description, bool traced = false) {
    Board& board = board_for(description);
    open_parallel_cable();
    bench::BitstreamOptions options;
    options.part = board.fpga()->part();
    std::vector<std::uint8_t> data = bench::make_bitstream(options);
    std::int32_t count = static_cast<std::int32_t>(data.size());
    board.trace().enable(false);
    EXPECT_EQ(velnor_config(data.data(), &count), VELNOR_OK);
    board.trace().enable(traced);
    board.trace().clear();
    return board;
  }

  std::uint32_t transfer(std::uint8_t channel, const std::vector<std::uint8_t>& transmit,
                         std::vector<std::uint8_t>* receive) {
    receive->assign(transmit.size(), 0xEE);
    std::int32_t count = static_cast<std::int32_t>(transmit.size());
    const std::uint32_t result = velnor_spi_xfer(channel, transmit.data(), receive->data(), &count);
    EXPECT_EQ(count, 0);
    return result;
  }
};

// What the loopback design answers: its greeting, then each byte one later.
std::vector<std::uint8_t> looped(const std::vector<std::uint8_t>& sent, std::uint8_t first) {
  std::vector<std::uint8_t> expected(sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) expected[i] = i == 0 ? first : sent[i - 1];
  return expected;
}

std::vector<std::uint8_t> pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return bytes;
}

// A new frame starts with the target check's IDCODE read back: TAP reset,
// the instruction, 32 bits.
const std::string kIdcodeReadTms = bits("111110 1100 00001 1 100") + std::string(31, '0') + "11";
const std::string kIdcodeReadTdi = bits("000000 0000 10010 0 000") + std::string(33, '0');

TEST_F(UserChannelTest, OneByteOnALoneFpgaLeavesTheScanOpen) {
  Board& board = configured("chain=xc2s15;design=loopback", true);
  std::vector<std::uint8_t> received;
  EXPECT_EQ(transfer(1, {0x01}, &received), VELNOR_OK);
  EXPECT_EQ(received[0], 0xA5);
  EXPECT_EQ(board.trace().tms_bits(),
            kIdcodeReadTms + bits("111110 0 1100 0000 1 1 100 0 00000000"));
  EXPECT_EQ(board.trace().tdi_bits(),
            kIdcodeReadTdi + bits("000000 0 0000 0100 0 0 000 1 00000001"));
  EXPECT_EQ(board.chain().device(0).state(), bench::TapState::ShiftDr);

  board.trace().clear();
  EXPECT_EQ(transfer(1, {0x3C}, &received), VELNOR_OK);
  EXPECT_EQ(board.trace().tms_bits(), "00000000") << "no reset, instruction or start bit";
  EXPECT_EQ(received[0], 0x01);

  board.trace().clear();
  EXPECT_EQ(velnor_spi_xfer(0, nullptr, nullptr, nullptr), VELNOR_OK);
  EXPECT_EQ(board.trace().tms_bits(), kIdcodeReadTms + bits("111110 0"));
  EXPECT_EQ(session().target.open_channel, 0);
}

TEST_F(UserChannelTest, AStatusReadBetweenTransfersEndsTheFrame) {
  Board& board = configured("chain=xc2s15;design=loopback", true);
  std::vector<std::uint8_t> received;
  ASSERT_EQ(transfer(1, {0x01}, &received), VELNOR_OK);
  std::uint32_t status = 0;
  ASSERT_EQ(velnor_get_status(nullptr, &status, nullptr), VELNOR_OK);
  board.trace().clear();
  EXPECT_EQ(transfer(1, {0x02}, &received), VELNOR_OK);
  EXPECT_EQ(received[0], 0xA5) << "a new frame, opened with its start bit";
  EXPECT_EQ(board.trace().tdi_bits().substr(board.trace().clock_count() - 9), bits("1 00000010"));
}

TEST_F(UserChannelTest, ChannelTwoAnswersWithItsOwnGreeting) {
  configured("chain=xc2s50;design=loopback");
  std::vector<std::uint8_t> received;
  EXPECT_EQ(transfer(2, {0x10, 0x20}, &received), VELNOR_OK);
  EXPECT_EQ(received, looped({0x10, 0x20}, 0x5A));
}

TEST_F(UserChannelTest, PadBitsAroundTheFpga) {
  const struct {
    const char* board;
    std::uint32_t pad;  // with a receive area
  } kBoards[] = {
      {"chain=xcf02s,xc2s15;design=loopback", 1},  // one device towards TDO
      {"chain=xc2s30,xcf02s;design=loopback", 1},  // one towards TDI
      {"chain=xcf01s,xc2s50,xcf02s,xcf04s;design=loopback", 3},
  };
  const std::vector<std::uint8_t> sent = {0xDE, 0xAD, 0xBE, 0xEF};
  for (const auto& board : kBoards) {
    configured(board.board);
    std::vector<ShiftCall>& calls = record_shifts();
    std::vector<std::uint8_t> received;
    EXPECT_EQ(transfer(1, sent, &received), VELNOR_OK) << board.board;
    EXPECT_EQ(received, looped(sent, 0xA5)) << board.board;
    bool padded = false;
    for (const ShiftCall& call : calls) padded |= call.bit_count == 32 + board.pad && call.tms_last;
    EXPECT_TRUE(padded) << board.board;
    // Every transfer is a frame of its own: the next one starts afresh.
    EXPECT_EQ(transfer(1, sent, &received), VELNOR_OK);
    EXPECT_EQ(received, looped(sent, 0xA5)) << board.board;
  }
}

TEST_F(UserChannelTest, LongTransfersGoInPiecesOf4096) {
  for (const char* description :
       {"chain=xc2s15;design=loopback", "chain=xcf02s,xc2s15;design=loopback"}) {
    configured(description);
    const std::vector<std::uint8_t> sent = pattern(10000);
    std::vector<ShiftCall>& calls = record_shifts();
    std::vector<std::uint8_t> received;
    EXPECT_EQ(transfer(1, sent, &received), VELNOR_OK);
    std::vector<std::int32_t> counts;
    for (const ShiftCall& call : calls) {
      if (call.bit_count >= 8 * 1808) counts.push_back(call.count_word);
    }
    EXPECT_EQ(counts, (std::vector<std::int32_t>{10000, 5904, 1808})) << description;
    EXPECT_EQ(received, looped(sent, 0xA5)) << description;
    velnor_spi_xfer(0, nullptr, nullptr, nullptr);
  }
}

TEST_F(UserChannelTest, ZeroBytesOpenTheChannelWithItsStartBit) {
  Board& board = configured("chain=xc2s100;design=loopback", true);
  std::int32_t count = 0;
  EXPECT_EQ(velnor_spi_xfer(1, nullptr, nullptr, &count), VELNOR_OK);
  const std::string tdi = board.trace().tdi_bits();
  EXPECT_EQ(tdi.back(), '1');
  EXPECT_EQ(session().target.open_channel, 1);
  std::vector<std::uint8_t> received;
  EXPECT_EQ(transfer(1, {0x42}, &received), VELNOR_OK);
  EXPECT_EQ(received[0], 0xA5) << "the frame the empty transfer opened goes on";
}

TEST_F(UserChannelTest, TransferOnTheWorkerThread) {
  configured("chain=xcf02s,xc2s15;design=loopback");
  const std::vector<std::uint8_t> sent = pattern(20000);
  std::vector<std::uint8_t> received(sent.size() + 2);
  std::int32_t count = static_cast<std::int32_t>(VELNOR_COUNT_BACKGROUND | sent.size());
  std::uint32_t result = velnor_spi_xfer(1, sent.data(), received.data(), &count);
  while (result == VELNOR_BUSY) result = velnor_spi_xfer(1, nullptr, nullptr, nullptr);
  EXPECT_EQ(result, VELNOR_OK);
  EXPECT_EQ(count, 0);
  received.resize(sent.size());
  EXPECT_EQ(received, looped(sent, 0xA5));
}

TEST_F(UserChannelTest, FreeWaitsForARunningTransfer) {
  configured("chain=xc2s15;design=loopback");
  const std::vector<std::uint8_t> sent = pattern(200000);
  std::vector<std::uint8_t> received(sent.size());
  std::int32_t count = static_cast<std::int32_t>(VELNOR_COUNT_BACKGROUND | sent.size());
  velnor_spi_xfer(1, sent.data(), received.data(), &count);
  EXPECT_EQ(velnor_free(), 0u);
  EXPECT_EQ(count, 0) << "the transfer ran to its end before the cable closed";
  EXPECT_EQ(session().worker.state.load(), WORKER_DONE);
  EXPECT_EQ(velnor_get_status(nullptr, nullptr, nullptr), VELNOR_ERR_PROBE);
  EXPECT_EQ(velnor_spi_xfer(1, nullptr, nullptr, nullptr), VELNOR_OK) << "its result, once";
  EXPECT_EQ(velnor_spi_xfer(1, nullptr, nullptr, nullptr), VELNOR_ERR_PROBE);
  EXPECT_EQ(received, looped(sent, 0xA5));
}

TEST_F(UserChannelTest, TransfersNeedAnOpenCableAndAFreeSlot) {
  configured("chain=xc2s15;design=loopback");
  session().worker.state.store(WORKER_RUNNING);
  std::int32_t count = 1;
  const std::uint8_t byte = 0;
  EXPECT_EQ(velnor_spi_xfer(1, &byte, nullptr, &count), VELNOR_BUSY);
  session().worker.state.store(WORKER_IDLE);
  velnor_free();
  EXPECT_EQ(velnor_spi_xfer(1, &byte, nullptr, &count), VELNOR_ERR_PROBE);
  std::uint8_t buffer[4] = {};
  EXPECT_EQ(jmem_access(VELNOR_JMEM_WRITE, 0, buffer, 4), VELNOR_ERR_PROBE);
}

class MemoryAccessTest : public UserChannelTest {};

TEST_F(MemoryAccessTest, WriteFrameOfTwoRecords) {
  configured("chain=xc2s15");
  std::vector<std::uint8_t> data = pattern(100);
  std::vector<ShiftCall>& calls = record_shifts();
  EXPECT_EQ(jmem_access(VELNOR_JMEM_WRITE, 0x1000, data.data(), 100), 0u);
  std::vector<std::uint8_t> frame = {0x80, 0x00, 0x10, 0x00, 0x7F};
  frame.insert(frame.end(), data.begin(), data.begin() + 63);
  frame.push_back(0x65);
  frame.insert(frame.end(), data.begin() + 63, data.end());
  frame.push_back(0x00);
  ASSERT_EQ(frame.size(), 107u);
  bool sent = false;
  for (const ShiftCall& call : calls) sent |= call.tdi == frame;
  EXPECT_TRUE(sent);
  std::vector<std::uint8_t> back(100);
  EXPECT_EQ(jmem_access(VELNOR_JMEM_READ, 0x1000, back.data(), 100), 0u);
  EXPECT_EQ(back, data);
}

TEST_F(MemoryAccessTest, ReadFrameAndItsDataTwoBytesLater) {
  configured("chain=xc2s15");
  std::uint8_t data[3] = {0x11, 0x22, 0x33};
  ASSERT_EQ(jmem_access(VELNOR_JMEM_WRITE, 0x20, data, 3), 0u);
  std::vector<ShiftCall>& calls = record_shifts();
  std::uint8_t back[3] = {};
  EXPECT_EQ(jmem_access(VELNOR_JMEM_READ, 0x20, back, 3), 0u);
  const std::vector<std::uint8_t> frame = {0x80, 0x00, 0x00, 0x20, 0x21, 0x21, 0x21, 0x00, 0x00};
  bool sent = false;
  for (const ShiftCall& call : calls) sent |= call.tdi == frame && call.reads_tdo;
  EXPECT_TRUE(sent);
  EXPECT_EQ(std::vector<std::uint8_t>(back, back + 3), std::vector<std::uint8_t>(data, data + 3));
}

TEST_F(MemoryAccessTest, VerifyReportsTheFirstDifference) {
  configured("default");
  std::uint8_t data[4] = {1, 2, 3, 4};
  ASSERT_EQ(jmem_access(VELNOR_JMEM_WRITE, 0x20, data, 4), 0u);
  EXPECT_EQ(jmem_access(VELNOR_JMEM_VERIFY, 0x20, data, 4), 0u);
  data[1] = 9;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(jmem_access(VELNOR_JMEM_VERIFY, 0x20, data, 4), 1u);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Verify error 00000021\n");
}

TEST_F(MemoryAccessTest, PassesStopAtEveryPageEnd) {
  for (const char* description : {"chain=xc2s15", "default", "chain=xc2s30,xcf04s"}) {
    configured(description);
    const std::uint32_t kStarts[] = {0xFFF0, 0x1FFFF, 0x000F0000 - 3, 0x12345678};
    for (std::uint32_t start : kStarts) {
      std::vector<std::uint8_t> data = pattern(40);
      data[0] = static_cast<std::uint8_t>(start);
      ASSERT_EQ(jmem_access(VELNOR_JMEM_WRITE, start, data.data(), 40), 0u);
      std::vector<std::uint8_t> back(40);
      ASSERT_EQ(jmem_access(VELNOR_JMEM_READ, start, back.data(), 40), 0u);
      EXPECT_EQ(back, data) << description << " at " << start;
    }
  }
}

TEST_F(MemoryAccessTest, BlocksLargerThanAFrame) {
  configured("chain=xcf02s,xc2s30");
  std::vector<std::uint8_t> data = pattern(20000);
  EXPECT_EQ(jmem_access(VELNOR_JMEM_WRITE, 0x30000, data.data(), 20000), 0u);
  std::vector<std::uint8_t> back(20000);
  EXPECT_EQ(jmem_access(VELNOR_JMEM_READ, 0x30000, back.data(), 20000), 0u);
  EXPECT_EQ(back, data);
  EXPECT_EQ(jmem_access(VELNOR_JMEM_VERIFY, 0x30000, data.data(), 20000), 0u);
  EXPECT_EQ(jmem_access(VELNOR_JMEM_READ, 0, nullptr, 0), 0u);
}

}  // namespace
}  // namespace velnor::testing
