// The EZ-USB cable on the bench: the AN2131's registers and handshakes, the
// bare device, renumeration and enumeration in virtual time, bulk transfers
// across threads, cancel, the faults and the chip's own rules. The
// firmware is tests/bench/mcs51_programs/usb_echo.asm (see its header).
#include "bench/ezusb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/board.h"
#include "bench/usb_host.h"

namespace velnor::bench {
namespace {

constexpr std::uint32_t kEchoOut = 0, kReplyIn = 2;  // usb_echo's pipes

std::vector<std::uint8_t> echo_image() {
  std::vector<std::uint8_t> image(8192, 0);
#ifdef VELNOR_MCS51_PROGRAMS
  std::ifstream file(std::string(VELNOR_MCS51_PROGRAMS) + "/usb_echo.ihx");
  std::string line;
  while (std::getline(file, line)) {
    if (line.size() < 11 || line[0] != ':' || line.substr(7, 2) != "00") continue;
    const unsigned length = static_cast<unsigned>(std::stoul(line.substr(1, 2), nullptr, 16));
    const unsigned address = static_cast<unsigned>(std::stoul(line.substr(3, 4), nullptr, 16));
    for (unsigned i = 0; i < length; ++i) {
      image.at(address + i) =
          static_cast<std::uint8_t>(std::stoul(line.substr(9 + 2 * i, 2), nullptr, 16));
    }
  }
#endif
  return image;
}

#ifdef VELNOR_MCS51_PROGRAMS
#define REQUIRE_PROGRAMS()
#else
#define REQUIRE_PROGRAMS() GTEST_SKIP() << "8051 test programs need SDCC"
#endif

std::vector<std::uint8_t> pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return bytes;
}

TEST(EzUsbBare, OpensByNameWithoutCaseAndAnswersWithTheCoreIdentityOnly) {
  Host host("default");
  const Handle upper =
      host.board->open_device("\\\\.\\EZUSB-0", kGenericWrite, kShareWrite, kOpenExisting, 0);
  EXPECT_NE(upper, 0u);
  host.board->close_device(upper);
  EXPECT_EQ(host.open(1), 0u);
  EXPECT_EQ(
      host.board->open_device("\\\\.\\ezusb-0x", kGenericWrite, kShareWrite, kOpenExisting, 0), 0u);
  const Handle first = host.open();
  const Handle second = host.open();
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  EXPECT_NE(first, second);
  // No string descriptors on the bare core.
  std::vector<std::uint8_t> text;
  EXPECT_FALSE(host.string(first, 1, &text));
  // No pipes either: the core's interface has no endpoints.
  std::vector<std::uint8_t> buffer(8);
  EXPECT_FALSE(host.read(second, 0, &buffer));
  EXPECT_TRUE(host.device().chip().cpu_held());
  host.board->close_device(first);
  host.board->close_device(second);
  EXPECT_EQ(host.board->usb().open_handle_count(), 0u);
  EXPECT_TRUE(host.board->violations().empty());
}

// With the board's clock on real time the device catches up with the time
// the host brought in, not with a clock that keeps running.
TEST(EzUsbBare, AnswersOnARealTimeClock) {
  const std::unique_ptr<Board> board = make_board("time=real");
  EXPECT_TRUE(board->usb_device(0)->attached_instance().has_value());
}

TEST(EzUsbBare, NoUsbKeyMeansNoDevice) {
  Host host("usb=");
  EXPECT_EQ(host.open(), 0u);
  Host two("usb=3,7");
  EXPECT_EQ(two.open(0), 0u);
  EXPECT_NE(two.open(3), 0u);
  EXPECT_NE(two.open(7), 0u);
}

TEST(EzUsbBare, DownloadOnlyWhileTheCpuIsHeld) {
  REQUIRE_PROGRAMS();
  Host host("default");
  const Handle h = host.boot_and_open(echo_image());
  ASSERT_NE(h, 0u);
  EXPECT_FALSE(host.download(h, echo_image()));
  ASSERT_EQ(host.board->violations().size(), 1u);
  EXPECT_EQ(host.board->violations()[0], "EZ-USB download while the 8051 runs");
  // Halting makes it possible again.
  EXPECT_TRUE(host.cpucs(h, 1));
  EXPECT_TRUE(host.device().chip().cpu_held());
  EXPECT_TRUE(host.download(h, echo_image()));
}

TEST(EzUsbRenumeration, DeviceIsAwayUntilTheFirmwareReconnectsPlusEnumeration) {
  REQUIRE_PROGRAMS();
  Host host("default");
  host.boot(echo_image());
  const std::uint64_t run_at = host.board->clock().now_ms();
  // The firmware stays off the bus for ~10.07 ms, then the host needs
  // 300 ms to enumerate it.
  std::uint64_t back_after = 0;
  for (int ms = 0; ms < 1000; ++ms) {
    const Handle h = host.open();
    if (h != 0) {
      back_after = host.board->clock().now_ms() - run_at;
      host.board->close_device(h);
      break;
    }
    host.board->clock().sleep_ms(1);
  }
  EXPECT_GE(back_after, 310u);
  EXPECT_LE(back_after, 312u);
  const std::vector<UsbPipe> pipes = host.device().pipes();
  ASSERT_EQ(pipes.size(), 3u);
  EXPECT_EQ(pipes[0].address, 0x02);
  EXPECT_EQ(pipes[1].address, 0x04);
  EXPECT_EQ(pipes[2].address, 0x82);
  EXPECT_TRUE(host.board->violations().empty());
}

TEST(EzUsbRenumeration, OldHandlesDieWithTheBareDevice) {
  REQUIRE_PROGRAMS();
  Host host("default");
  const Handle old = host.open();
  ASSERT_TRUE(host.cpucs(old, 1));
  ASSERT_TRUE(host.download(old, echo_image()));
  ASSERT_TRUE(host.cpucs(old, 0));
  EXPECT_FALSE(host.cpucs(old, 1));
  host.board->clock().sleep_ms(1500);
  std::vector<std::uint8_t> text;
  EXPECT_FALSE(host.string(old, 1, &text));
  const Handle fresh = host.open();
  ASSERT_NE(fresh, 0u);
  ASSERT_TRUE(host.string(fresh, 1, &text));
  EXPECT_EQ(text, (std::vector<std::uint8_t>{10, 3, 'E', 0, 'C', 0, 'H', 0, 'O', 0}));
  ASSERT_TRUE(host.string(fresh, 2, &text));
  EXPECT_EQ(text, (std::vector<std::uint8_t>{6, 3, 'T', 0, '1', 0}));
  EXPECT_FALSE(host.string(fresh, 3, &text));  // the firmware stalls it
}

TEST(EzUsbRenumeration, EnumerationRejectsAForeignIdentityOrAnEndpointLeftInvalid) {
  REQUIRE_PROGRAMS();
  std::vector<std::uint8_t> foreign = echo_image();
  foreign[0x0408] = 0x48;  // vendor 0x0548
  std::vector<std::uint8_t> invalid = echo_image();
  // The firmware's OUT07VAL value: mov a, #0x15 right after mov dptr, #0x7fdf.
  const std::uint8_t marker[] = {0x90, 0x7F, 0xDF, 0x74, 0x15};
  auto at = std::search(invalid.begin(), invalid.end(), std::begin(marker), std::end(marker));
  ASSERT_NE(at, invalid.end());
  at[4] = 0x05;  // OUT4 not valid
  const std::pair<std::vector<std::uint8_t>, std::string> cases[] = {
      {foreign,
       "EZ-USB unit 0 failed enumeration: vendor 0x0548 product 0x2131 is not the driver's "
       "0x0547/0x2131"},
      {invalid,
       "EZ-USB unit 0 failed enumeration: endpoint 0x04 is listed but its OUT07VAL bit is clear"},
  };
  for (const auto& [image, violation] : cases) {
    Host host("default");
    EXPECT_EQ(host.boot_and_open(image), 0u);
    EXPECT_EQ(host.board->violations(), std::vector<std::string>{violation});
  }
}

TEST(EzUsbRenumeration, AProgramThatNeverReconnectsNeverComesBack) {
  Host host("default");
  std::vector<std::uint8_t> image(4096, 0);
  image[0] = 0x80;  // sjmp $
  image[1] = 0xFE;
  host.boot(image);
  host.board->clock().sleep_ms(3000);
  EXPECT_EQ(host.open(), 0u);
  EXPECT_TRUE(host.board->violations().empty());
}

class EzUsbEcho : public ::testing::Test {
 protected:
  void SetUp() override { start("trace=on"); }
  void start(const std::string& description) {
#ifndef VELNOR_MCS51_PROGRAMS
    GTEST_SKIP() << "8051 test programs need SDCC";
#endif
    host = std::make_unique<Host>(description);
    writer = host->boot_and_open(echo_image());
    reader = host->open();
    ASSERT_NE(writer, 0u);
    ASSERT_NE(reader, 0u);
  }
  std::unique_ptr<Host> host;
  Handle writer = 0;
  Handle reader = 0;
};

// 15 full packets and a short one: the short packet ends the read of 4096.
TEST_F(EzUsbEcho, ReaderThreadReceivesWhatTheWriterSendsUpToTheShortPacket) {
  const std::vector<std::uint8_t> data = pattern(1000);
  std::vector<std::uint8_t> echoed(4096);
  bool read_ok = false;
  std::thread reading([&] { read_ok = host->read(reader, kReplyIn, &echoed); });
  std::uint32_t sent = 0;
  EXPECT_TRUE(host->write(writer, kEchoOut, data, &sent));
  EXPECT_EQ(sent, 1000u);
  reading.join();
  EXPECT_TRUE(read_ok);
  EXPECT_EQ(echoed, data);
  const UsbCounters counters = host->device().counters();
  EXPECT_EQ(counters.packets_out, 16u);
  EXPECT_EQ(counters.packets_in, 16u);
  EXPECT_EQ(counters.bulk_transfers, 2u);
  EXPECT_GT(counters.machine_cycles, 0u);
  // The transfer log keeps the bytes of each transfer.
  const std::vector<UsbTransfer> log = host->device().transfers();
  const auto write = std::find_if(log.begin(), log.end(), [](const UsbTransfer& t) {
    return t.kind == UsbTransfer::Kind::BulkOut && t.pipe == kEchoOut;
  });
  ASSERT_NE(write, log.end());
  EXPECT_EQ(write->endpoint, 0x02);
  EXPECT_EQ(write->length, 1000u);
  EXPECT_EQ(write->data, data);
  EXPECT_TRUE(write->ok);
  EXPECT_TRUE(host->board->violations().empty());
}

// One packet on the bus at a time, each taking its time on the wire: 64
// bytes echoed go 64 + 13 bytes out and as many back, two 53 µs slots on
// top of the echo program's own 209 µs.
TEST_F(EzUsbEcho, PacketsTakeTheirTimeOnTheWire) {
  const std::vector<std::uint8_t> data = pattern(64);
  std::vector<std::uint8_t> echoed(64);
  const std::uint64_t start = host->board->clock().now_ns();
  std::thread reading([&] { EXPECT_TRUE(host->read(reader, kReplyIn, &echoed)); });
  EXPECT_TRUE(host->write(writer, kEchoOut, data));
  reading.join();
  EXPECT_EQ(echoed, data);
  EXPECT_GE(host->board->clock().now_ns() - start, 209'000u + 2 * 45'000u);
}

TEST_F(EzUsbEcho, WriterAheadOfTheReaderWaitsWithoutDeadlock) {
  // The firmware holds the second packet until the host drains IN2; the
  // write can finish only once the reader, started later, takes them.
  const std::vector<std::uint8_t> data = pattern(4096);
  bool write_ok = false;
  std::thread writing([&] { write_ok = host->write(writer, kEchoOut, data); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::vector<std::uint8_t> echoed(4096);
  EXPECT_TRUE(host->read(reader, kReplyIn, &echoed));
  writing.join();
  EXPECT_TRUE(write_ok);
  EXPECT_EQ(echoed, data);
}

TEST_F(EzUsbEcho, FullFramesLimitThePacketRate) {
  const std::vector<std::uint8_t> data = pattern(64 * 100);
  std::vector<std::uint8_t> echoed(data.size());
  const std::uint64_t start = host->board->clock().now_ns();
  std::thread reading([&] { EXPECT_TRUE(host->read(reader, kReplyIn, &echoed)); });
  EXPECT_TRUE(host->write(writer, kEchoOut, data));
  reading.join();
  EXPECT_EQ(echoed, data);
  // 200 packets at no more than 19 a frame.
  const UsbCounters counters = host->device().counters();
  EXPECT_GE(counters.frames_used, 11u);
  EXPECT_GE(host->board->clock().now_ns() - start, 10'000'000u);
}

TEST_F(EzUsbEcho, CancelEndsAPendingReadWithoutTouchingTheBuffer) {
  std::vector<std::uint8_t> buffer(64, 0xEE);
  EXPECT_FALSE(host->board->cancel_device_io(reader));  // nothing pending
  bool read_ok = true;
  std::thread reading([&] { read_ok = host->read(reader, kReplyIn, &buffer); });
  while (!host->board->cancel_device_io(reader)) std::this_thread::yield();
  reading.join();
  EXPECT_FALSE(read_ok);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(64, 0xEE));
  // The device goes on working.
  std::vector<std::uint8_t> echoed(3);
  std::thread again([&] { EXPECT_TRUE(host->read(reader, kReplyIn, &echoed)); });
  EXPECT_TRUE(host->write(writer, kEchoOut, {1, 2, 3}));
  again.join();
  EXPECT_EQ(echoed, (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST_F(EzUsbEcho, IdleFirmwareCostsNothingWhileTheHostSleeps) {
  const std::uint64_t before = host->device().counters().machine_cycles;
  host->board->clock().sleep_ms(10000);
  EXPECT_NE(host->open(), 0u);
  EXPECT_LT(host->device().counters().machine_cycles - before, 1000u);
}

// Each fault fails its step of the boot; the steps before it succeed.
TEST(EzUsbFaults, FailingRequests) {
  REQUIRE_PROGRAMS();
  const std::vector<std::uint8_t> image = echo_image();
  const std::pair<const char*, int> cases[] = {
      {"usbfault=halt", 0}, {"usbfault=download", 1}, {"usbfault=run", 2}};
  for (const auto& [description, failing_step] : cases) {
    SCOPED_TRACE(description);
    Host host(description);
    const Handle h = host.open();
    const bool steps[] = {host.cpucs(h, 1), failing_step > 0 && host.download(h, image),
                          failing_step > 1 && host.cpucs(h, 0)};
    for (int step = 0; step <= failing_step; ++step) EXPECT_EQ(steps[step], step < failing_step);
  }
  Host host("usbfault=noreturn");
  EXPECT_EQ(host.boot_and_open(image), 0u);
  host.board->clock().sleep_ms(10000);
  EXPECT_EQ(host.open(), 0u);
}

TEST(EzUsbFaults, ReadFailsOnceThenWorks) {
  REQUIRE_PROGRAMS();
  Host host("usbfault=readfail@2");
  const Handle h = host.boot_and_open(echo_image());
  std::vector<std::uint8_t> reply(1);
  const auto exchange = [&](std::uint8_t value) {
    reply.assign(1, 0);
    bool read_ok = false;
    std::thread reading([&] { read_ok = host.read(h, kReplyIn, &reply); });
    EXPECT_TRUE(host.write(h, kEchoOut, {value}));
    reading.join();
    return read_ok && reply == std::vector<std::uint8_t>{value};
  };
  EXPECT_TRUE(exchange(1));
  EXPECT_FALSE(host.read(h, kReplyIn, &reply));  // the second read fails at once
  EXPECT_TRUE(exchange(3));
}

TEST(EzUsbFaults, UnplugInTheMiddleOfAWrite) {
  REQUIRE_PROGRAMS();
  Host host("usbfault=unplug@3");
  const Handle h = host.boot_and_open(echo_image());
  const Handle r = host.open();
  bool read_ok = true;
  std::vector<std::uint8_t> echoed(640);
  std::thread reading([&] { read_ok = host.read(r, kReplyIn, &echoed); });
  std::uint32_t sent = 0;
  EXPECT_FALSE(host.write(h, kEchoOut, pattern(640), &sent));
  reading.join();
  EXPECT_FALSE(read_ok);
  EXPECT_EQ(host.open(), 0u);
}

TEST(EzUsbFaults, StalledReadEndsOnlyByCancel) {
  REQUIRE_PROGRAMS();
  Host host("usbfault=readstall");
  const Handle h = host.boot_and_open(echo_image());
  const Handle r = host.open();
  std::vector<std::uint8_t> echoed(4, 0x55);
  bool read_ok = true;
  std::thread reading([&] { read_ok = host.read(r, kReplyIn, &echoed); });
  EXPECT_TRUE(host.write(h, kEchoOut, {1, 2, 3, 4}));
  host.board->clock().sleep_ms(10000);
  while (!host.board->cancel_device_io(r)) std::this_thread::yield();
  reading.join();
  EXPECT_FALSE(read_ok);
  EXPECT_EQ(echoed, std::vector<std::uint8_t>(4, 0x55));
}

// The chip alone, with small programs as bytes.
struct ChipBench {
  explicit ChipBench(std::vector<std::uint8_t> program)
      : board(make_board("usb=")),
        chip(board->chain(), [this](std::string text) { violations.push_back(std::move(text)); }) {
    std::copy(program.begin(), program.end(), chip.ram().begin());
    chip.set_cpu_held(false);
  }
  std::unique_ptr<Board> board;
  std::vector<std::string> violations;
  An2131 chip;
};

TEST(An2131, HeldInResetUntilReleased) {
  ChipBench bench({0x90, 0x7F, 0x96, 0x74, 0x20, 0xF0, 0x80, 0xFE});  // OUTA = 0x20
  bench.chip.set_cpu_held(true);
  EXPECT_EQ(bench.chip.run(100), 0u);
  EXPECT_EQ(bench.chip.read_xdata(An2131::kCpucs) & 1, 1);
  bench.chip.set_cpu_held(false);
  EXPECT_GE(bench.chip.run(100), 100u);
  EXPECT_EQ(bench.chip.read_xdata(An2131::kOutA), 0x20);
}

// Each program breaks one of the chip's rules once and then loops: one
// violation, reported once.
TEST(An2131, FirmwareBreakingTheBufferRulesIsAViolation) {
  const struct {
    std::vector<std::uint8_t> program;
    const char* violation;
  } cases[] = {
      // mov dptr, #IN2BC; movx @dptr, a; movx @dptr, a
      {{0x90, 0x7F, 0xB9, 0xF0, 0xF0, 0x80, 0xFE},
       "EZ-USB 8051 armed IN2 while its last packet still waits for the host"},
      // IN2BC = 4, then IN2BUF[0] = a
      {{0x74, 0x04, 0x90, 0x7F, 0xB9, 0xF0, 0x90, 0x7E, 0x00, 0xF0, 0x80, 0xFE},
       "EZ-USB 8051 wrote IN2BUF while the packet in it waits for the host"},
      // OUT2BC written (armed), then OUT2BUF read
      {{0x90, 0x7F, 0xC9, 0xF0, 0x90, 0x7D, 0xC0, 0xE0, 0x80, 0xFE},
       "EZ-USB 8051 read OUT2BUF while it holds no packet from the host"},
      // two reads at 0x4000
      {{0x90, 0x40, 0x00, 0xE0, 0xE0, 0x80, 0xFE},
       "EZ-USB 8051 read external data at 0x4000, where nothing is"},
  };
  for (const auto& c : cases) {
    ChipBench bench(c.program);
    bench.chip.run(20);
    EXPECT_EQ(bench.violations, std::vector<std::string>{c.violation});
  }
}

TEST(An2131, UndrivenPinsAreHighAndTckEdgesReachTheChain) {
  ChipBench bench({0x80, 0xFE});
  An2131& chip = bench.chip;
  const std::uint64_t cycles = bench.board->chain().cycle_count();
  chip.write_xdata(An2131::kOutC, 0x00);  // latched, not driven yet
  EXPECT_EQ(bench.board->chain().cycle_count(), cycles);
  EXPECT_EQ(chip.read_xdata(An2131::kPinsC) & 0x06, 0x06);
  chip.write_xdata(An2131::kOeC, 0x06);   // TCK and TMS now driven low
  chip.write_xdata(An2131::kOutC, 0x02);  // TCK rises
  EXPECT_EQ(bench.board->chain().cycle_count(), cycles + 1);
  chip.write_xdata(An2131::kOeC, 0x00);  // released: stays high, no edge
  EXPECT_EQ(bench.board->chain().cycle_count(), cycles + 1);
  EXPECT_EQ(chip.read_xdata(An2131::kPinsC) & 0x09, 0x09);  // TDO pulled up, powered
  bench.board->set_target_powered(false);
  EXPECT_EQ(chip.read_xdata(An2131::kPinsC) & 0x08, 0x00);
}

// The 1.5 kOhm pull-up on D+ hangs on DISCON#: the chip is on the bus only
// while DISCOE drives that pin and DISCON is clear. OpenULINK disconnects
// by floating the pin (DISCON | RENUM, DISCOE clear).
TEST(An2131, OnTheBusOnlyWhileDiscoeDrivesThePinAndDisconIsClear) {
  ChipBench bench({0x80, 0xFE});
  An2131& chip = bench.chip;
  EXPECT_FALSE(chip.off_bus());  // as at power-on
  const std::pair<std::uint8_t, bool> cases[] = {
      {An2131::kDiscon | An2131::kRenum, true},
      {An2131::kDiscoe | An2131::kDiscon, true},
      {An2131::kDiscoe | An2131::kRenum, false},
  };
  for (const auto& [usbcs, off] : cases) {
    chip.write_xdata(An2131::kUsbCs, usbcs);
    EXPECT_EQ(chip.off_bus(), off) << int{usbcs};
  }
}

// A firmware may wait for its first OUT packet without writing OUTnBC: the
// bus reset that starts every enumeration arms the OUT endpoints.
TEST(An2131, BusResetArmsTheOutEndpointsAndFlagsUresir) {
  ChipBench bench({0x80, 0xFE});
  An2131& chip = bench.chip;
  for (int n = 1; n < 8; ++n) EXPECT_FALSE(chip.out_armed(n)) << n;
  chip.host_bus_reset();
  for (int n = 1; n < 8; ++n) {
    EXPECT_TRUE(chip.out_armed(n)) << n;
    EXPECT_FALSE(chip.in_armed(n)) << n;
  }
  EXPECT_EQ(chip.read_xdata(An2131::kUsbIrq) & An2131::kUsbReset, An2131::kUsbReset);
}

// PR2OUT pairs OUT2 with OUT3: the host's packets fill the two buffers in
// turn and a third is refused until the 8051, through OUT2's registers and
// buffer alone, hands one back.
TEST(An2131, PairedOutTakesTwoPacketsInTurnAndRefusesAThird) {
  ChipBench bench({0x80, 0xFE});
  An2131& chip = bench.chip;
  chip.write_xdata(An2131::kUsbPair, An2131::kPair2Out);
  chip.host_bus_reset();
  const std::uint16_t cs = An2131::out_cs(2);
  const std::uint16_t buffer = An2131::out_buffer(2);
  const std::uint8_t first[] = {0x11, 0x22}, second[] = {0x33}, third[] = {0x44};
  chip.host_out(2, first);
  EXPECT_TRUE(chip.out_armed(2));
  chip.host_out(2, second);
  EXPECT_FALSE(chip.out_armed(2));
  EXPECT_EQ(chip.out_held(2), 2);
  const struct { std::uint8_t count, byte; } reads[] = {{2, 0x22}, {1, 0x33}, {1, 0x44}};
  for (const auto& read : reads) {
    EXPECT_EQ(chip.read_xdata(cs) & An2131::kBusy, 0);
    EXPECT_EQ(chip.read_xdata(cs + 1), read.count);
    EXPECT_EQ(chip.read_xdata(buffer + read.count - 1), read.byte);
    chip.write_xdata(cs + 1, 0);
    EXPECT_TRUE(chip.out_armed(2));
    if (read.byte == 0x22) chip.host_out(2, third);
  }
  EXPECT_EQ(chip.read_xdata(cs) & An2131::kBusy, An2131::kBusy);
  EXPECT_EQ(bench.violations, std::vector<std::string>{});
  // Handing back a buffer it does not hold, and the odd endpoint's
  // registers and buffer.
  chip.write_xdata(cs + 1, 0);
  chip.read_xdata(An2131::out_cs(3));
  chip.read_xdata(An2131::out_buffer(3) + 5);
  EXPECT_EQ(bench.violations,
            (std::vector<std::string>{
                "EZ-USB 8051 wrote OUT2BC while OUT2CS is busy: neither buffer of the pair holds "
                "a packet for it",
                "EZ-USB 8051 used OUT3 at 0x7FCA, the odd half of the pair OUT2/OUT3, which it "
                "reaches through OUT2",
                "EZ-USB 8051 used OUT3 at 0x7D40, the odd half of the pair OUT2/OUT3, which it "
                "reaches through OUT2"}));
}

// With AVEN the LJMP at the INT2 vector jumps by the highest-priority
// enabled request: its low address byte at 0x45 is the autovector.
TEST(An2131, AutovectorFollowsTheHighestPriorityEnabledRequest) {
  ChipBench bench({0x80, 0xFE});
  An2131& chip = bench.chip;
  chip.write_xdata(An2131::kUsbBav, An2131::kAven);
  chip.write_xdata(An2131::kOut07Ien, 0x04);  // OUT2
  chip.write_xdata(An2131::kUsbIen, An2131::kSudav);
  chip.host_bus_reset();
  const std::uint8_t packet[] = {0x42};
  chip.host_out(2, packet);
  EXPECT_EQ(chip.ram()[An2131::kAutovectorByte], 0x2C);
  chip.host_setup(UsbSetup{0x80, 6, 0x0100, 0, 18});
  EXPECT_EQ(chip.ram()[An2131::kAutovectorByte], 0x00);
  chip.write_xdata(An2131::kUsbIrq, An2131::kSudav);  // handled
  EXPECT_EQ(chip.ram()[An2131::kAutovectorByte], 0x2C);
}

// The ULINK pod: TCK on PB2 clocks the chain, TDO comes back on PA5.
TEST(An2131, UlinkWiringDrivesPortBAndReadsTdoOnPa5) {
  const std::unique_ptr<Board> board = make_board("usb=");
  An2131 chip(
      board->chain(), [](std::string) {}, An2131::Wiring::OpenUlink);
  const std::uint64_t cycles = board->chain().cycle_count();
  chip.write_xdata(An2131::kOeB, 0x07);   // TDI, TMS, TCK driven low
  chip.write_xdata(An2131::kOutB, 0x04);  // TCK rises
  EXPECT_EQ(board->chain().cycle_count(), cycles + 1);
  board->chain().set_tdo_stuck(false);
  EXPECT_EQ(chip.read_xdata(An2131::kPinsA) & 0x20, 0x00);
  board->chain().set_tdo_stuck(true);
  EXPECT_EQ(chip.read_xdata(An2131::kPinsA) & 0x20, 0x20);
}

}  // namespace
}  // namespace velnor::bench
