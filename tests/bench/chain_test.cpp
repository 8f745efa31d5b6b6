#include "bench/chain.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "bench/jtag_driver.h"
#include "bench/trace.h"

namespace velnor::bench {
namespace {

using testing::bits;
using testing::JtagDriver;
using testing::ones;
using testing::zeros;

// IDCODEs in shift order (LSB first), written out from their hex values.
const std::string kXcf02sVd = "11001001000010100010000010101011";  // 0xD5045093
const std::string kXc2s200 = "11001001000000111000011000000000";   // 0x0061C093
const std::string kXc2s15V1 = "11001001000000010000011000001000";  // 0x10608093
const std::string kOther = "11001001000010100010110001001000";     // 0x12345093

// The default board's chain: XCF02S nearest TDO, XC2S200 nearest TDI.
struct DefaultChain {
  DefaultChain() {
    chain.add(make_part(Part::Xcf02s, 0xD));
    chain.add(make_part(Part::Xc2s200, 0));
    jtag.reset();
  }
  Chain chain;
  JtagDriver jtag{chain};
};

TEST(Chain, IdcodesAfterResetComeOutNearestTdoFirst) {
  DefaultChain c;
  EXPECT_EQ(c.jtag.shift_dr(zeros(64)), kXcf02sVd + kXc2s200);
  // The zeros shifted in are what the next capture overwrites, not what comes out.
  EXPECT_EQ(c.jtag.shift_dr(ones(66)), kXcf02sVd + kXc2s200 + "11");
}

TEST(Chain, BypassDelaysByOneBitPerDevice) {
  DefaultChain c;
  c.chain.add(make_generic_device(0x12345093, 6, 0x1));
  c.jtag.reset();
  EXPECT_EQ(c.jtag.shift_ir(ones(8 + 5 + 6)), bits("10000000 10011 100000"));
  EXPECT_EQ(c.jtag.shift_dr("1011001"), bits("000 1011"));
  EXPECT_EQ(c.jtag.shift_dr("0110"), bits("000 0"));
}

TEST(Chain, MixedBypassAndIdcode) {
  // Device 0 and 2 in BYPASS, device 1 (XC2S15/v1) in IDCODE: 1 + 32 + 1 bits.
  Chain chain;
  chain.add(make_part(Part::Xcf04s, 0));
  chain.add(make_part(Part::Xc2s15, 1));
  chain.add(make_generic_device(0x12345093, 3, 0x1));
  JtagDriver jtag(chain);
  jtag.reset();
  jtag.shift_ir(bits("11111111 10010 111"));
  EXPECT_EQ(jtag.shift_dr("1" + zeros(34)), "0" + kXc2s15V1 + "0" + "1");
  // IR of device 2 to its IDCODE (all ones but bit 0 = "011"), the rest BYPASS.
  jtag.shift_ir(bits("11111111 11111 011"));
  EXPECT_EQ(jtag.shift_dr(zeros(34)), "00" + kOther);
}

TEST(Chain, TdoChangesOnlyAfterTheFallingEdge) {
  DefaultChain c;
  Chain& chain = c.chain;
  chain.set_pins(true, true, false);
  for (bool tms : {true, true, true, true, true, false, true, false}) {
    chain.set_pins(false, tms, false);
    chain.set_pins(true, tms, false);
  }
  // Rising edge into Capture-DR done; one more cycle enters Shift-DR.
  chain.set_pins(false, false, false);
  chain.set_pins(true, false, false);
  EXPECT_TRUE(chain.tdo());  // Capture-DR->Shift-DR: not yet driving (pull-up)
  chain.set_pins(false, false, false);
  EXPECT_TRUE(chain.tdo());  // bit 0 of 0xD5045093 is 1
  chain.set_pins(true, false, false);
  EXPECT_TRUE(chain.tdo());  // shifted inside, but TDO holds bit 0
  chain.set_pins(false, false, false);
  EXPECT_TRUE(chain.tdo());  // bit 1 is 1
  chain.set_pins(true, false, false);
  chain.set_pins(true, false, true);  // TDI moving while TCK is high changes nothing
  EXPECT_TRUE(chain.tdo());
  chain.set_pins(false, false, false);
  EXPECT_FALSE(chain.tdo());          // bit 2 is 0, shown only now
  chain.set_pins(false, true, true);  // TMS and TDI moving while TCK is low
  EXPECT_FALSE(chain.tdo());
  chain.set_pins(true, true, true);  // to Exit1-DR; still driving bit 2
  EXPECT_FALSE(chain.tdo());
  chain.set_pins(false, true, true);
  EXPECT_TRUE(chain.tdo());  // Exit1-DR: released to the pull-up
  EXPECT_EQ(chain.device(0).state(), TapState::Exit1Dr);
}

TEST(Chain, ClockReturnsTdoBeforeTheRisingEdgeAndCounts) {
  DefaultChain c;
  EXPECT_EQ(c.chain.cycle_count(), 6u);
  for (bool tms : {true, false, false}) c.chain.clock(tms, false);  // to Shift-DR
  EXPECT_TRUE(c.chain.clock(false, false));
  EXPECT_TRUE(c.chain.clock(false, false));
  EXPECT_FALSE(c.chain.clock(false, false));
  EXPECT_EQ(c.chain.cycle_count(), 12u);
}

TEST(Chain, HeldTckEmptyAndFullChains) {
  Chain chain;
  EXPECT_TRUE(chain.tdo()) << "an empty chain reads the pull-up";
  EXPECT_TRUE(chain.clock(false, false));
  for (int i = 0; i < 16; ++i) chain.add(make_part(Part::Xcf01s, 0));
  EXPECT_THROW(chain.add(make_part(Part::Xcf01s, 0)), std::length_error);
  EXPECT_EQ(chain.size(), 16u);
  Chain held;
  held.add(make_part(Part::Xcf02s, 0));
  for (int i = 0; i < 10; ++i) held.set_pins(true, i % 2 == 0, true);
  EXPECT_EQ(held.cycle_count(), 0u);
  EXPECT_EQ(held.device(0).state(), TapState::TestLogicReset);
}

TEST(ChainFaults, TdoStuck) {
  DefaultChain c;
  c.chain.set_tdo_stuck(false);
  EXPECT_EQ(c.jtag.shift_dr(zeros(64)), zeros(64));
  c.chain.set_tdo_stuck(true);
  EXPECT_EQ(c.jtag.shift_dr(zeros(64)), ones(64));
  c.chain.set_tdo_stuck(std::nullopt);
  EXPECT_EQ(c.jtag.shift_dr(zeros(64)), kXcf02sVd + kXc2s200);
}

TEST(ChainFaults, OpenChainTdoReadsOnes) {
  DefaultChain c;
  c.chain.set_open_after(0);
  EXPECT_EQ(c.jtag.shift_dr(zeros(64)), ones(64));
  // The devices still clock: with the line mended the IR holds BYPASS.
  c.jtag.shift_ir(ones(13));
  c.chain.set_open_after(std::nullopt);
  EXPECT_EQ(c.jtag.shift_dr("1100"), bits("00 11"));
}

TEST(ChainFaults, OpenLinkFloatsTheNextInputHigh) {
  // Device 1's TDO does not reach device 0: device 0 shifts in ones.
  DefaultChain c;
  c.chain.add(make_part(Part::Xc2s15, 1));
  c.chain.set_open_after(1);
  c.jtag.reset();
  EXPECT_EQ(c.jtag.shift_dr(zeros(96)), kXcf02sVd + ones(64));
  // Cut one link further: device 1 now shifts in ones behind its IDCODE.
  c.chain.set_open_after(2);
  c.jtag.reset();
  EXPECT_EQ(c.jtag.shift_dr(zeros(96)), kXcf02sVd + kXc2s200 + ones(32));
}

TEST(ChainFaults, UnpoweredChainIgnoresClocksAndResetsOnPowerUp) {
  DefaultChain c;
  Chain& chain = c.chain;
  c.jtag.shift_ir(ones(13));                                      // BYPASS in both
  for (bool tms : {true, false, false}) chain.clock(tms, false);  // Shift-DR
  chain.set_pins(false, false, false);
  EXPECT_FALSE(chain.tdo());  // BYPASS captured 0
  chain.set_powered(false);
  EXPECT_FALSE(chain.powered());
  EXPECT_TRUE(chain.tdo());  // nothing drives the line
  Trace trace;
  trace.enable(true);
  chain.set_trace(&trace);
  for (int i = 0; i < 8; ++i) EXPECT_TRUE(chain.clock(i % 3 == 0, false));
  EXPECT_EQ(chain.device(0).state(), TapState::ShiftDr);
  // The cable still toggled TCK; the parts show no state but reset.
  EXPECT_EQ(trace.tms_bits(), "10010010");
  EXPECT_EQ(trace.tdo_bits(), ones(8));
  EXPECT_EQ(trace.clocks().back().states, 0u);
  chain.set_trace(nullptr);
  chain.set_powered(true);
  EXPECT_EQ(chain.device(0).state(), TapState::TestLogicReset);
  EXPECT_EQ(chain.device(1).state(), TapState::TestLogicReset);
  EXPECT_EQ(chain.device(0).instruction(), 0xFEu);
  EXPECT_EQ(chain.device(1).instruction(), 0x09u);
  chain.clock(false, false);
  EXPECT_EQ(c.jtag.shift_dr(zeros(64)), kXcf02sVd + kXc2s200);
}

TEST(ChainTrace, RecordsLevelsAndStatesPerRisingEdge) {
  DefaultChain c;
  Trace trace;
  c.chain.set_trace(&trace);
  c.jtag.reset();
  EXPECT_EQ(trace.clock_count(), 0u);  // off by default
  trace.enable(true);
  c.jtag.shift_dr("10" + zeros(62));
  EXPECT_EQ(trace.tms_bits(), "100" + zeros(63) + "110");
  EXPECT_EQ(trace.tdi_bits(), "00010" + zeros(64));
  EXPECT_EQ(trace.tdo_bits(), "111" + kXcf02sVd + kXc2s200 + "11");
  const std::vector<TraceEntry> clocks = trace.clocks();
  ASSERT_EQ(clocks.size(), 69u);
  EXPECT_EQ(clocks[0].state(0), TapState::SelectDrScan);
  EXPECT_EQ(clocks[2].state(1), TapState::ShiftDr);
  EXPECT_EQ(clocks[66].state(0), TapState::Exit1Dr);
  EXPECT_EQ(clocks[68].state(1), TapState::RunTestIdle);
  EXPECT_EQ(clocks[2].states, 0x44u);
  trace.clear();
  EXPECT_TRUE(trace.entries().empty());
}

TEST(ChainTrace, SixteenDevicesFillTheStateWord) {
  Chain chain;
  for (int i = 0; i < 16; ++i) chain.add(make_part(Part::Xcf01s, 0));
  Trace trace;
  trace.enable(true);
  chain.set_trace(&trace);
  for (bool tms : {true, false, true, true}) chain.clock(tms, false);  // Select-IR-Scan = 9
  EXPECT_EQ(trace.clocks().back().states, 0x9999999999999999u);
  EXPECT_EQ(trace.clocks().back().state(15), TapState::SelectIrScan);
}

}  // namespace
}  // namespace velnor::bench
