#include "bench/user_design.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bench/bitstream.h"
#include "bench/board.h"
#include "bench/fpga_driver.h"
#include "bench/jtag_driver.h"
#include "bench/spartan2.h"

namespace velnor::bench {
namespace {

using testing::FpgaDriver;
using testing::JtagDriver;
using Bytes = std::vector<std::uint8_t>;

std::string bits_of(const Bytes& bytes) {
  std::string bits;
  for (std::uint8_t byte : bytes) {
    for (int bit = 7; bit >= 0; --bit) bits.push_back(((byte >> bit) & 1) != 0 ? '1' : '0');
  }
  return bits;
}

Bytes bytes_of(const std::string& bits) {
  Bytes bytes(bits.size() / 8, 0);
  for (std::size_t i = 0; i < bytes.size() * 8; ++i) {
    if (bits[i] == '1') bytes[i / 8] = static_cast<std::uint8_t>(bytes[i / 8] | 0x80 >> (i % 8));
  }
  return bytes;
}

// One transfer straight into the design: Capture-DR, leading zeros, the
// start bit, the bytes. Returns what the design sent while it received
// them (TDO is presented before each bit is taken).
Bytes transfer(UserDesign& design, int channel, const Bytes& in, int leading_zeros = 0) {
  design.capture(channel);
  for (int i = 0; i < leading_zeros; ++i) {
    EXPECT_FALSE(design.output(channel));
    design.shift(channel, false);
  }
  EXPECT_FALSE(design.output(channel));
  design.shift(channel, true);
  std::string out;
  for (char bit : bits_of(in)) {
    out.push_back(design.output(channel) ? '1' : '0');
    design.shift(channel, bit == '1');
  }
  return bytes_of(out);
}

TEST(UserDesign, LoopbackAnswersOneByteLate) {
  UserDesign design(DesignKind::Loopback);
  EXPECT_EQ(transfer(design, 0, {0x11, 0x22, 0x33}, 3), (Bytes{0xA5, 0x11, 0x22}));
  EXPECT_EQ(transfer(design, 1, {0xC3, 0x00, 0xFF, 0x01}), (Bytes{0x5A, 0xC3, 0x00, 0xFF}));
  // Capture starts over: the first byte again.
  EXPECT_EQ(transfer(design, 0, {0x7E}), (Bytes{0xA5}));
}

TEST(UserDesign, MemoryWritesAndReadsTwoBytesLater) {
  UserDesign design(DesignKind::Memory);
  // Address 0x00012000, then 3 data bytes.
  EXPECT_EQ(transfer(design, 0, {0x80, 0x01, 0x20, 0x00, 0x43, 0x0A, 0x0B, 0x0C, 0x00}),
            Bytes(9, 0));
  EXPECT_EQ(design.read(0x00012000), 0x0A);
  EXPECT_EQ(design.read(0x00012002), 0x0C);
  EXPECT_EQ(design.read(0x00012003), 0x00);  // never written
  // Reads in received bytes 4..6 answer in output bytes 6..8.
  EXPECT_EQ(transfer(design, 0, {0x80, 0x01, 0x20, 0x00, 0x21, 0x21, 0x21, 0x00, 0x00}),
            (Bytes{0, 0, 0, 0, 0, 0, 0x0A, 0x0B, 0x0C}));
  // Channel 1 carries nothing.
  EXPECT_EQ(transfer(design, 1, {0x80, 0x01, 0x20, 0x00, 0x21, 0x00, 0x00}), Bytes(7, 0));
}

TEST(UserDesign, AddressWrapsInsideItsPage) {
  UserDesign design(DesignKind::Memory);
  transfer(design, 0, {0x83, 0x04, 0xFF, 0xFF, 0x42, 0x01, 0x02, 0x00});
  EXPECT_EQ(design.read(0x0304FFFF), 0x01);
  EXPECT_EQ(design.read(0x03040000), 0x02);
  EXPECT_EQ(design.read(0x03050000), 0x00);
  // A frame start with all bits set: address bit 31 does not exist.
  transfer(design, 0, {0xFF, 0x00, 0x00, 0x10, 0x41, 0x5D, 0x00});
  EXPECT_EQ(design.read(0x7F000010), 0x5D);
  EXPECT_EQ(design.read(0xFF000010), 0x5D);
  design.write(0x80000020, 0x66);
  EXPECT_EQ(design.read(0x00000020), 0x66);
}

TEST(UserDesign, BytesOutsideFramesAndUnknownRecordsAreIgnored) {
  UserDesign design(DesignKind::Memory);
  design.write(0x00000005, 0x99);
  // Outside a frame: extra zeros, a read command, a write record.
  EXPECT_EQ(transfer(design, 0, {0x00, 0x21, 0x41, 0x05, 0x00, 0x00}), Bytes(6, 0));
  EXPECT_EQ(design.read(0x00000005), 0x99);
  // Inside one: 0x40 (no bytes), 0x01, and a byte with bit 7 set are no
  // records; the read after them still works.
  EXPECT_EQ(transfer(design, 0, {0x80, 0x00, 0x00, 0x05, 0x40, 0x01, 0x90, 0x21, 0x00, 0x00}),
            (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0x99}));
}

TEST(UserDesign, PowerLossClearsTheRam) {
  UserDesign design(DesignKind::Memory);
  design.write(0x1234, 0x77);
  design.power_on();
  EXPECT_EQ(design.read(0x1234), 0x00);
  UserDesign none(DesignKind::None);
  EXPECT_EQ(transfer(none, 0, {0x12, 0x34}), Bytes(2, 0));
  EXPECT_EQ(none.kind(), DesignKind::None);
}

struct Configured {
  explicit Configured(const std::string& description) : board(make_board(description)) {
    fpga = board->fpga();
    BitstreamOptions options;
    options.part = fpga->part();
    jtag.configure(make_bitstream(options));
  }
  std::unique_ptr<Board> board;
  Spartan2* fpga;
  FpgaDriver jtag{board->chain()};
  JtagDriver raw{board->chain()};
};

TEST(UserRegisters, OneZeroBitUntilConfigured) {
  auto board = make_board("chain=xc2s15;design=loopback");
  FpgaDriver jtag(board->chain());
  JtagDriver raw(board->chain());
  jtag.reset();
  for (std::uint32_t user : {Spartan2::kUser1, Spartan2::kUser2}) {
    jtag.instruction(user);
    EXPECT_EQ(raw.shift_dr("1" + bits_of({0x11})), "0" + std::string("10001000")) << user;
  }
  // design=none: one zero bit even when configured.
  Configured none("chain=xc2s15;design=none");
  ASSERT_TRUE(none.fpga->user_mode());
  none.jtag.instruction(Spartan2::kUser1);
  EXPECT_EQ(none.raw.shift_dr("1" + bits_of({0x11})), "0" + std::string("10001000"));
}

// Leaving Shift-DR through Pause-DR and coming back keeps the frame: only
// Capture-DR restarts it.
TEST(UserRegisters, FramesContinueWhileTheScanStaysInShiftDr) {
  Configured c("chain=xc2s15");
  c.fpga->design().write(0x00020007, 0x42);
  c.jtag.instruction(Spartan2::kUser1);
  Chain& chain = c.board->chain();
  std::string out;
  // Shifts the bits; the last one leaves Shift-DR for Exit1-DR.
  auto segment = [&](const std::string& bits) {
    for (std::size_t i = 0; i < bits.size(); ++i) {
      out.push_back(chain.clock(i + 1 == bits.size(), bits[i] == '1') ? '1' : '0');
    }
  };
  chain.clock(true, false);   // Select-DR-Scan
  chain.clock(false, false);  // Capture-DR
  chain.clock(false, false);  // Shift-DR
  segment("1" + bits_of({0x80, 0x02, 0x00}));
  chain.clock(false, false);  // Pause-DR
  chain.clock(true, false);   // Exit2-DR
  chain.clock(false, false);  // Shift-DR
  segment(bits_of({0x07, 0x21, 0x00, 0x00}));
  chain.clock(true, false);   // Update-DR
  chain.clock(false, false);  // Run-Test/Idle
  // The read command is received byte 4: its data is output byte 6.
  EXPECT_EQ(bytes_of(out.substr(1)), (Bytes{0, 0, 0, 0, 0, 0, 0x42}));
  // The same bytes in two scans: the second capture loses the frame.
  c.raw.shift_dr("1" + bits_of({0x80, 0x02, 0x00}));
  EXPECT_EQ(c.raw.shift_dr("1" + bits_of({0x07, 0x21, 0x00, 0x00})), std::string(33, '0'));
}

TEST(UserRegisters, ShutdownDisconnectsTheDesign) {
  Configured c("chain=xc2s15;design=loopback");
  c.jtag.shut_down();
  c.jtag.instruction(Spartan2::kUser1);
  EXPECT_EQ(c.raw.shift_dr("1" + bits_of({0xFF})), "0" + std::string("11111111"));
}

}  // namespace
}  // namespace velnor::bench
