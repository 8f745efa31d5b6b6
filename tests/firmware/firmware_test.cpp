// The cable firmware image on the AN2131 chip model: its layout and
// descriptors, its answers on endpoint 0, the three JTAG pipes against a
// one-device chain, and the machine cycles its loops take per TCK cycle.
// Every test also fails on any violation the chip records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "bench/an2131.h"
#include "bench/chain.h"
#include "bench/device.h"
#include "bench/trace.h"
#include "firmware/protocol.h"

namespace velnor::bench {
namespace {

constexpr std::uint8_t kFirmwareImage[] = {
#include "firmware/generated/usb_jtag_firmware.inc"
};
constexpr std::uint32_t kChainIdcode = 0x1234A093;
// Endpoints behind the pipes: 1 stream, 2 stream with TDO, 3 pin bytes, 5 replies.
constexpr int kStreamOut = 2, kStreamTdoOut = 4, kPinsOut = 6, kReplyIn = 2;

using Bytes = std::vector<std::uint8_t>;

Bytes image_bytes(std::uint16_t address, std::size_t count) {
  return {kFirmwareImage + address, kFirmwareImage + address + count};
}

Bytes idcode_bytes() {
  return {kChainIdcode & 0xFF, (kChainIdcode >> 8) & 0xFF, (kChainIdcode >> 16) & 0xFF,
          kChainIdcode >> 24};
}

// Stream bytes as the host sends them: the TDI of cycle k, bit k of the
// given byte, in bit (5 - k) mod 8.
Bytes on_wire(const Bytes& bytes) {
  Bytes wire;
  for (const std::uint8_t byte : bytes) {
    unsigned bits = 0;
    for (int k = 0; k < 8; ++k) bits |= ((byte >> k) & 1u) << ((5 - k) & 7);
    wire.push_back(static_cast<std::uint8_t>(bits));
  }
  return wire;
}

// Stream replies as the firmware sends them, cycle k's TDO in bit 7 - k,
// turned back into bit k.
Bytes from_wire(const Bytes& replies) {
  Bytes bytes;
  for (const std::uint8_t reply : replies) {
    unsigned bits = 0;
    for (int k = 0; k < 8; ++k) bits |= ((reply >> (7 - k)) & 1u) << k;
    bytes.push_back(static_cast<std::uint8_t>(bits));
  }
  return bytes;
}

// Each byte's bits from bit 0 up, as the stream loops shift them.
std::string lsb_first(const Bytes& bytes) {
  std::string bits;
  for (const std::uint8_t byte : bytes) {
    for (int b = 0; b < 8; ++b) bits.push_back(((byte >> b) & 1) != 0 ? '1' : '0');
  }
  return bits;
}

TEST(FirmwareImage, HoldsTheDescriptorsAtTheirAddresses) {
  EXPECT_EQ(image_bytes(USB_JTAG_DEVICE_DESCRIPTOR, 18),
            (Bytes{0x12, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x40, 0x47, 0x05, 0x31, 0x21, 0x01,
                   0x00, 0x01, 0x02, 0x00, 0x01}));
  Bytes configuration = {0x09, 0x02, 0x4A, 0x00, 0x01, 0x01, 0x00, 0xA0, 0xFA,
                         0x09, 0x04, 0x00, 0x00, 0x08, 0xFF, 0x00, 0x00, 0x00};
  for (const std::uint8_t endpoint : Bytes{0x01, 0x02, 0x04, 0x06, 0x81, 0x82, 0x84, 0x86}) {
    const bool interrupt = endpoint == 0x81;
    const Bytes descriptor = {0x07,
                              0x05,
                              endpoint,
                              std::uint8_t(interrupt ? 0x03 : 0x02),
                              0x40,
                              0x00,
                              std::uint8_t(interrupt ? 0x01 : 0x00)};
    configuration.insert(configuration.end(), descriptor.begin(), descriptor.end());
  }
  EXPECT_EQ(image_bytes(USB_JTAG_CONFIG_DESCRIPTOR, USB_JTAG_CONFIG_TOTAL_LENGTH), configuration);
  EXPECT_EQ(image_bytes(USB_JTAG_STRING0_DESCRIPTOR, 4), (Bytes{0x04, 0x03, 0x09, 0x04}));
  EXPECT_EQ(image_bytes(USB_JTAG_STRING1_DESCRIPTOR, 16),
            (Bytes{0x10, 0x03, 'U', 0, 'S', 0, 'B', 0, '_', 0, 'S', 0, 'P', 0, 'I', 0}));
  EXPECT_EQ(image_bytes(USB_JTAG_STRING2_DESCRIPTOR, 10),
            (Bytes{0x0A, 0x03, 'V', 0, '0', 0, '1', 0, '0', 0}));
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

// The image downloaded into the chip and started, renumerated and in its
// main loop. The chip's activity handler watches the pins and handshakes.
class CableFirmware : public ::testing::Test {
 protected:
  CableFirmware() {
    static_assert(sizeof kFirmwareImage == USB_JTAG_IMAGE_SIZE);
    chain.add(make_generic_device(kChainIdcode, 6, 0x01));
    chain.set_trace(&trace);
    trace.enable(true);
    std::copy_n(kFirmwareImage, USB_JTAG_DOWNLOAD_SIZE, chip.ram().begin());
    chip.set_activity_handler([this] { watch(); });
    chip.set_cpu_held(false);
    run_until([&] { return chip.renum() && !chip.off_bus(); }, 400000);
    chip.run(1000);  // into the main loop
  }
  void TearDown() override { EXPECT_EQ(violations, std::vector<std::string>{}); }

  // Runs the firmware until done() holds; fails after budget machine cycles.
  template <typename Done>
  void run_until(Done done, std::uint64_t budget = 200000) {
    const std::uint64_t end = chip.cycles() + budget;
    while (!done()) {
      ASSERT_LT(chip.cycles(), end) << "firmware did not get there";
      chip.run(8);
    }
  }

  void send(int endpoint, const Bytes& packet) {
    sent_to = endpoint;
    armed_cycle.reset();
    chip.host_out(endpoint, packet);
  }
  // The host's bus reset at enumeration: every OUT endpoint armed.
  void attach() { chip.host_bus_reset(); }
  // One packet on a pipe, run until the firmware handed the buffer back;
  // exchange also waits for the reply on IN2 and takes it.
  // Stream bytes and their replies are given with cycle k's bit in bit k.
  void stream(const Bytes& bytes) {
    send(kStreamOut, on_wire(bytes));
    run_until([&] { return chip.out_held(kStreamOut) == 0; });
  }
  // Pin bytes that ask for no reply.
  void pins(const Bytes& bytes) {
    send(kPinsOut, bytes);
    run_until([&] { return chip.out_held(kPinsOut) == 0; });
  }
  Bytes exchange(int endpoint, const Bytes& bytes) {
    send(endpoint, endpoint == kPinsOut ? bytes : on_wire(bytes));
    run_until([&] { return chip.in_armed(kReplyIn) && chip.out_held(endpoint) == 0; });
    return endpoint == kPinsOut ? take_reply() : from_wire(take_reply());
  }
  Bytes take_reply() {
    reply_cycle.reset();
    return chip.host_take_in(kReplyIn);
  }
  // Pin bytes from Test-Logic-Reset to Shift-DR (IDCODE selected).
  void enter_shift_dr() {
    pins({0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04, 0x00, 0x00});
    ASSERT_EQ(chain.device(0).state(), TapState::ShiftDr);
    trace.clear();
  }
  std::uint8_t pins_c() { return chip.read_xdata(An2131::kPinsC); }

  // The chain's TDO reads inverted while TCK is high: a firmware sampling
  // TDO anywhere but between TCK's fall and rise reads wrong bits.
  bool tdo_valid_only_while_tck_low = false;
  std::vector<std::uint64_t> rising_edge_cycles;
  std::optional<std::uint64_t> armed_cycle;  // send()'s packet handed back
  std::optional<std::uint64_t> reply_cycle;  // IN2 armed since the last reply taken
  std::vector<std::uint8_t> usbcs_values;    // each change from power-on (DISCOE)

  std::vector<std::string> violations;
  Chain chain;
  Trace trace;
  An2131 chip{chain, [this](std::string text) { violations.push_back(std::move(text)); }};

 private:
  void watch() {
    const bool tck = (pins_c() & 0x02) != 0;
    if (tck && !tck_) rising_edge_cycles.push_back(chip.cycles());
    tck_ = tck;
    if (tdo_valid_only_while_tck_low) {
      chain.set_tdo_stuck(std::nullopt);
      if (tck) chain.set_tdo_stuck(!chain.tdo());
    }
    if (!armed_cycle && chip.out_held(sent_to) == 0) armed_cycle = chip.cycles();
    if (!reply_cycle && chip.in_armed(kReplyIn)) reply_cycle = chip.cycles();
    const std::uint8_t usbcs = chip.read_xdata(An2131::kUsbCs);
    if (usbcs != (usbcs_values.empty() ? An2131::kDiscoe : usbcs_values.back())) {
      usbcs_values.push_back(usbcs);
    }
  }
  bool tck_ = true;
  int sent_to = kStreamOut;
};

class Enumeration : public CableFirmware {
 protected:
  struct Answer {
    bool stalled;
    Bytes data;
  };
  Answer control(const UsbSetup& setup) {
    chip.host_setup(setup);
    run_until([&] { return chip.ep0_handshake_done(); });
    An2131::Ep0Data data;
    if (!chip.ep0_take_in(&data)) data.bytes.clear();
    return {chip.ep0_stalled(), data.bytes};
  }
};

TEST_F(Enumeration, RenumeratesWithPortsAndEndpointsReady) {
  // Off the bus (DISCON, DISCOE), RENUM set while away, then back on.
  ASSERT_GE(usbcs_values.size(), 3u);
  EXPECT_EQ(usbcs_values[0] & 0x0E, 0x0C);
  EXPECT_EQ(usbcs_values[1] & 0x0E, 0x0E);
  EXPECT_EQ(usbcs_values.back() & 0x0E, 0x06);
  EXPECT_EQ(chip.read_xdata(An2131::kOeA), 0x20);  // TDI
  EXPECT_EQ(chip.read_xdata(An2131::kOeC), 0x06);  // TCK, TMS
  EXPECT_EQ(chip.in_valid(), 0x57);
  EXPECT_EQ(chip.out_valid(), 0x57);
  EXPECT_EQ(chip.read_xdata(An2131::kUsbPair), 0x18);  // the stream pipes double-buffered
  for (const int endpoint : {kStreamOut, kStreamTdoOut, kPinsOut}) {
    EXPECT_TRUE(chip.out_armed(endpoint)) << endpoint;
  }
  EXPECT_EQ(pins_c() & 0x06, 0x06);  // TCK and TMS high
  EXPECT_EQ(chain.cycle_count(), 0u);
  EXPECT_EQ(chip.cpu().sfr(Mcs51::kCkcon) & 7, 0);
}

TEST_F(Enumeration, AnswersItsRequestsAndStallsTheRest) {
  struct Case {
    const char* what;
    UsbSetup setup;
    bool stalled;
    Bytes data;
  };
  const auto descriptor = [](std::uint16_t address, std::size_t length) {
    return image_bytes(address, length);
  };
  const std::vector<Case> cases = {
      {"device descriptor",
       {0x80, 0x06, 0x0100, 0, 0x40},
       false,
       descriptor(USB_JTAG_DEVICE_DESCRIPTOR, 18)},
      {"configuration",
       {0x80, 0x06, 0x0200, 0, 0x4A},
       false,
       descriptor(USB_JTAG_CONFIG_DESCRIPTOR, USB_JTAG_CONFIG_TOTAL_LENGTH)},
      {"configuration header",
       {0x80, 0x06, 0x0200, 0, 9},
       false,
       descriptor(USB_JTAG_CONFIG_DESCRIPTOR, 9)},
      {"languages",
       {0x80, 0x06, 0x0300, 0, 0xFF},
       false,
       descriptor(USB_JTAG_STRING0_DESCRIPTOR, 4)},
      {"manufacturer",
       {0x80, 0x06, 0x0301, 0x1B, 0x82},
       false,
       descriptor(USB_JTAG_STRING1_DESCRIPTOR, 16)},
      {"product",
       {0x80, 0x06, 0x0302, 0x1B, 0x82},
       false,
       descriptor(USB_JTAG_STRING2_DESCRIPTOR, 10)},
      {"SET_CONFIGURATION 1", {0x00, 0x09, 1, 0, 0}, false, {}},
      {"GET_CONFIGURATION", {0x80, 0x08, 0, 0, 1}, false, {0x01}},
      {"GET_STATUS", {0x80, 0x00, 0, 0, 2}, false, {0x00, 0x00}},
      {"SET_INTERFACE 0/0", {0x01, 0x0B, 0, 0, 0}, false, {}},
      {"GET_INTERFACE", {0x81, 0x0A, 0, 0, 1}, false, {0x00}},
      {"alternate setting 1", {0x01, 0x0B, 1, 0, 0}, true, {}},
      {"configuration 2", {0x00, 0x09, 2, 0, 0}, true, {}},
      {"string 3", {0x80, 0x06, 0x0303, 0x1B, 0x82}, true, {}},
      {"device qualifier", {0x80, 0x06, 0x0600, 0, 0x0A}, true, {}},
      {"vendor request", {0x40, 0xA0, 0x7F92, 0, 1}, true, {}},
      {"SET_FEATURE", {0x00, 0x03, 1, 0, 0}, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Answer answer = control(c.setup);
    EXPECT_EQ(answer.stalled, c.stalled);
    EXPECT_EQ(answer.data, c.data);
  }
}

class Pipes : public CableFirmware {
 protected:
  Pipes() { attach(); }
};

TEST_F(Pipes, PinBytesClockOnlyWithBit1ClearAndAnswerTdoAndSupply) {
  const Bytes replies = exchange(kPinsOut, {0x82, 0x80, 0x84, 0xA0, 0xA4, 0x86, 0x82});
  // Four cycles with the TMS/TDI of their bytes: the TAP walks from
  // Test-Logic-Reset through Run-Test/Idle, Select-DR and Capture-DR.
  EXPECT_EQ(trace.tms_bits(), "0101");
  EXPECT_EQ(trace.tdi_bits(), "0011");
  EXPECT_EQ(chain.device(0).state(), TapState::Exit1Dr);
  EXPECT_EQ(pins_c() & 0x06, 0x02);  // the last byte set TMS low without a cycle
  // The device drives TDO only while shifting: the pull-up, and the supply.
  EXPECT_EQ(replies, Bytes(7, 0x09));

  // Only the bytes with bit 7 are answered.
  pins({USB_JTAG_SET_TMS_LOW, USB_JTAG_SET_TMS_HIGH});
  EXPECT_FALSE(chip.in_armed(kReplyIn));
  chain.set_powered(false);
  EXPECT_EQ(exchange(kPinsOut, {USB_JTAG_SET_TMS_LOW, USB_JTAG_POWER_QUERY}), Bytes{0x01});
  EXPECT_EQ(pins_c() & 0x04, 0x04);
  EXPECT_EQ(trace.clock_count(), 4u);
}

TEST_F(Pipes, PinByteRepliesCarryTdoSampledWhileTckIsLow) {
  enter_shift_dr();
  tdo_valid_only_while_tck_low = true;
  const Bytes replies = exchange(kPinsOut, Bytes(8, USB_JTAG_PIN_REPLY));
  for (int bit = 0; bit < 8; ++bit) {
    EXPECT_EQ(replies[bit], 0x08 | ((kChainIdcode >> bit) & 1)) << bit;
  }
}

TEST_F(Pipes, StreamWithTdoShiftsTdiFromBit0AndAnswersTdoInCycleOrder) {
  enter_shift_dr();
  tdo_valid_only_while_tck_low = true;
  const Bytes first = {0x01, 0x80, 0x5A, 0xC3};
  EXPECT_EQ(exchange(kStreamTdoOut, first), idcode_bytes());
  // The IDCODE register is 32 bits: what went in comes out four bytes later.
  EXPECT_EQ(exchange(kStreamTdoOut, {0x00, 0xFF, 0x00, 0xFF}), first);
  EXPECT_EQ(trace.tdi_bits(), lsb_first(first) + lsb_first({0x00, 0xFF, 0x00, 0xFF}));
  EXPECT_EQ(trace.tms_bits(), std::string(64, '0'));
  EXPECT_EQ(chain.device(0).state(), TapState::ShiftDr);
}

TEST_F(Pipes, FullAndOddPacketsKeepEveryByteInOrder) {
  enter_shift_dr();
  Bytes data(64);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 37 + 11);
  Bytes expected = idcode_bytes();
  expected.insert(expected.end(), data.begin(), data.end() - 4);
  EXPECT_EQ(exchange(kStreamTdoOut, data), expected);
  // The stream without reply feeds the same register.
  stream(data);
  EXPECT_EQ(exchange(kStreamTdoOut, Bytes(4, 0)), Bytes(data.end() - 4, data.end()));
  // An odd length: every reply byte still arrives, in order.
  EXPECT_EQ(exchange(kStreamTdoOut, Bytes(data.begin(), data.begin() + 63)).size(), 63u);
  EXPECT_EQ(exchange(kStreamTdoOut, Bytes(3, 0)), Bytes(data.begin() + 59, data.begin() + 62));
  EXPECT_FALSE(chip.in_armed(kReplyIn));
}

TEST_F(Pipes, StreamWithoutReplyHoldsTmsFromTheLastPinByte) {
  enter_shift_dr();
  stream({0xA5, 0x3C});
  EXPECT_FALSE(chip.in_armed(kReplyIn));
  EXPECT_EQ(chain.device(0).state(), TapState::ShiftDr);
  // TMS high without a cycle, then a byte: eight cycles with TMS high end in
  // Test-Logic-Reset.
  pins({USB_JTAG_SET_TMS_HIGH});
  stream({0x00});
  EXPECT_EQ(trace.tms_bits(), std::string(16, '0') + std::string(8, '1'));
  EXPECT_EQ(chain.device(0).state(), TapState::TestLogicReset);
  EXPECT_EQ(pins_c() & 0x06, 0x06);
}

TEST_F(Pipes, ReplyWaitsUntilTheHostTookThePreviousOne) {
  enter_shift_dr();
  send(kStreamTdoOut, on_wire({0x11, 0x22, 0x33, 0x44}));
  run_until([&] { return chip.in_armed(kReplyIn) && chip.out_held(kStreamTdoOut) == 0; });
  send(kStreamTdoOut, on_wire({0x55}));
  chip.run(20000);
  EXPECT_EQ(chip.out_held(kStreamTdoOut), 1);  // held until IN2 is free
  EXPECT_EQ(from_wire(take_reply()), idcode_bytes());
  run_until([&] { return chip.in_armed(kReplyIn) && chip.out_held(kStreamTdoOut) == 0; });
  EXPECT_EQ(from_wire(take_reply()), Bytes{0x11});
}

// Machine cycles per TCK cycle: a full packet from the host's send to the
// firmware's re-arm (or reply), over its TCK cycles; and within the packet,
// between the first and the last rising edge.
class LoopSpeed : public CableFirmware {
 protected:
  LoopSpeed() { attach(); }
  void measure(const char* name, int endpoint, const Bytes& packet, std::size_t tck_cycles) {
    const std::size_t edges_before = rising_edge_cycles.size();
    const std::uint64_t start = chip.cycles();
    send(endpoint, packet);
    const bool replies = endpoint != kStreamOut;
    run_until(
        [&] { return chip.out_held(endpoint) == 0 && (!replies || chip.in_armed(kReplyIn)); });
    per_tck = double((replies ? *reply_cycle : *armed_cycle) - start) / double(tck_cycles);
    if (replies) take_reply();
    const auto& edges = rising_edge_cycles;
    in_packet =
        double(edges.back() - edges[edges_before]) / double(edges.size() - edges_before - 1);
    std::printf(
        "%s: %.2f machine cycles per TCK over the packet (%.0f kHz at 24 MHz), %.2f between "
        "edges\n",
        name, per_tck, 6000.0 / per_tck, in_packet);
    ::testing::Test::RecordProperty(std::string(name) + "_cycles_per_tck_x100",
                                    int(per_tck * 100 + 0.5));
  }
  double per_tck = 0;
  double in_packet = 0;
};

TEST_F(LoopSpeed, StreamWithoutReplyTakesAtMost10AndAHalfCyclesPerTck) {
  for (const int tms : {USB_JTAG_SET_TMS_LOW, USB_JTAG_SET_TMS_HIGH}) {
    pins({static_cast<std::uint8_t>(tms)});
    measure("pipe1", kStreamOut, Bytes(64, 0x5A), 512);
    EXPECT_LE(per_tck, 10.5);
    EXPECT_LE(in_packet, 10.25);
  }
}

TEST_F(LoopSpeed, StreamWithTdoTakesAtMost15AndAHalfCyclesPerTck) {
  measure("pipe2", kStreamTdoOut, Bytes(64, 0xA5), 512);
  // Four MOVX and five one-cycle instructions a cycle, plus each byte's
  // fetch and reply; over the packet the replies' copy to IN2BUF too (see
  // jtag_loops.asm).
  EXPECT_LE(per_tck, 15.5);
  EXPECT_LE(in_packet, 14.5);
}

TEST_F(LoopSpeed, ReplyingPinBytesTakeAtMost48CyclesEach) {
  measure("pins", kPinsOut, Bytes(8, 0xA0), 8);
  // Eight bytes carry the packet's fixed costs too, and up to a turn of the
  // poll loop before the firmware sees the packet; a byte itself takes 48.
  EXPECT_LE(in_packet, 48.0);
  EXPECT_LE(per_tck, 75.0);
}

}  // namespace
}  // namespace velnor::bench
