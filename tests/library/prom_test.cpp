// The configuration PROM: finding it, the exact ISC sequences, and what ends
// up in the part's memory.
#include "prom/prom.h"

#include <gtest/gtest.h>

#include "api/session.h"
#include "bench_fixture.h"
#include "jtag/chain_scan.h"
#include "jtag/tap.h"
#include "velnor.h"

namespace velnor::testing {
namespace {

using bench::Board;

std::vector<std::uint8_t> pattern(std::size_t size, unsigned seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 13 + seed + i / 509);
  return bytes;
}

class PromTest : public BenchTest {
 protected:
  Board& opened(const std::string& description, bool traced = true) {
    Board& board = board_for(description, traced);
    open_parallel_cable();
    return board;
  }
  std::vector<std::uint8_t> read(std::int32_t address, std::int32_t length) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    EXPECT_EQ(velnor_cfgrom_read(bytes.data(), static_cast<std::uint32_t>(address),
                                 static_cast<std::uint32_t>(length)),
              VELNOR_OK);
    return bytes;
  }
};

// The chain scans among the shift calls: only a scan reads 64 bits that stay
// in Shift-IR (the captured instruction registers).
std::size_t scans(const std::vector<ShiftCall>& calls) {
  std::size_t count = 0;
  for (const ShiftCall& call : calls) {
    count += call.bit_count == 64 && call.reads_tdo && call.tdi.empty() && call.tms_last == 0;
  }
  return count;
}

TEST_F(PromTest, TheCheckFindsThePromAndThenReselectsIt) {
  Board& board = opened("chain=xcf02s,xc2s200");
  EXPECT_EQ(check_prom(target()), VELNOR_OK);
  EXPECT_EQ(session().target.prom_index, 0);
  EXPECT_EQ(session().target.jtag.position.ir_trail, 5);
  std::vector<ShiftCall>& calls = record_shifts();
  EXPECT_EQ(check_prom(target()), VELNOR_OK);
  EXPECT_EQ(scans(calls), 0u) << "still there: read back, not scanned";
  EXPECT_EQ(session().target.prom_index, 0);
  (void)board;
}

TEST_F(PromTest, PartsTheCheckRefuses) {
  for (const char* description : {"chain=other:0x05057093:16,xc2s200", "chain=xc2s200"}) {
    opened(description);
    EXPECT_EQ(check_prom(target()), VELNOR_ERR_NO_TARGET) << description;
    EXPECT_EQ(session().target.prom_index, -1);
  }
  Board& board = opened("chain=xcf02s,xc2s200;power=off");
  std::uint8_t byte = 0;
  EXPECT_EQ(velnor_cfgrom_read(&byte, 0, 1), VELNOR_ERR_POWER_DOWN);
  EXPECT_EQ(velnor_cfgrom_erase(), VELNOR_ERR_POWER_DOWN);
  EXPECT_EQ(board.trace().clock_count(), 0u);
}

TEST_F(PromTest, FpgaAndPromChecksRescanAtEachSwitch) {
  opened("chain=xcf02s,xc2s200");
  std::vector<ShiftCall>& calls = record_shifts();
  std::uint8_t byte = 0;
  ASSERT_EQ(velnor_get_status(nullptr, nullptr, nullptr), VELNOR_OK);
  ASSERT_EQ(velnor_get_status(nullptr, nullptr, nullptr), VELNOR_OK);
  EXPECT_EQ(scans(calls), 1u);
  ASSERT_EQ(velnor_cfgrom_read(&byte, 0, 0), VELNOR_OK);
  EXPECT_EQ(scans(calls), 2u);
  EXPECT_EQ(session().target.fpga_index, -1);
  ASSERT_EQ(velnor_get_status(nullptr, nullptr, nullptr), VELNOR_OK);
  EXPECT_EQ(scans(calls), 3u);
  EXPECT_EQ(session().target.prom_index, -1);
  ASSERT_EQ(velnor_cfgrom_read(&byte, 0, 1), VELNOR_OK);
  EXPECT_EQ(scans(calls), 4u);
}

TEST(PromAddress, CountsThirtyTwoUnitsPerPage) {
  const struct {
    std::uint32_t idcode;
    std::int32_t address;
    std::uint32_t expected;
  } kCases[] = {{0x05045093, 4096, 256},
                {0x05045093, 600, 32},     // block 1
                {0x05044093, 4096, 512}};  // XCF01S, 2048-bit pages
  for (const auto& c : kCases) {
    EXPECT_EQ(prom_address_value(*prom_part(c.idcode), c.address), c.expected) << c.address;
  }
  EXPECT_EQ(prom_part(0x05057093), nullptr) << "an XCF08P";
}

TEST_F(PromTest, ReadsLoadAnAddressPer1024Bytes) {
  opened("chain=xcf02s,xc2s200");
  ASSERT_EQ(check_prom(target()), VELNOR_OK);
  std::vector<ShiftCall>& calls = record_shifts();
  std::vector<std::uint8_t> bytes(1500);
  ASSERT_EQ(velnor_cfgrom_read(bytes.data(), 0, 1500), VELNOR_OK);
  std::vector<std::uint32_t> data_scans;
  std::size_t address_loads = 0;
  for (const ShiftCall& call : calls) {
    if (call.reads_tdo && call.bit_count >= 8 * 476) data_scans.push_back(call.bit_count);
    address_loads += call.bit_count == 16 && !call.tdi.empty();
  }
  EXPECT_EQ(data_scans, (std::vector<std::uint32_t>{8192, 3808}));
  EXPECT_EQ(address_loads, 2u);

  calls.clear();
  EXPECT_EQ(velnor_cfgrom_read(bytes.data(), 0, 0), VELNOR_OK);
  for (const ShiftCall& call : calls) EXPECT_FALSE(call.bit_count == 16 && !call.tdi.empty());
}

TEST_F(PromTest, ProgrammingShiftsWholeBlocksAndEraseWaits) {
  Board& board = opened("chain=xcf02s,xc2s200");
  ASSERT_EQ(check_prom(target()), VELNOR_OK);
  std::vector<ShiftCall>& calls = record_shifts();
  const std::vector<std::uint8_t> image = pattern(1024, 1);
  const std::uint64_t start_ms = board.clock().now_ms();
  ASSERT_EQ(velnor_cfgrom_program(image.data(), 0, 1024), VELNOR_OK);
  EXPECT_GE(board.clock().now_ms() - start_ms, 110u + 2 * 14);
  std::size_t blocks = 0, address_loads = 0;
  for (const ShiftCall& call : calls) {
    blocks += call.bit_count == 4096;
    address_loads += call.bit_count == 16 && !call.tdi.empty();
  }
  EXPECT_EQ(blocks, 2u);
  EXPECT_EQ(address_loads, 1u);

  calls.clear();
  ASSERT_EQ(velnor_cfgrom_program(image.data(), 0, 1000), VELNOR_OK);
  blocks = 0;
  for (const ShiftCall& call : calls) blocks += call.bit_count == 4096;
  EXPECT_EQ(blocks, 1u) << "the last 488 bytes are not written";

  calls.clear();
  ASSERT_EQ(velnor_cfgrom_program(image.data(), 0, 0), VELNOR_OK);
  for (const ShiftCall& call : calls) EXPECT_NE(call.bit_count, 4096u);

  const std::uint64_t erase_start_ms = board.clock().now_ms();
  EXPECT_EQ(velnor_cfgrom_erase(), VELNOR_OK);
  EXPECT_GE(board.clock().now_ms() - erase_start_ms, 15110u) << "fifteen seconds of erase";
}

TEST_F(PromTest, RangesOutsideTheInterfaceAreRefusedUntouched) {
  Board& board = opened("chain=xcf01s,xc2s200");
  std::uint8_t byte = 0;
  ASSERT_EQ(check_prom(target()), VELNOR_OK);
  board.trace().clear();
  ASSERT_EQ(check_prom(target()), VELNOR_OK);
  const std::uint64_t check_clocks = board.trace().clock_count();
  board.trace().clear();
  EXPECT_EQ(velnor_cfgrom_read(&byte, 0xFFFFFE00u, 1), VELNOR_ERR_FORMAT);
  EXPECT_EQ(velnor_cfgrom_read(&byte, 0, 0x80000000u), VELNOR_ERR_FORMAT);
  EXPECT_EQ(velnor_cfgrom_read(nullptr, 0, 1), VELNOR_ERR_FORMAT);
  EXPECT_EQ(velnor_cfgrom_read(&byte, 128 * 1024, 1), VELNOR_ERR_FORMAT) << "past the XCF01S";
  EXPECT_EQ(velnor_cfgrom_program(&byte, 0, 0xFFFFFFFFu), VELNOR_ERR_FORMAT);
  const std::vector<std::uint8_t> block = pattern(1024, 2);
  EXPECT_EQ(velnor_cfgrom_program(block.data(), 127 * 1024 + 512, 1024), VELNOR_ERR_FORMAT);
  EXPECT_EQ(board.trace().clock_count(), 2 * check_clocks)
      << "only the ranges past the part's end needed the part checked";
  EXPECT_EQ(velnor_cfgrom_program(block.data(), 127 * 1024 + 512, 512), VELNOR_OK)
      << "the last block";
}

// Real parts report steppings such as 0xD and 0xF in the IDCODE's top
// nibble; every stepping is the same part to program.
TEST_F(PromTest, ImagesReadBackOnEveryPartAndSteppingAtTheFirstAndLastBlocks) {
  const struct {
    const char* chain;
    std::int32_t size;
    std::uint32_t idcode;
  } kParts[] = {{"chain=xcf01s,xc2s50", 128 * 1024, 0x05044093},
                {"chain=xcf02s/vd,xc2s50", 256 * 1024, 0xD5045093},
                {"chain=xc2s50,xcf04s/vf", 512 * 1024, 0xF5046093}};
  for (const auto& part : kParts) {
    opened(part.chain, false);
    std::uint32_t idcode = 0;
    ASSERT_EQ(velnor_cfgrom_info(&idcode, nullptr), VELNOR_OK) << part.chain;
    EXPECT_EQ(idcode, part.idcode) << "as read, version nibble included";
    ASSERT_EQ(velnor_cfgrom_erase(), VELNOR_OK);
    EXPECT_EQ(read(0, 700), std::vector<std::uint8_t>(700, 0xFF)) << part.chain;
    const std::vector<std::uint8_t> first = pattern(1536, 3);
    const std::vector<std::uint8_t> last = pattern(1024, 4);
    ASSERT_EQ(velnor_cfgrom_program(first.data(), 0, 1536), VELNOR_OK);
    ASSERT_EQ(
        velnor_cfgrom_program(last.data(), static_cast<std::uint32_t>(part.size - 1024), 1024),
        VELNOR_OK);
    EXPECT_EQ(read(0, 1536), first) << part.chain;
    EXPECT_EQ(read(part.size - 1024, 1024), last) << part.chain;
    EXPECT_EQ(read(1536, 512), std::vector<std::uint8_t>(512, 0xFF)) << part.chain;
    // 700 bytes: one whole block is written, the 188 after it are not.
    const std::vector<std::uint8_t> partial = pattern(700, 5);
    ASSERT_EQ(velnor_cfgrom_program(partial.data(), 4096, 700), VELNOR_OK);
    std::vector<std::uint8_t> expected(partial.begin(), partial.begin() + 512);
    expected.resize(1024, 0xFF);
    EXPECT_EQ(read(4096, 1024), expected) << part.chain;
  }
}

TEST_F(PromTest, ProgrammingOverDataLeavesTheAnd) {
  opened("chain=xcf02s,xc2s200", false);
  ASSERT_EQ(velnor_cfgrom_erase(), VELNOR_OK);
  const std::vector<std::uint8_t> a = pattern(512, 5), b = pattern(512, 77);
  ASSERT_EQ(velnor_cfgrom_program(a.data(), 2048, 512), VELNOR_OK);
  ASSERT_EQ(velnor_cfgrom_program(b.data(), 2048, 512), VELNOR_OK);
  std::vector<std::uint8_t> both(512);
  for (std::size_t i = 0; i < 512; ++i) both[i] = a[i] & b[i];
  EXPECT_EQ(read(2048, 512), both);
}

TEST_F(PromTest, AWholePromInVirtualTime) {
  Board& board = opened("chain=xc2s200,xcf04s", false);
  ASSERT_EQ(velnor_cfgrom_erase(), VELNOR_OK);
  const std::vector<std::uint8_t> image = pattern(512 * 1024, 9);
  const std::uint64_t start_ms = board.clock().now_ms();
  ASSERT_EQ(velnor_cfgrom_program(image.data(), 0, 512 * 1024), VELNOR_OK);
  EXPECT_GE(board.clock().now_ms() - start_ms, 1024u * 14);
  EXPECT_EQ(read(0, 512 * 1024), image);
}

}  // namespace
}  // namespace velnor::testing
