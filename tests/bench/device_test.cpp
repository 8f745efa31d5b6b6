#include "bench/device.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "bench/chain.h"
#include "bench/jtag_driver.h"

namespace velnor::bench {
namespace {

using testing::bits;
using testing::JtagDriver;
using testing::ones;
using testing::zeros;

// One TCK cycle on a lone device: falling edge, then rising edge.
void cycle(Device& device, bool tms, bool tdi = false) {
  device.falling_edge();
  device.rising_edge(tms, tdi);
}

// From Test-Logic-Reset into Shift-IR (the falling edge there not yet seen).
void enter_shift_ir(Device& device) {
  for (bool tms : {false, true, true, false, false}) cycle(device, tms);
}

TEST(ShiftRegister, LengthsOneToSixtyFour) {
  EXPECT_THROW(ShiftRegister(0, 0), std::invalid_argument);
  EXPECT_THROW(ShiftRegister(65, 0), std::invalid_argument);
  ShiftRegister wide(64, 0x8000000000000001);
  wide.capture();
  EXPECT_TRUE(wide.output());
  for (int i = 0; i < 63; ++i) wide.shift(false);
  EXPECT_TRUE(wide.output());  // the top bit reached TDO
  wide.shift(true);            // TDI enters the far end
  for (int i = 0; i < 63; ++i) wide.shift(false);
  EXPECT_TRUE(wide.output());
}

TEST(ShiftRegister, CapturesShiftsLsbFirstAndUpdates) {
  ShiftRegister reg(4, 0xF6);  // masked to 0110
  reg.capture();
  std::string out;
  for (char in : std::string("1011")) {
    out.push_back(reg.output() ? '1' : '0');
    reg.shift(in == '1');
  }
  EXPECT_EQ(out, "0110");
  EXPECT_EQ(reg.value(), 0u);  // nothing updated yet
  reg.update();
  EXPECT_EQ(reg.value(), 0xDu);  // first in ends nearest TDO
  EXPECT_EQ(reg.length(), 4);
}

TEST(Parts, IdcodesCarryTheVersionNibble) {
  struct Case {
    Part part;
    std::uint32_t version;
    std::uint32_t idcode;
    int ir_length;
  };
  const Case cases[] = {{Part::Xc2s15, 0, 0x00608093, 5},    {Part::Xc2s30, 1, 0x1060C093, 5},
                        {Part::Xc2s50, 2, 0x20610093, 5},    {Part::Xc2s100, 0, 0x00614093, 5},
                        {Part::Xc2s150, 0xA, 0xA0618093, 5}, {Part::Xc2s200, 0, 0x0061C093, 5},
                        {Part::Xcf01s, 0xF, 0xF5044093, 8},  {Part::Xcf02s, 0xD, 0xD5045093, 8},
                        {Part::Xcf04s, 0, 0x05046093, 8}};
  for (const Case& c : cases) {
    auto device = make_part(c.part, c.version);
    EXPECT_EQ(device->idcode(), c.idcode) << device->name();
    EXPECT_EQ(device->ir_length(), c.ir_length) << device->name();
  }
  EXPECT_THROW(make_part(Part::Xc2s15, 16), std::invalid_argument);
}

TEST(Parts, IdcodeInstructionsAndSpartanUsercode) {
  Chain chain;
  chain.add(make_part(Part::Xc2s200, 0));
  chain.add(make_part(Part::Xcf04s, 0xF));
  JtagDriver jtag(chain);
  jtag.reset();
  // Load BYPASS everywhere; the capture is the idle parts' (Spartan-II:
  // PROGRAM 1, INIT 1, DONE 0, then 01; XCF: 00000001).
  EXPECT_EQ(jtag.shift_ir(ones(13)), bits("10011 10000000"));
  EXPECT_EQ(jtag.shift_dr(bits("11 000")), bits("00 110"));
  jtag.shift_ir(bits("10010 01111111"));
  EXPECT_EQ(chain.device(0).instruction(), 0x09u);
  EXPECT_EQ(chain.device(1).instruction(), 0xFEu);
  EXPECT_EQ(jtag.shift_dr(zeros(64)),
            "11001001000000111000011000000000"    // 0x0061C093
            "11001001000001100010000010101111");  // 0xF5046093
  // USERCODE 0x08 on the FPGA reads all ones until it is configured.
  jtag.shift_ir(bits("00010 11111111"));
  EXPECT_EQ(jtag.shift_dr(zeros(33)), ones(32) + "0");
}

TEST(Device, UpdateIrLatchesOnTheFallingEdge) {
  auto device = make_generic_device(0x12345093, 4, 0x5);
  device->power_on_reset();
  EXPECT_EQ(device->instruction(), 0xEu);  // all ones but bit 0
  enter_shift_ir(*device);
  for (bool tdi : {true, true, false}) cycle(*device, false, tdi);
  cycle(*device, true, false);  // the last bit, into Exit1-IR
  cycle(*device, true);         // Update-IR, rising edge only
  EXPECT_EQ(device->state(), TapState::UpdateIr);
  EXPECT_EQ(device->instruction(), 0xEu);
  device->falling_edge();
  EXPECT_EQ(device->instruction(), 0x3u);  // "1100" in shift order
}

TEST(Device, TestLogicResetLoadsIdcodeOnTheFallingEdgeAfterEntry) {
  auto device = make_generic_device(0x12345093, 4, 0x1);
  device->power_on_reset();
  enter_shift_ir(*device);
  for (int i = 0; i < 4; ++i) cycle(*device, false, true);
  cycle(*device, true, true);
  cycle(*device, true);
  device->falling_edge();
  EXPECT_EQ(device->instruction(), 0xFu);  // BYPASS
  for (int i = 0; i < 2; ++i) {            // Select-DR-Scan, Select-IR-Scan
    device->rising_edge(true, false);
    device->falling_edge();
  }
  device->rising_edge(true, false);
  EXPECT_EQ(device->state(), TapState::TestLogicReset);
  EXPECT_EQ(device->instruction(), 0xFu);
  device->falling_edge();
  EXPECT_EQ(device->instruction(), 0xEu);
}

TEST(Device, TdoIsDrivenOnlyInShiftStates) {
  auto device = make_part(Part::Xc2s15, 0);
  device->power_on_reset();
  const std::vector<std::pair<bool, TapState>> walk = {
      {false, TapState::RunTestIdle}, {true, TapState::SelectDrScan}, {false, TapState::CaptureDr},
      {false, TapState::ShiftDr},     {true, TapState::Exit1Dr},      {false, TapState::PauseDr},
      {true, TapState::Exit2Dr},      {false, TapState::ShiftDr},     {true, TapState::Exit1Dr},
      {true, TapState::UpdateDr},
  };
  for (const auto& [tms, state] : walk) {
    device->rising_edge(tms, false);
    ASSERT_EQ(device->state(), state);
    device->falling_edge();
    EXPECT_EQ(device->tdo_enabled(), state == TapState::ShiftDr) << tap_state_name(state);
    if (!device->tdo_enabled()) {
      EXPECT_FALSE(device->tdo());
    }
  }
}

// Unknown instructions select BYPASS; so does reset on a part whose code
// has bit 0 clear (IDCODE bit 0 is always 1: such a code stands for none).
TEST(Device, UnknownInstructionsAndMissingIdcodeSelectBypass) {
  Chain chain;
  chain.add(make_generic_device(0x12345093, 6, 0x1));
  JtagDriver jtag(chain);
  jtag.reset();
  for (const char* code : {"000000", "010101", "101101"}) {
    jtag.shift_ir(code);
    EXPECT_EQ(jtag.shift_dr("1101"), "0110") << code;
  }
  Chain none;
  none.add(make_generic_device(0x12345092, 3, 0x1));
  JtagDriver reset(none);
  reset.reset();
  EXPECT_EQ(none.device(0).instruction(), 0x7u);
  EXPECT_EQ(reset.shift_dr("111"), "011");
}

TEST(Device, GenericIrLengthBounds) {
  EXPECT_THROW(make_generic_device(0x1, 1, 0x1), std::invalid_argument);
  EXPECT_THROW(make_generic_device(0x1, 33, 0x1), std::invalid_argument);
  Chain chain;
  chain.add(make_generic_device(0x00000001, 32, 0x1));
  JtagDriver jtag(chain);
  jtag.reset();
  EXPECT_EQ(jtag.shift_ir(zeros(32)), "1" + zeros(31));
  EXPECT_EQ(chain.device(0).instruction(), 0u);
}

// A model in the style later parts use: its own register and hooks.
class HookedDevice : public Device {
 public:
  HookedDevice() : Device("hooked", 0x00000001, 4, 0x1, 0x2) {}
  std::vector<std::pair<TapState, TapState>> clocks;
  int resets = 0;

 protected:
  DataRegister* select_register(std::uint32_t instruction) override {
    if (instruction == 0x5) return &status_;
    return Device::select_register(instruction);
  }
  std::uint32_t capture_ir_value() const override { return 0xF9; }  // only 4 bits are there
  void on_clock(TapState before, TapState after) override { clocks.emplace_back(before, after); }
  void on_reset() override { ++resets; }

 private:
  ShiftRegister status_{3, 0x6};
};

TEST(Device, ModelHooksAreCalled) {
  Chain chain;
  chain.add(std::make_unique<HookedDevice>());
  auto& device = static_cast<HookedDevice&>(chain.device(0));
  EXPECT_EQ(device.resets, 1);  // power-on
  JtagDriver jtag(chain);
  jtag.reset();  // already in Test-Logic-Reset: no new reset
  EXPECT_EQ(device.resets, 1);
  ASSERT_EQ(device.clocks.size(), 6u);
  EXPECT_EQ(device.clocks[4], std::make_pair(TapState::TestLogicReset, TapState::TestLogicReset));
  EXPECT_EQ(device.clocks[5], std::make_pair(TapState::TestLogicReset, TapState::RunTestIdle));
  EXPECT_EQ(jtag.shift_ir("1010"), "1001");
  EXPECT_EQ(jtag.shift_dr("000"), "011");
  jtag.reset();
  EXPECT_EQ(device.resets, 2);
}

}  // namespace
}  // namespace velnor::bench
