// Discovering chains: counts, identification against the device table, and
// the positions select_device hands the primitives.
#include "jtag/chain_scan.h"

#include <gtest/gtest.h>

#include "api/session.h"
#include "bench/bitstream.h"
#include "bench_fixture.h"
#include "jtag/tap.h"
#include "velnor.h"

namespace velnor::testing {
namespace {

using bench::Board;
using bench::TapState;

class ChainScanTest : public BenchTest {
 protected:
  Board& scanned(const std::string& description, bool expect_identified = true) {
    Board& board = board_for(description);
    open_parallel_cable();
    EXPECT_EQ(scan_chain(jtag()), expect_identified) << description;
    return board;
  }
};

TEST_F(ChainScanTest, DefaultBoardHoldsThePromThenTheFpga) {
  Board& board = scanned("default");
  ASSERT_EQ(jtag().device_count, 2);
  EXPECT_STREQ(session().target.jtag.devices[0].name, "xcf02s");
  EXPECT_EQ(session().target.jtag.devices[0].idcode, 0x05045093u);
  EXPECT_EQ(session().target.jtag.devices[0].ir_length, 8);
  EXPECT_EQ(session().target.jtag.devices[0].ir_capture, 0x01);
  EXPECT_STREQ(session().target.jtag.devices[1].name, "v200")
      << "the Virtex row of the shared code comes first";
  EXPECT_EQ(session().target.jtag.devices[1].idcode, 0x0061C093u);
  EXPECT_EQ(session().target.jtag.devices[1].ir_length, 5);
  EXPECT_EQ(session().target.jtag.devices[1].ir_capture, 0x19)
      << "DONE 0, INIT 1, PROGRAM 1, then 01";
  EXPECT_EQ(velnor_check_daisychain(), 1u);
  // 6+2+2 walk, 64 capture bits, 13 zeros and the one, 1+2+2 walk, 2 zeros
  // and the one, 1+6 reset, 1+2 walk, 64 IDCODE bits.
  EXPECT_EQ(board.trace().clock_count(), 170u);
  EXPECT_EQ(board.chain().device(0).state(), TapState::Exit1Dr);
}

TEST_F(ChainScanTest, TheDaisyChainAnswerIsTheLastScansWhileTheCableIsOpen) {
  board_for("default");
  open_parallel_cable();
  jtag().device_count = 0;  // as loaded: nothing has scanned yet
  EXPECT_EQ(velnor_check_daisychain(), 0u) << "no scan yet";
  ASSERT_EQ(velnor_scan_chain(nullptr), VELNOR_OK);
  EXPECT_EQ(velnor_check_daisychain(), 1u);
  velnor_free();
  EXPECT_EQ(velnor_check_daisychain(), 0u) << "no cable open";
  open_parallel_cable();
  EXPECT_EQ(velnor_check_daisychain(), 0u) << "a cable opened again may lead to another chain";
}

TEST_F(ChainScanTest, EverySpartanTwoAloneOnTheChain) {
  const struct {
    const char* part;
    const char* name;
    std::uint32_t idcode;
  } kParts[] = {
      {"xc2s15/v1", "2s15", 0x10608093},  {"xc2s30/v2", "2s30", 0x2060C093},
      {"xc2s50/v3", "2s50", 0x30610093},  {"xc2s100/v4", "v100", 0x40614093},
      {"xc2s150/va", "v150", 0xA0618093}, {"xc2s200/vf", "v200", 0xF061C093},
  };
  for (const auto& part : kParts) {
    SCOPED_TRACE(part.part);
    scanned(std::string("chain=") + part.part);
    ASSERT_EQ(jtag().device_count, 1);
    EXPECT_STREQ(session().target.jtag.devices[0].name, part.name);
    EXPECT_EQ(session().target.jtag.devices[0].idcode, part.idcode) << "version nibble kept";
    EXPECT_EQ(session().target.jtag.devices[0].ir_length, 5);
    EXPECT_EQ(select_device(jtag(), 0), part.idcode);
    EXPECT_EQ(velnor_check_daisychain(), 0u);
  }
}

TEST_F(ChainScanTest, SharedCodesResolveToTheFirstFittingRow) {
  scanned("chain=other:0x21428093:6,other:0x00610099:5,other:0x0A1C093:5");
  EXPECT_STREQ(session().target.jtag.devices[0].name, "3s1000") << "never 3s1500";
  EXPECT_STREQ(session().target.jtag.devices[1].name, "v50");
  EXPECT_STREQ(session().target.jtag.devices[2].name, "v200");
  EXPECT_EQ(velnor_check_daisychain(), 0u) << "three devices";
}

// Each fails the scan. Every counted device keeps its IDCODE; those no
// part fits have no name, and no IR length where two of them share the bits.
TEST_F(ChainScanTest, ChainsThatAreNotIdentified) {
  const struct {
    const char* description;
    int count;
    const char* named;  // per device: 'n' named, '-' not
  } kChains[] = {{"fault=tdo1", 0, ""},
                 {"fault=open", 0, ""},
                 {"chain=", 0, ""},
                 {"chain=other:0x0610093:5:0x03", 1, "-"},  // capture without the mandatory 01
                 {"chain=xcf02s,other:0x12345093:6,other:0x12347093:7,xc2s50", 4, "n--n"}};
  for (const auto& chain : kChains) {
    SCOPED_TRACE(chain.description);
    scanned(chain.description, false);
    ASSERT_EQ(jtag().device_count, chain.count);
    for (int i = 0; i < jtag().device_count; ++i) {
      EXPECT_EQ(jtag().devices[i].name != nullptr, chain.named[i] == 'n') << i;
    }
  }
  EXPECT_EQ(jtag().devices[1].idcode, 0x12345093u);
  EXPECT_EQ(jtag().devices[2].idcode, 0x12347093u);
  EXPECT_EQ(jtag().devices[1].ir_length + jtag().devices[2].ir_length, 0);
  scanned("chain=xcf02s,xc2s200;fault=open@1", false);  // a broken link inside the chain
}

// A part the table lacks (here a CoolRunner-II XC2C64A between the PROM and
// the FPGA) keeps its IDCODE, and as the only one it gets the IR bits the
// others leave of the measured total. Once added it is identified, and the
// FPGA beyond it is configured.
TEST_F(ChainScanTest, APartTheTableLacksIsListedAndCanBeAdded) {
  const char* const kBoard = "chain=xcf02s,other:0xF6E5E093:8,xc2s50";
  scanned(kBoard, false);
  ASSERT_EQ(jtag().device_count, 3);
  EXPECT_EQ(jtag().devices[1].name, nullptr);
  EXPECT_EQ(jtag().devices[1].idcode, 0xF6E5E093u);
  EXPECT_EQ(jtag().devices[1].ir_length, 8) << "21 bits measured, 8 + 5 identified";
  EXPECT_EQ(jtag().devices[1].ir_capture, 0x01);
  EXPECT_STREQ(jtag().devices[2].name, "2s50") << "placed from the TDI end";
  std::vector<std::uint8_t> data = bench::make_bitstream({.part = bench::Part::Xc2s50});
  std::int32_t count = static_cast<std::int32_t>(data.size());
  EXPECT_EQ(velnor_config(data.data(), &count), VELNOR_ERR_NO_TARGET);

  const struct {
    const char* name;
    std::uint32_t idcode;
    std::int32_t ir_length;
  } kRefused[] = {{nullptr, 0x06E5E093, 8},
                  {"", 0x06E5E093, 8},
                  {"fifteen-letters", 0x06E5E092, 8},
                  {"sixteen-letters!", 0x06E5E093, 8},
                  {"open", 0xFFFFFFFF, 8},
                  {"short", 0x06E5E093, 1},
                  {"long", 0x06E5E093, 33}};
  for (const auto& part : kRefused) {
    EXPECT_EQ(velnor_add_part(part.name, part.idcode, part.ir_length), VELNOR_ERR_FORMAT)
        << (part.name ? part.name : "null") << " " << part.ir_length;
  }
  ASSERT_EQ(velnor_add_part("xc2c64a", 0x06E5E093, 8), VELNOR_OK);
  count = -1;
  EXPECT_EQ(velnor_scan_chain(&count), VELNOR_OK);
  EXPECT_STREQ(jtag().devices[1].name, "xc2c64a");
  EXPECT_EQ(jtag().devices[1].idcode, 0xF6E5E093u) << "any version nibble";
  count = static_cast<std::int32_t>(data.size());
  EXPECT_EQ(velnor_config(data.data(), &count), VELNOR_OK);
  for (std::uint32_t i = 1; i < 16; ++i)
    EXPECT_EQ(velnor_add_part("more", 2 * i + 1, 4), VELNOR_OK);
  EXPECT_EQ(velnor_add_part("full", 0x0000003F, 4), VELNOR_ERR_FORMAT) << "16 parts at most";
}

TEST_F(ChainScanTest, TdoStuckLowIsBoundedAndFindsNoDevice) {
  Board& board = scanned("fault=tdo0", false);
  EXPECT_EQ(jtag().device_count, 0);
  // Both counts stop after 64 clocks; nothing reads IDCODEs.
  EXPECT_EQ(board.trace().clock_count(), 6u + 2 + 2 + 64 + 64 + 1 + 2 + 2 + 64 + 1 + 6);
}

TEST_F(ChainScanTest, MoreDevicesThanTheTableHoldsFailWithoutOverflow) {
  std::string chain = "chain=xc2s15";
  for (int i = 0; i < 8; ++i) chain += ",xc2s15";
  scanned(chain, false);
  EXPECT_EQ(jtag().device_count, 9);
  EXPECT_EQ(select_device(jtag(), 0), 0u) << "nothing to select on a failed, overfull chain";
}

TEST_F(ChainScanTest, EightDevicesAreTheMost) {
  std::string chain = "chain=xcf04s";
  for (int i = 0; i < 7; ++i) chain += ",xc2s30";
  scanned(chain);
  EXPECT_EQ(jtag().device_count, 8);
  EXPECT_STREQ(session().target.jtag.devices[7].name, "2s30");
}

TEST_F(ChainScanTest, SelectDeviceFillsThePositionForEveryIndex) {
  auto expect_position = [](const ChainPosition& expected) {
    SCOPED_TRACE(expected.index);
    EXPECT_EQ(session().target.jtag.position.index, expected.index);
    EXPECT_EQ(session().target.jtag.position.ir_lead, expected.ir_lead);
    EXPECT_EQ(session().target.jtag.position.ir_trail, expected.ir_trail);
    EXPECT_EQ(session().target.jtag.position.dr_lead, expected.dr_lead);
    EXPECT_EQ(session().target.jtag.position.dr_trail, expected.dr_trail);
    EXPECT_EQ(session().target.jtag.position.bypass_bits, expected.bypass_bits);
  };
  scanned("chain=xcf02s,xc2s50");
  EXPECT_EQ(select_device(jtag(), 1), 0x00610093u);
  expect_position({1, 8, 0, 1, 0, 0});
  EXPECT_EQ(select_device(jtag(), 0), 0x05045093u);
  expect_position({0, 0, 5, 0, 1, 1});

  scanned("chain=xc2s15,xcf01s,xc2s30,xcf04s");
  for (const ChainPosition& expected : {ChainPosition{0, 0, 21, 0, 3, 3},
                                        {1, 5, 13, 1, 2, 2},
                                        {2, 13, 8, 2, 1, 1},
                                        {3, 18, 0, 3, 0, 0}}) {
    EXPECT_NE(select_device(jtag(), expected.index), 0u);
    expect_position(expected);
  }
  EXPECT_EQ(select_device(jtag(), 4), 0u) << "index equal to the count";
  EXPECT_EQ(select_device(jtag(), -1), 0u);
  EXPECT_EQ(session().target.jtag.position.index, 3) << "unchanged by a refused selection";
}

TEST_F(ChainScanTest, ScanExportChecksPowerFirstAndReportsTheCount) {
  Board& board = board_for("power=off");
  open_parallel_cable();
  std::int32_t count = -1;
  EXPECT_EQ(velnor_scan_chain(&count), VELNOR_ERR_POWER_DOWN);
  EXPECT_EQ(board.trace().clock_count(), 0u);
  EXPECT_EQ(count, -1);

  board_for("chain=xcf02s,other:0x12345093:6");
  open_parallel_cable();
  EXPECT_EQ(velnor_scan_chain(&count), VELNOR_ERR_NO_TARGET);
  EXPECT_EQ(count, 2);
  VelnorChainDevice device;
  ASSERT_EQ(velnor_chain_device(0, &device), 1u);
  EXPECT_STREQ(device.name, "xcf02s");
  ASSERT_EQ(velnor_chain_device(1, &device), 1u);
  EXPECT_STREQ(device.name, "");
  EXPECT_EQ(velnor_chain_device(2, &device), 0u);
}

// Bit strings as the scan hands them over: most significant bit first in each
// byte, every value least significant bit first in the stream.
TEST(IdentifyDevices, ReadsValuesFromTheStreamsLeastSignificantBitFirst) {
  // IR: "10011" (0x19, five bits) then "10000000" (0x01, eight bits).
  const std::uint8_t ir[] = {0b10011100, 0b00000000};
  // IDCODEs 0x0061C093 then 0xD5045093, each least significant bit first.
  std::uint8_t id[8];
  std::uint32_t codes[] = {0x0061C093, 0xD5045093};
  for (int p = 0; p < 64; ++p) {
    const bool bit = (codes[p / 32] >> (p % 32)) & 1;
    if (p % 8 == 0) id[p / 8] = 0;
    if (bit) id[p / 8] |= static_cast<std::uint8_t>(0x80 >> (p % 8));
  }
  ChainDevice table[2];
  ASSERT_TRUE(identify_devices(table, 2, AddedParts{}, ir, 13, id));
  EXPECT_STREQ(table[0].name, "v200");
  EXPECT_EQ(table[0].ir_capture, 0x19);
  EXPECT_STREQ(table[1].name, "xcf02s");
  EXPECT_EQ(table[1].ir_capture, 0x01);
  EXPECT_FALSE(identify_devices(table, 1, AddedParts{}, ir, 13, id))
      << "the registers must fill the measured total";
  EXPECT_FALSE(identify_devices(table, 2, AddedParts{}, ir, 4, id))
      << "a register longer than the measured bits cannot be that part";
  EXPECT_EQ(table[1].idcode, 0xD5045093u);
}

}  // namespace
}  // namespace velnor::testing
