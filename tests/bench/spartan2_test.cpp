#include "bench/spartan2.h"

#include <gtest/gtest.h>

#include <bitset>
#include <stdexcept>

#include "bench/bitstream.h"
#include "bench/board.h"
#include "bench/fpga_driver.h"
#include "bench/jtag_driver.h"

namespace velnor::bench {
namespace {

using testing::FpgaDriver;
using testing::JtagDriver;
using testing::ones;
using testing::word_bytes;
using testing::zeros;

// Status words: an unconfigured part in master-serial mode holds its I/Os in
// high impedance (GTS_CFG), writes disabled (GWE_B), GSR and GHIGH asserted
// (their _B bits 0), INIT high.
constexpr std::uint32_t kUnconfigured =
    Spartan2::kStatInit | Spartan2::kStatGtsCfg | Spartan2::kStatGweB;
constexpr std::uint32_t kConfigured =
    Spartan2::kStatDone | Spartan2::kStatInit | Spartan2::kStatGhighB | Spartan2::kStatGsrB;
// The sync word with the dummy word before it.
const std::vector<std::uint8_t> kSync = word_bytes({0xFFFFFFFF, 0xAA995566});

std::vector<std::uint8_t> operator+(std::vector<std::uint8_t> a,
                                    const std::vector<std::uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string bits32(std::uint32_t word) { return std::bitset<32>(word).to_string(); }

std::vector<std::uint8_t> bitstream(Part part, StartupClock clock = StartupClock::Jtag) {
  BitstreamOptions options;
  options.part = part;
  options.startup_clock = clock;
  return make_bitstream(options);
}

// The FPGA's IR capture in shift order (bit 0 first) on a one-device chain.
std::string ir_capture(Chain& chain) {
  JtagDriver jtag(chain);
  return jtag.shift_ir(ones(5));
}

struct OneFpga {
  explicit OneFpga(const std::string& description) : board(make_board(description)) {
    fpga = board->fpga();
  }
  std::unique_ptr<Board> board;
  Spartan2* fpga;
  FpgaDriver jtag{board->chain()};
};

TEST(ConfigCrc, DataLeastSignificantFirstThenFourAddressBits) {
  EXPECT_EQ(config_crc_step(0, 0, 0), 0);
  // Data bit 31 is the last data bit in: it feeds 0xA001 back, and each of
  // the four zero address bits then shifts right with feedback:
  // A001 -> F001 -> D801 -> CC01 -> C601.
  EXPECT_EQ(config_crc_step(0, 0, 0x80000000), 0xC601);
  EXPECT_NE(config_crc_step(0, 0, 1), config_crc_step(0, 0, 0x80000000));
  // Address bit 4 and up are not folded in.
  EXPECT_EQ(config_crc_step(0x1234, 2, 0xDEADBEEF), config_crc_step(0x1234, 18, 0xDEADBEEF));
  EXPECT_NE(config_crc_step(0x1234, 2, 0xDEADBEEF), config_crc_step(0x1234, 3, 0xDEADBEEF));
}

TEST(Spartan2Config, EveryPartConfiguresFromItsBitstream) {
  for (const char* part : {"xc2s15", "xc2s30", "xc2s50", "xc2s100", "xc2s150", "xc2s200"}) {
    SCOPED_TRACE(part);
    OneFpga f(std::string("chain=") + part);
    Part which;
    ASSERT_TRUE(part_from_name(part, &which));
    f.jtag.reset();
    EXPECT_EQ(ir_capture(f.board->chain()), "10011");  // DONE 0, INIT 1
    f.jtag.configure(bitstream(which));
    EXPECT_FALSE(f.fpga->crc_error());
    EXPECT_TRUE(f.fpga->user_mode());
    EXPECT_EQ(f.fpga->status_word(), kConfigured);
    EXPECT_EQ(ir_capture(f.board->chain()), "10111");  // DONE 1
  }
}

TEST(Spartan2Config, FaultsSetTheCrcErrorAndNeverReachDone) {
  struct Case {
    const char* name;
    BitstreamOptions options;
  };
  Case cases[] = {{"first CRC", {.wrong_first_crc = true}},
                  {"one frame more", {.extra_frames = 1}},
                  {"one frame less", {.extra_frames = -1}},
                  {"frame length", {.wrong_frame_length = true}},
                  {"missing register", {.write_to_missing_register = true}},
                  {"none", {}}};
  for (Case& c : cases) {
    c.options.part = Part::Xc2s30;
    OneFpga f("chain=xc2s30");
    f.jtag.configure(make_bitstream(c.options));
    SCOPED_TRACE(c.name);
    const bool faulty = c.name != std::string("none");
    EXPECT_EQ(f.fpga->crc_error(), faulty);
    EXPECT_EQ(f.fpga->init(), !faulty);
    EXPECT_EQ(f.fpga->done(), !faulty);
    // INIT low and DONE low in the IR capture; bit 0 of STAT.
    EXPECT_EQ(ir_capture(f.board->chain()), faulty ? "10001" : "10111");
    EXPECT_EQ(f.jtag.status() & (Spartan2::kStatCrcError | Spartan2::kStatInit),
              faulty ? Spartan2::kStatCrcError : Spartan2::kStatInit);
  }
}

TEST(Spartan2Readback, StatusBitByBit) {
  for (const auto& [mode, pins] : {std::pair<const char*, std::uint32_t>{"master", 0b000},
                                   {"slave", 0b111},
                                   {"jtag", 0b101}}) {
    OneFpga f(std::string("chain=xc2s15;mode=") + mode);
    f.jtag.reset();
    f.jtag.instruction(Spartan2::kCfgIn);
    f.jtag.write(kSync + testing::status_read_words());
    f.jtag.instruction(Spartan2::kCfgOut);
    const std::uint32_t expected = kUnconfigured | pins << 10;
    EXPECT_EQ(f.jtag.read(33), "0" + bits32(expected)) << mode;
    EXPECT_EQ(f.fpga->status_word(), expected) << mode;
  }
  // Configured: the pipeline bit, STAT 31..16 zero, then 0110 0011 0000
  // 0000; a board reproducing a part without the pipeline bit starts with
  // STAT bit 31.
  const std::string configured = zeros(16) + "0110001100000000";
  for (const auto& [board, bits] : {std::pair{"chain=xc2s15", "0" + configured},
                                    std::pair{"chain=xc2s15;cfgout=plain", configured + "0"}}) {
    OneFpga f(board);
    f.jtag.configure(bitstream(Part::Xc2s15));
    EXPECT_EQ(f.jtag.status_bits(), bits) << board;
  }
}

TEST(Spartan2Readback, ReadPacketsAndZerosAfterThem) {
  OneFpga f("chain=xc2s15");
  f.jtag.configure(bitstream(Part::Xc2s15));
  f.jtag.instruction(Spartan2::kCfgOut);
  EXPECT_EQ(f.jtag.read(40), zeros(40));  // nothing asked for
  f.jtag.instruction(Spartan2::kCfgIn);
  f.jtag.write(word_bytes({0x28012001, 0}));  // COR
  f.jtag.instruction(Spartan2::kCfgOut);
  EXPECT_EQ(f.jtag.read(33), "0" + bits32(0x00A03F2D));
  EXPECT_EQ(f.jtag.read(33), zeros(33));  // the capture took it
  f.jtag.instruction(Spartan2::kCfgIn);
  f.jtag.write(word_bytes({0x28016001, 0x2800E002, 0}));  // FLR, then STAT twice
  f.jtag.instruction(Spartan2::kCfgOut);
  EXPECT_EQ(f.jtag.read(70), "0" + bits32(kConfigured) + bits32(kConfigured) + "00000");
}

TEST(Spartan2Readback, NeverSyncedPartIgnoresPackets) {
  OneFpga f("chain=xc2s50");
  f.jtag.reset();
  EXPECT_EQ(f.jtag.status_bits(), zeros(33));
  EXPECT_FALSE(f.fpga->synced());
  f.jtag.instruction(Spartan2::kCfgIn);
  f.jtag.write(word_bytes({0x3001A001, 0}));  // a missing register, unseen
  EXPECT_FALSE(f.fpga->crc_error());
}

TEST(Spartan2Readback, DeadChainReadsOnes) {
  OneFpga f("chain=xc2s50");
  f.jtag.configure(bitstream(Part::Xc2s50));
  ASSERT_TRUE(f.fpga->done());
  f.board->set_target_powered(false);
  EXPECT_EQ(f.jtag.status_bits(), ones(33));
  EXPECT_EQ(ir_capture(f.board->chain()), ones(5));
  // Power returns: unconfigured and not synchronised.
  f.board->set_target_powered(true);
  EXPECT_FALSE(f.fpga->done());
  EXPECT_FALSE(f.fpga->synced());
  f.jtag.reset();
  EXPECT_EQ(f.jtag.status_bits(), zeros(33));
}

TEST(Spartan2Packets, RegistersThatDoNotExistAndRcrc) {
  for (std::uint32_t header : {0x30014001u, 0x28018001u, 0x3001A001u, 0x50000001u}) {
    OneFpga f("chain=xc2s15");
    f.jtag.reset();
    f.jtag.instruction(Spartan2::kCfgIn);
    f.jtag.write(kSync + word_bytes({header, 0}));
    EXPECT_TRUE(f.fpga->crc_error()) << std::hex << header;
    EXPECT_FALSE(f.fpga->init());
    // RCRC clears the flag and releases INIT.
    f.jtag.write(word_bytes({0x30008001, 7}));
    EXPECT_FALSE(f.fpga->crc_error());
    EXPECT_TRUE(f.fpga->init());
  }
}

TEST(Spartan2Packets, CrcCheckOfRegisterWrites) {
  // A COR write then a CRC write: the right value passes, another fails.
  const std::uint16_t crc = config_crc_step(0, 9, 0x00A03F2D);
  for (const auto& [value, error] :
       {std::pair<std::uint32_t, bool>{crc, false}, {crc ^ 0x100u, true}}) {
    OneFpga f("chain=xc2s15");
    f.jtag.reset();
    f.jtag.instruction(Spartan2::kCfgIn);
    f.jtag.write(kSync + word_bytes({0x30008001, 7, 0x30012001, 0x00A03F2D, 0x30000001, value}));
    EXPECT_EQ(f.fpga->crc_error(), error);
  }
}

TEST(Spartan2Packets, FillersAndResyncStartANewAttempt) {
  OneFpga f("chain=xc2s30");
  // Three frame words, fillers, then the whole bitstream: its sync word
  // starts the frame count afresh.
  f.jtag.configure(kSync + word_bytes({0x30008001, 7, 0x30004003, 1, 2, 3, 0, 0xFFFFFFFF, 0}) +
                   bitstream(Part::Xc2s30));
  EXPECT_TRUE(f.fpga->done());
  EXPECT_FALSE(f.fpga->crc_error());
  // Without the second sync word the three words count: one frame too many
  // is not a whole one, so START finds the count wrong.
  OneFpga g("chain=xc2s30");
  std::vector<std::uint8_t> data = bitstream(Part::Xc2s30);
  data.erase(data.begin(), data.begin() + 8);  // dummy and sync words
  g.jtag.configure(kSync + word_bytes({0x30004003, 1, 2, 3}) + data);
  EXPECT_FALSE(g.fpga->done());
  EXPECT_TRUE(g.fpga->crc_error());
}

TEST(Spartan2Packets, WordBoundaryHoldsAcrossScans) {
  OneFpga f("chain=xc2s15");
  f.jtag.configure(bitstream(Part::Xc2s15));
  // Eight stray bits put the status read off the word boundary: nothing
  // is read.
  f.jtag.instruction(Spartan2::kCfgIn);
  f.jtag.write(std::vector<std::uint8_t>{0} + testing::status_read_words());
  f.jtag.instruction(Spartan2::kCfgOut);
  EXPECT_EQ(f.jtag.read(33), zeros(33));
  // 24 more zero bits complete a filler word: whole words again.
  f.jtag.instruction(Spartan2::kCfgIn);
  f.jtag.write({0, 0, 0});
  EXPECT_EQ(f.jtag.status(), kConfigured);
}

TEST(Spartan2Packets, DataSplitAtAnyWordBoundary) {
  OneFpga f("chain=xc2s15");
  const std::vector<std::uint8_t> data = bitstream(Part::Xc2s15);
  f.jtag.reset();
  f.jtag.instruction(Spartan2::kCfgIn);
  for (std::size_t at = 0; at < data.size(); at += 4 * 997) {
    const std::size_t end = std::min(data.size(), at + 4 * 997);
    f.jtag.write(std::vector<std::uint8_t>(data.begin() + at, data.begin() + end));
  }
  f.jtag.start_up_clocks();
  EXPECT_TRUE(f.fpga->done());
}

TEST(Spartan2Startup, PhasesFollowJstartClocks) {
  OneFpga f("chain=xc2s15");
  f.jtag.reset();
  f.jtag.instruction(Spartan2::kCfgIn);
  f.jtag.write(bitstream(Part::Xc2s15));
  // LFRM released GHIGH; other instructions do not clock start-up.
  f.jtag.instruction(Spartan2::kCfgOut);
  f.jtag.idle(50);
  f.jtag.instruction(0x1F);
  f.jtag.idle(50);
  const std::uint32_t loaded = kUnconfigured | Spartan2::kStatGhighB;
  EXPECT_EQ(f.fpga->status_word(), loaded);
  // The cycle into Run-Test/Idle after Update-IR is the first JSTART clock.
  f.jtag.instruction(Spartan2::kJstart);
  f.jtag.idle(2);
  EXPECT_EQ(f.fpga->status_word(), loaded);  // phase 3
  f.jtag.idle(1);
  EXPECT_EQ(f.fpga->status_word(), loaded | Spartan2::kStatDone);  // phase 4: DONE
  EXPECT_FALSE(f.fpga->user_mode());
  f.jtag.idle(1);  // phase 5: I/Os enabled
  EXPECT_EQ(f.fpga->status_word(), (loaded | Spartan2::kStatDone) & ~Spartan2::kStatGtsCfg);
  f.jtag.idle(1);  // phase 6: writes enabled, set/reset released
  EXPECT_EQ(f.fpga->status_word(), kConfigured);
  EXPECT_FALSE(f.fpga->user_mode());
  f.jtag.idle(1);  // phase 7: end of start-up
  EXPECT_TRUE(f.fpga->user_mode());
  f.jtag.idle(10);
  EXPECT_EQ(f.fpga->status_word(), kConfigured);
}

TEST(Spartan2Startup, StartupWaitsForTheClosingCrcCheck) {
  OneFpga f("chain=xc2s15");
  const std::vector<std::uint8_t> data = bitstream(Part::Xc2s15);
  const std::size_t tail = 6 * 4;  // CRC header and value, four zero words
  f.jtag.configure(std::vector<std::uint8_t>(data.begin(), data.end() - tail));
  EXPECT_FALSE(f.fpga->done());
  EXPECT_FALSE(f.fpga->crc_error());
  f.jtag.configure(std::vector<std::uint8_t>(data.end() - tail, data.end()));
  EXPECT_TRUE(f.fpga->done());
}

TEST(Spartan2Startup, StartupClockSources) {
  struct Case {
    const char* mode;
    StartupClock clock;
    bool done_without_jstart;
    bool done;
  };
  const Case cases[] = {
      {"master", StartupClock::Cclk, true, true}, {"slave", StartupClock::Cclk, false, false},
      {"jtag", StartupClock::Cclk, false, false}, {"master", StartupClock::User, false, false},
      {"slave", StartupClock::Jtag, false, true}, {"jtag", StartupClock::Jtag, false, true},
  };
  for (const Case& c : cases) {
    OneFpga f(std::string("chain=xc2s15;mode=") + c.mode);
    f.jtag.reset();
    f.jtag.instruction(Spartan2::kCfgIn);
    f.jtag.write(bitstream(Part::Xc2s15, c.clock));
    EXPECT_EQ(f.fpga->done(), c.done_without_jstart) << c.mode << static_cast<int>(c.clock);
    f.jtag.start_up_clocks();
    EXPECT_EQ(f.fpga->done(), c.done) << c.mode << static_cast<int>(c.clock);
    EXPECT_EQ(f.fpga->user_mode(), c.done);
    EXPECT_FALSE(f.fpga->crc_error());
  }
}

TEST(Spartan2Startup, ShutdownAndReconfigure) {
  OneFpga f("chain=xc2s15");
  f.jtag.configure(bitstream(Part::Xc2s15));
  ASSERT_TRUE(f.fpga->user_mode());
  // START (without the shutdown bit) on a running part changes nothing.
  f.jtag.instruction(Spartan2::kCfgIn);
  f.jtag.write(word_bytes({0x30008001, 5, 0}));
  f.jtag.start_up_clocks();
  EXPECT_TRUE(f.fpga->user_mode());
  f.jtag.instruction(Spartan2::kCfgIn);
  f.jtag.write(testing::shutdown_words());
  // The design is cut off at START; the rest follows the JSTART clocks.
  EXPECT_FALSE(f.fpga->user_mode());
  EXPECT_TRUE(f.fpga->done());
  f.jtag.instruction(Spartan2::kJstart);  // phase 1
  f.jtag.idle(2);
  EXPECT_EQ(f.fpga->status_word(), kConfigured);
  f.jtag.idle(1);  // phase 4: DONE low
  EXPECT_EQ(f.fpga->status_word(), kConfigured & ~Spartan2::kStatDone);
  f.jtag.idle(1);  // phase 5: I/Os off
  EXPECT_EQ(f.fpga->status_word(), (kConfigured & ~Spartan2::kStatDone) | Spartan2::kStatGtsCfg);
  f.jtag.idle(2);  // phases 6 and 7
  EXPECT_EQ(f.fpga->status_word(), kUnconfigured | Spartan2::kStatGhighB);
  EXPECT_EQ(ir_capture(f.board->chain()), "10011");
  // Still synchronised: the restore and a status read need no sync word.
  f.jtag.instruction(Spartan2::kCfgIn);
  f.jtag.write(testing::restore_words());
  EXPECT_EQ(f.jtag.status(), kUnconfigured);
  // A START without new frames does not bring the old design back.
  f.jtag.instruction(Spartan2::kCfgIn);
  f.jtag.write(word_bytes({0x30008001, 5, 0}));
  f.jtag.start_up_clocks();
  EXPECT_FALSE(f.fpga->done());
  f.jtag.configure(bitstream(Part::Xc2s15));
  EXPECT_TRUE(f.fpga->user_mode());
  EXPECT_FALSE(f.fpga->crc_error());
}

TEST(Spartan2Startup, LibraryShutdownSequenceEndsUnconfigured) {
  OneFpga f("chain=xc2s100");
  f.jtag.configure(bitstream(Part::Xc2s100));
  ASSERT_TRUE(f.fpga->done());
  f.jtag.shut_down();
  EXPECT_FALSE(f.fpga->crc_error());
  EXPECT_TRUE(f.fpga->synced());
  EXPECT_EQ(f.jtag.status(), kUnconfigured);
  // Again on the unconfigured part: nothing happens.
  f.jtag.shut_down();
  EXPECT_EQ(f.jtag.status(), kUnconfigured);
}

// Shutdown on CCLK: immediate where CCLK runs, stuck where it stands still.
TEST(Spartan2Startup, ShutdownOnCclk) {
  const std::vector<std::uint8_t> shutdown =
      word_bytes({0x30012001, 0x0080BF2D, 0x30008001, 5, 0x30008001, 7, 0});
  OneFpga master("chain=xc2s15");
  master.jtag.configure(bitstream(Part::Xc2s15));
  master.jtag.instruction(Spartan2::kCfgIn);
  master.jtag.write(shutdown);
  EXPECT_FALSE(master.fpga->done());
  EXPECT_EQ(master.fpga->status_word(), kUnconfigured | Spartan2::kStatGhighB);
  OneFpga slave("chain=xc2s15;mode=slave");
  slave.jtag.configure(bitstream(Part::Xc2s15));
  slave.jtag.instruction(Spartan2::kCfgIn);
  slave.jtag.write(shutdown);
  slave.jtag.start_up_clocks();
  EXPECT_TRUE(slave.fpga->done());
  EXPECT_FALSE(slave.fpga->user_mode());
}

TEST(Spartan2Jtag, UsercodeOnceConfigured) {
  OneFpga f("chain=xc2s15;usercode=12345678");
  EXPECT_EQ(f.fpga->usercode(), 0x12345678u);
  f.jtag.reset();
  f.jtag.instruction(Spartan2::kUsercode);
  EXPECT_EQ(f.jtag.read(32), ones(32));
  f.jtag.configure(bitstream(Part::Xc2s15));
  f.jtag.instruction(Spartan2::kUsercode);
  std::string expected = bits32(0x12345678);
  EXPECT_EQ(f.jtag.read(32), std::string(expected.rbegin(), expected.rend()));  // LSB first
}

TEST(Spartan2Jtag, CfgInPassesBitsTowardsTdo) {
  // A one-bit stage: what goes in comes out one clock later.
  OneFpga f("chain=xc2s15");
  f.jtag.reset();
  f.jtag.instruction(Spartan2::kCfgIn);
  JtagDriver jtag(f.board->chain());
  EXPECT_EQ(jtag.shift_dr("1101001"), "0110100");
}

// With the XCF PROM on the TDI side of the FPGA, the PROM's bypass bit
// reaches the FPGA ahead of the data: the library sends 31 zeros first, so
// the FPGA sees a whole zero word, and one bit more to push the data
// through.
std::vector<std::uint8_t> after_one_bypass_bit(const std::vector<std::uint8_t>& data) {
  // Bits: 31 zeros, data, 0 = (a zero word, data, a zero byte) one bit on.
  const std::vector<std::uint8_t> body = word_bytes({0}) + data + std::vector<std::uint8_t>{0};
  std::vector<std::uint8_t> shifted;
  for (std::size_t i = 0; i + 1 < body.size(); ++i) {
    shifted.push_back(static_cast<std::uint8_t>(body[i] << 1 | body[i + 1] >> 7));
  }
  return shifted;
}

TEST(Spartan2Jtag, DeviceOnTheTdiSideNeedsWholeWords) {
  auto board = make_board("chain=xc2s15,xcf01s");
  Spartan2* fpga = board->fpga();
  ASSERT_EQ(fpga, &board->chain().device(0));
  FpgaDriver jtag(board->chain(), 0);
  jtag.reset();
  jtag.instruction(Spartan2::kCfgIn);
  jtag.write(after_one_bypass_bit(bitstream(Part::Xc2s15)));
  jtag.start_up_clocks();
  EXPECT_TRUE(fpga->done());
  jtag.instruction(Spartan2::kCfgIn);
  jtag.write(after_one_bypass_bit(testing::status_read_words()));
  jtag.instruction(Spartan2::kCfgOut);
  EXPECT_EQ(jtag.read(33), "0" + bits32(kConfigured));
  // Unpadded, the FPGA sees 65 bits: off the word boundary, nothing read.
  EXPECT_EQ(jtag.status(), 0u);
}

}  // namespace
}  // namespace velnor::bench
