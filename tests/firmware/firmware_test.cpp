// The cable firmware image: its layout and descriptors, enumeration on
// endpoint 0, the three JTAG pipes against a chain, and the machine cycles
// its loops take per TCK cycle.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "cable_firmware.h"
#include "firmware/protocol.h"

namespace velnor::bench {
namespace {

std::vector<std::uint8_t> image_bytes(std::uint16_t address, std::size_t count) {
  return {kFirmwareImage + address, kFirmwareImage + address + count};
}

std::vector<std::uint8_t> idcode_bytes() {
  return {kChainIdcode & 0xFF, (kChainIdcode >> 8) & 0xFF, (kChainIdcode >> 16) & 0xFF,
          kChainIdcode >> 24};
}

TEST(FirmwareImage, HoldsTheDescriptorsAtTheirAddresses) {
  EXPECT_EQ(image_bytes(USB_JTAG_DEVICE_DESCRIPTOR, 18),
            (std::vector<std::uint8_t>{0x12, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x40, 0x47, 0x05,
                                       0x31, 0x21, 0x01, 0x00, 0x01, 0x02, 0x00, 0x01}));
  std::vector<std::uint8_t> configuration = {0x09, 0x02, 0x4A, 0x00, 0x01, 0x01, 0x00, 0xA0, 0xFA,
                                             0x09, 0x04, 0x00, 0x00, 0x08, 0xFF, 0x00, 0x00, 0x00};
  for (const std::uint8_t endpoint :
       std::vector<std::uint8_t>{0x01, 0x02, 0x04, 0x06, 0x81, 0x82, 0x84, 0x86}) {
    const bool interrupt = endpoint == 0x81;
    const std::uint8_t type = interrupt ? 0x03 : 0x02;
    const std::uint8_t interval = interrupt ? 0x01 : 0x00;
    const std::vector<std::uint8_t> descriptor = {0x07, 0x05, endpoint, type, 0x40, 0x00, interval};
    configuration.insert(configuration.end(), descriptor.begin(), descriptor.end());
  }
  EXPECT_EQ(image_bytes(USB_JTAG_CONFIG_DESCRIPTOR, USB_JTAG_CONFIG_TOTAL_LENGTH), configuration);
  EXPECT_EQ(image_bytes(USB_JTAG_STRING0_DESCRIPTOR, 4),
            (std::vector<std::uint8_t>{0x04, 0x03, 0x09, 0x04}));
  EXPECT_EQ(image_bytes(USB_JTAG_STRING1_DESCRIPTOR, 16),
            (std::vector<std::uint8_t>{0x10, 0x03, 'U', 0, 'S', 0, 'B', 0, '_', 0, 'S', 0, 'P', 0,
                                       'I', 0}));
  EXPECT_EQ(image_bytes(USB_JTAG_STRING2_DESCRIPTOR, 10),
            (std::vector<std::uint8_t>{0x0A, 0x03, 'V', 0, '0', 0, '1', 0, '0', 0}));
}

TEST(FirmwareImage, ProgramSitsBelowTheDescriptorsAndTheRestIsFill) {
  // The program starts with the reset jump; the descriptors end the used
  // memory and everything after them is fill.
  EXPECT_EQ(kFirmwareImage[0], 0x02);
  const std::size_t descriptors_end = USB_JTAG_STRING2_DESCRIPTOR + 10;
  EXPECT_TRUE(std::all_of(kFirmwareImage + descriptors_end, kFirmwareImage + USB_JTAG_IMAGE_SIZE,
                          [](std::uint8_t b) { return b == USB_JTAG_IMAGE_FILL; }));
  // Between the program's end and the device descriptor: fill only.
  std::size_t program_end = USB_JTAG_DEVICE_DESCRIPTOR;
  while (program_end > 0 && kFirmwareImage[program_end - 1] == USB_JTAG_IMAGE_FILL) --program_end;
  EXPECT_LT(program_end, USB_JTAG_DEVICE_DESCRIPTOR - 0x80u);
  std::printf("program bytes: %zu\n", program_end);
  ::testing::Test::RecordProperty("program_bytes", static_cast<int>(program_end));
}

class Enumeration : public CableFirmware {};

TEST_F(Enumeration, RenumeratesWithPortsAndEndpointsReady) {
  // Off the bus with RENUM set, then back on.
  ASSERT_GE(bus.usbcs_writes.size(), 3u);
  EXPECT_EQ(bus.usbcs_writes[0] & 0x0C, 0x0C);
  EXPECT_EQ(bus.usbcs_writes[1] & 0x0E, 0x0E);
  EXPECT_EQ(bus.usbcs_writes.back() & 0x0E, 0x06);
  EXPECT_EQ(bus.reg(0x7F9C), 0x20);  // OEA: TDI
  EXPECT_EQ(bus.reg(0x7F9E), 0x06);  // OEC: TCK, TMS
  EXPECT_EQ(bus.reg(0x7FDE), 0x57);
  EXPECT_EQ(bus.reg(0x7FDF), 0x57);
  EXPECT_TRUE(bus.out_armed(An2131TestBus::Out::Ep2));
  EXPECT_TRUE(bus.out_armed(An2131TestBus::Out::Ep4));
  EXPECT_TRUE(bus.out_armed(An2131TestBus::Out::Ep6));
  EXPECT_TRUE(bus.tck() && bus.tms());
  EXPECT_EQ(chain.cycle_count(), 0u);
  EXPECT_EQ(cpu.sfr(Mcs51::kCkcon) & 7, 0);
}

TEST_F(Enumeration, PointsTheCoreAtEachDescriptor) {
  const std::array<std::array<std::uint8_t, 8>, 5> requests = {{
      {0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x40, 0x00},
      {0x80, 0x06, 0x00, 0x02, 0x00, 0x00, 0x4A, 0x00},
      {0x80, 0x06, 0x00, 0x03, 0x00, 0x00, 0xFF, 0x00},
      {0x80, 0x06, 0x01, 0x03, 0x1B, 0x00, 0x82, 0x00},
      {0x80, 0x06, 0x02, 0x03, 0x1B, 0x00, 0x82, 0x00},
  }};
  for (const auto& request : requests) {
    bus.send_setup(request);
    const std::size_t answered = bus.ep0_writes.size() + 1;
    run_until([&] { return bus.ep0_writes.size() == answered; });
    EXPECT_EQ(bus.ep0_writes.back(), 0x02);  // HSNAK cleared, no stall
  }
  EXPECT_EQ(bus.descriptor_pointers,
            (std::vector<std::uint16_t>{USB_JTAG_DEVICE_DESCRIPTOR, USB_JTAG_CONFIG_DESCRIPTOR,
                                        USB_JTAG_STRING0_DESCRIPTOR, USB_JTAG_STRING1_DESCRIPTOR,
                                        USB_JTAG_STRING2_DESCRIPTOR}));
}

TEST_F(Enumeration, AnswersConfigurationAndStatusAndStallsTheRest) {
  struct Case {
    std::array<std::uint8_t, 8> setup;
    std::uint8_t ep0cs;
    std::vector<std::uint8_t> in0;
  };
  const std::vector<Case> cases = {
      {{0x00, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, 0x02, {}},      // SET_CONFIGURATION 1
      {{0x80, 0x08, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}, 0x02, {0x01}},  // GET_CONFIGURATION
      {{0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00}, 0x02, {0x00, 0x00}},  // GET_STATUS
      {{0x01, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0x02, {0x00, 0x00}},  // SET_INTERFACE 0/0
      {{0x81, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}, 0x02, {0x00}},        // GET_INTERFACE
      {{0x01, 0x0B, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, 0x03, {0x00}},  // alternate setting 1
      {{0x00, 0x09, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00}, 0x03, {0x00}},  // configuration 2
      {{0x80, 0x06, 0x03, 0x03, 0x1B, 0x00, 0x82, 0x00}, 0x03, {0x00}},  // string 3
      {{0x80, 0x06, 0x00, 0x06, 0x00, 0x00, 0x0A, 0x00}, 0x03, {0x00}},  // device qualifier
      {{0x40, 0xA0, 0x92, 0x7F, 0x00, 0x00, 0x01, 0x00}, 0x03, {0x00}},  // vendor request
      {{0x00, 0x03, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, 0x03, {0x00}},  // SET_FEATURE
  };
  for (const Case& c : cases) {
    bus.send_setup(c.setup);
    const std::size_t answered = bus.ep0_writes.size() + 1;
    run_until([&] { return bus.ep0_writes.size() == answered; });
    EXPECT_EQ(bus.ep0_writes.back(), c.ep0cs) << "request " << int(c.setup[1]);
    EXPECT_EQ(bus.in0_packet, c.in0) << "request " << int(c.setup[1]);
  }
  EXPECT_TRUE(bus.descriptor_pointers.empty());
}

class Pipes : public CableFirmware {};

TEST_F(Pipes, PinBytesClockOnlyWithBit1ClearAndAnswerTdoAndSupply) {
  const std::uint8_t bytes[] = {0x02, 0x00, 0x04, 0x20, 0x24, 0x06, 0x02};
  const std::vector<std::uint8_t> replies = pin_bytes(bytes);
  // Four cycles with the TMS/TDI of their bytes: the TAP walks from
  // Test-Logic-Reset through Run-Test/Idle, Select-DR and Capture-DR.
  ASSERT_EQ(bus.rising_edges.size(), 4u);
  const bool tms[] = {false, true, false, true};
  const bool tdi[] = {false, false, true, true};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(bus.rising_edges[i].tms, tms[i]) << i;
    EXPECT_EQ(bus.rising_edges[i].tdi, tdi[i]) << i;
  }
  EXPECT_EQ(chain.device(0).state(), TapState::Exit1Dr);
  EXPECT_FALSE(bus.tms());  // the last byte set TMS low without a cycle
  EXPECT_TRUE(bus.tck());
  // The device drives TDO only while shifting: the pull-up, and the supply.
  EXPECT_EQ(replies, std::vector<std::uint8_t>(7, 0x09));

  bus.target_powered = false;
  const std::uint8_t query[] = {USB_JTAG_SET_TMS_HIGH};
  EXPECT_EQ(pin_bytes(query), std::vector<std::uint8_t>{0x01});
  EXPECT_TRUE(bus.tms());
  EXPECT_EQ(bus.rising_edges.size(), 4u);
}

TEST_F(Pipes, PinByteRepliesCarryTdoOfTheirCycle) {
  enter_shift_dr();
  const std::uint8_t clocks[8] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  const std::vector<std::uint8_t> replies = pin_bytes(clocks);
  for (int bit = 0; bit < 8; ++bit) {
    EXPECT_EQ(replies[bit], 0x08 | ((kChainIdcode >> bit) & 1)) << bit;
  }
  EXPECT_EQ(bus.pinsc_reads_with_tck_high, 0u);  // sampled after TCK fell
}

TEST_F(Pipes, StreamWithTdoShiftsTdiFromBit0AndAnswersTdoInCycleOrder) {
  enter_shift_dr();
  const std::size_t edges_before = bus.rising_edges.size();
  const std::uint8_t first[] = {0x01, 0x80, 0x5A, 0xC3};
  EXPECT_EQ(stream_tdo(first), idcode_bytes());
  // The IDCODE register is 32 bits: what went in comes out four bytes later.
  const std::uint8_t second[] = {0x00, 0xFF, 0x00, 0xFF};
  EXPECT_EQ(stream_tdo(second), std::vector<std::uint8_t>(std::begin(first), std::end(first)));
  ASSERT_EQ(bus.rising_edges.size(), edges_before + 64);
  for (std::size_t i = 0; i < 32; ++i) {
    const auto& edge = bus.rising_edges[edges_before + i];
    EXPECT_FALSE(edge.tms);
    EXPECT_EQ(edge.tdi, ((first[i / 8] >> (i % 8)) & 1) != 0) << i;
  }
  EXPECT_EQ(bus.pinsc_reads_with_tck_high, 0u);
  EXPECT_EQ(chain.device(0).state(), TapState::ShiftDr);
}

TEST_F(Pipes, FullPacketsKeepEveryByteInOrder) {
  enter_shift_dr();
  std::vector<std::uint8_t> data(64);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 37 + 11);
  std::vector<std::uint8_t> expected = idcode_bytes();
  expected.insert(expected.end(), data.begin(), data.end() - 4);
  EXPECT_EQ(stream_tdo(data), expected);
  // The streams without reply feed the same register.
  stream(data);
  const std::vector<std::uint8_t> tail = stream_tdo(std::vector<std::uint8_t>(4, 0));
  EXPECT_EQ(tail, std::vector<std::uint8_t>(data.end() - 4, data.end()));
  // An odd length: every reply byte still arrives, in order.
  const std::vector<std::uint8_t> odd(data.begin(), data.begin() + 63);
  EXPECT_EQ(stream_tdo(odd).size(), 63u);
  const std::vector<std::uint8_t> three = stream_tdo(std::vector<std::uint8_t>(3, 0));
  EXPECT_EQ(three, std::vector<std::uint8_t>(data.begin() + 59, data.begin() + 62));
  EXPECT_FALSE(bus.reply_armed());
}

TEST_F(Pipes, StreamWithoutReplyHoldsTmsFromTheLastPinByte) {
  enter_shift_dr();
  const std::uint8_t bytes[] = {0xA5, 0x3C};
  stream(bytes);
  EXPECT_FALSE(bus.reply_armed());
  EXPECT_EQ(chain.device(0).state(), TapState::ShiftDr);
  // TMS high without a cycle, then a byte: eight cycles with TMS high end in
  // Test-Logic-Reset.
  const std::uint8_t preset[] = {USB_JTAG_SET_TMS_HIGH};
  pin_bytes(preset);
  const std::size_t edges_before = bus.rising_edges.size();
  const std::uint8_t one[] = {0x00};
  stream(one);
  ASSERT_EQ(bus.rising_edges.size(), edges_before + 8);
  for (std::size_t i = edges_before; i < bus.rising_edges.size(); ++i)
    EXPECT_TRUE(bus.rising_edges[i].tms);
  EXPECT_EQ(chain.device(0).state(), TapState::TestLogicReset);
  EXPECT_TRUE(bus.tms() && bus.tck());
}

TEST_F(Pipes, ReplyWaitsUntilTheHostTookThePreviousOne) {
  enter_shift_dr();
  const std::uint8_t first[] = {0x11, 0x22, 0x33, 0x44};
  bus.send(An2131TestBus::Out::Ep4, first);
  run_until([&] { return bus.reply_armed() && bus.out_armed(An2131TestBus::Out::Ep4); });
  const std::uint8_t second[] = {0x55};
  bus.send(An2131TestBus::Out::Ep4, second);
  cpu.run(20000);
  EXPECT_FALSE(bus.out_armed(An2131TestBus::Out::Ep4));  // held until IN2 is free
  EXPECT_EQ(bus.take_reply(), idcode_bytes());
  run_until([&] { return bus.reply_armed() && bus.out_armed(An2131TestBus::Out::Ep4); });
  EXPECT_EQ(bus.take_reply(), std::vector<std::uint8_t>{0x11});
}

// Machine cycles per TCK cycle: a full packet from the host's send to the
// firmware's re-arm (or reply), over its TCK cycles; and within the packet,
// between the first and the last rising edge.
class LoopSpeed : public CableFirmware {
 protected:
  void report(const char* name, std::uint64_t cycles, std::size_t tck_cycles,
              std::size_t edges_before) {
    const double per_tck = double(cycles) / double(tck_cycles);
    const auto& edges = bus.rising_edges;
    const double in_packet = double(edges.back().cycle - edges[edges_before].cycle) /
                             double(edges.size() - edges_before - 1);
    std::printf(
        "%s: %.2f machine cycles per TCK over the packet (%.0f kHz at 24 MHz), %.2f between "
        "edges\n",
        name, per_tck, 6000.0 / per_tck, in_packet);
    ::testing::Test::RecordProperty(std::string(name) + "_cycles_per_tck_x100",
                                    int(per_tck * 100 + 0.5));
    last_per_tck = per_tck;
    last_in_packet = in_packet;
  }
  double last_per_tck = 0;
  double last_in_packet = 0;
};

TEST_F(LoopSpeed, StreamWithoutReplyTakesAtMost12CyclesPerTck) {
  for (const int tms : {USB_JTAG_SET_TMS_LOW, USB_JTAG_SET_TMS_HIGH}) {
    const std::uint8_t preset[] = {static_cast<std::uint8_t>(tms)};
    pin_bytes(preset);
    const std::size_t edges_before = bus.rising_edges.size();
    const std::uint64_t start = cpu.cycles();
    stream(std::vector<std::uint8_t>(64, 0x5A));
    report("pipe1", bus.last_out_rearm_cycle - start, 512, edges_before);
    EXPECT_LE(last_per_tck, 12.0);
    EXPECT_LE(last_in_packet, 10.6);
  }
}

TEST_F(LoopSpeed, StreamWithTdoTakesAtMost17AndAHalfCyclesPerTck) {
  const std::size_t edges_before = bus.rising_edges.size();
  const std::uint64_t start = cpu.cycles();
  stream_tdo(std::vector<std::uint8_t>(64, 0xA5));
  report("pipe2", bus.last_reply_cycle - start, 512, edges_before);
  // Above the 16 aimed at: four MOVX and seven one-cycle instructions a
  // cycle plus each byte's fetch and reply (see jtag_loops.asm).
  EXPECT_LE(last_per_tck, 17.5);
  EXPECT_LE(last_in_packet, 16.25);
}

TEST_F(LoopSpeed, PinBytesTakeAtMost40CyclesEach) {
  const std::size_t edges_before = bus.rising_edges.size();
  const std::uint64_t start = cpu.cycles();
  pin_bytes(std::vector<std::uint8_t>(8, 0x20));
  report("pins", bus.last_reply_cycle - start, 8, edges_before);
  // Eight bytes carry the packet's fixed costs too; a byte itself takes 40.
  EXPECT_LE(last_in_packet, 40.0);
  EXPECT_LE(last_per_tck, 64.0);
}

}  // namespace
}  // namespace velnor::bench
