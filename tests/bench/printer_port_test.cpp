#include "bench/printer_port.h"

#include <gtest/gtest.h>

namespace velnor::bench {
namespace {

using Attached = PrinterPort::Attached;

const std::uint8_t kPatterns[] = {0x00, 0x12, 0x52, 0xFF};

// The library's four-step cable test; returns how many checks passed
// (4 = a Xilinx cable is there).
int detect_checks_passed(PrinterPort& port) {
  port.write(0, 0x52);  // D6 high, buffers on, TCK high
  if ((port.read(1) & 0x20) == 0) return 0;
  if ((port.read(1) & 0x80) != 0) return 1;
  port.write(0, 0x12);  // D6 low
  if ((port.read(1) & 0x20) != 0) return 2;
  if ((port.read(1) & 0x80) == 0) return 3;
  return 4;
}

struct Bench {
  Chain chain;
  PrinterPort port;
  explicit Bench(Attached attached) : port(0x378, attached, &chain) {
    chain.add(make_part(Part::Xcf02s, 0xD));
    chain.add(make_part(Part::Xc2s200, 0));
  }
  // One TCK cycle through the cable, buffers on; returns TDO seen while TCK low.
  bool cycle(bool tms, bool tdi) {
    const auto low = static_cast<std::uint8_t>(0x10 | (tms ? 0x04 : 0) | (tdi ? 0x01 : 0));
    port.write(0, low);
    const bool tdo = (port.read(1) & 0x10) != 0;
    port.write(0, static_cast<std::uint8_t>(low | 0x02));
    return tdo;
  }
};

TEST(PrinterPort, XilinxCableDetectLoopAndPowerSense) {
  Bench bench(Attached::XilinxCable);
  EXPECT_EQ(detect_checks_passed(bench.port), 4);
  bench.port.write(0, 0x52);
  EXPECT_EQ(bench.port.read(1), 0x7F);  // powered, TDO released high, loop high
  bench.port.write(0, 0x12);
  EXPECT_EQ(bench.port.read(1), 0xDF);  // loop low: PAPER-END 0, BUSY low reads 1
}

TEST(PrinterPort, XilinxCableWithTargetUnpowered) {
  Bench bench(Attached::XilinxCable);
  bench.chain.set_powered(false);
  EXPECT_EQ(detect_checks_passed(bench.port), 4);  // the loop is passive wiring
  bench.port.write(0, 0x52);
  EXPECT_EQ(bench.port.read(1), 0x77);  // power sense 0, TDO 1
  bench.port.write(0, 0x12);
  EXPECT_EQ(bench.port.read(1), 0xD7);
}

TEST(PrinterPort, NothingAttachedFloatsEveryPin) {
  Bench bench(Attached::Nothing);
  EXPECT_EQ(detect_checks_passed(bench.port), 2);  // PAPER-END never follows D6
  for (std::uint8_t data : kPatterns) {
    bench.port.write(0, data);
    EXPECT_EQ(bench.port.read(1), 0x7F) << int{data};
  }
  EXPECT_EQ(bench.chain.cycle_count(), 0u);
}

TEST(PrinterPort, PrinterFailsTheFirstCheck) {
  Bench bench(Attached::OtherDevice);
  EXPECT_EQ(detect_checks_passed(bench.port), 0);
  for (std::uint8_t data : kPatterns) {
    bench.port.write(0, data);
    EXPECT_EQ(bench.port.read(1), 0xDF) << int{data};  // ready, paper in, online
  }
  EXPECT_EQ(bench.chain.cycle_count(), 0u);
}

TEST(PrinterPort, CableReadsIdcodeThroughStatusBit4) {
  Bench bench(Attached::XilinxCable);
  for (int i = 0; i < 5; ++i) bench.cycle(true, false);
  for (bool tms : {false, true, false, false}) bench.cycle(tms, false);  // Shift-DR
  std::string tdo;
  for (int i = 0; i < 32; ++i) tdo.push_back(bench.cycle(false, false) ? '1' : '0');
  EXPECT_EQ(tdo, "11001001000010100010000010101011");  // 0xD5045093
  EXPECT_EQ(bench.chain.device(1).state(), TapState::ShiftDr);
  EXPECT_EQ(bench.chain.cycle_count(), 41u);
}

TEST(PrinterPort, BuffersOffLeaveTheChainToItsPullUps) {
  Bench bench(Attached::XilinxCable);
  const std::uint8_t buffers_off[] = {0x00, 0x02, 0x00, 0x07, 0x40};
  for (std::uint8_t data : buffers_off) bench.port.write(0, data);
  EXPECT_EQ(bench.chain.cycle_count(), 0u);  // TCK floats high throughout
  bench.port.write(0, 0x10);                 // drivers on, TCK low: a falling edge only
  EXPECT_EQ(bench.chain.cycle_count(), 0u);
  bench.port.write(0, 0x00);  // drivers off: TCK and TMS float high
  EXPECT_EQ(bench.chain.cycle_count(), 1u);
  EXPECT_EQ(bench.chain.device(0).state(), TapState::TestLogicReset);
}

TEST(PrinterPort, RegistersReadBack) {
  Bench bench(Attached::Nothing);
  bench.port.write(0, 0xA5);
  bench.port.write(2, 0x0C);
  bench.port.write(1, 0x00);  // status is read-only
  EXPECT_EQ(bench.port.read(0), 0xA5);
  EXPECT_EQ(bench.port.data(), 0xA5);
  EXPECT_EQ(bench.port.read(2), 0x0C);
  EXPECT_EQ(bench.port.read(1), 0x7F);
  EXPECT_EQ(bench.port.base(), 0x378);
  EXPECT_EQ(bench.port.attached(), Attached::Nothing);
}

}  // namespace
}  // namespace velnor::bench
