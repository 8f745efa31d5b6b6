// The Spartan-II FPGA model: its JTAG instructions, the configuration logic
// behind CFG_IN and CFG_OUT, the start-up and shutdown sequencer, and the
// user design behind USER1 and USER2.
#pragma once

#include <cstdint>
#include <memory>

#include "bench/device.h"
#include "bench/user_design.h"

namespace velnor::bench {

// The configuration memory of a part: CLB rows and columns give the frame
// length and the number of frames.
struct Spartan2Geometry {
  int clb_rows;
  int clb_columns;
  // 18 bits per CLB row and two IOB rows, plus 32, rounded up to words.
  constexpr int frame_words() const { return (18 * (clb_rows + 2) + 32 + 31) / 32; }
  // CLB, IOB, clock and block-RAM interconnect frames.
  constexpr int block0_frames() const { return 48 * clb_columns + 170; }
  // Every frame a full bitstream writes: block 0 and its pad frame, the two
  // block-RAM content columns (65 and 64 frames) and the closing pad frame.
  constexpr int bitstream_frames() const { return block0_frames() + 1 + 65 + 64 + 1; }
  // The vendor's full bitstream: 39 words of packets around the frames.
  constexpr int bitstream_words() const { return 39 + frame_words() * bitstream_frames(); }
};
// Throws std::invalid_argument for a part that is not a Spartan-II.
Spartan2Geometry spartan2_geometry(Part part);

// The mode pins M2..M0 as the board straps them.
enum class ConfigMode {
  MasterSerial,  // 000: the FPGA drives CCLK itself (a PROM feeds it)
  SlaveSerial,   // 111: CCLK comes from outside, and nothing drives it here
  BoundaryScan,  // 101: JTAG only, CCLK still
};

class Spartan2 : public Device {
 public:
  static constexpr std::uint32_t kUser1 = 0x02;
  static constexpr std::uint32_t kUser2 = 0x03;
  static constexpr std::uint32_t kCfgOut = 0x04;
  static constexpr std::uint32_t kCfgIn = 0x05;
  static constexpr std::uint32_t kUsercode = 0x08;
  static constexpr std::uint32_t kIdcode = 0x09;
  static constexpr std::uint32_t kJstart = 0x0C;

  // Status register bits; bits 4..1 (DLL locks; no design here uses a
  // DLL), 5 (IN_ERROR) and 31..15 read 0.
  static constexpr std::uint32_t kStatCrcError = 1u << 0;
  static constexpr std::uint32_t kStatGtsCfg = 1u << 6;  // 1: I/Os held in high impedance
  static constexpr std::uint32_t kStatGweB = 1u << 7;    // 1: flip-flops and RAM write-protected
  static constexpr std::uint32_t kStatGsrB = 1u << 8;    // 0: global set/reset asserted
  static constexpr std::uint32_t kStatGhighB = 1u << 9;  // 0: interconnect held high
  static constexpr int kStatModeShift = 10;              // M2..M0 in bits 12..10
  static constexpr std::uint32_t kStatInit = 1u << 13;
  static constexpr std::uint32_t kStatDone = 1u << 14;

  Spartan2(Part part, const char* name, std::uint32_t idcode);
  ~Spartan2() override;

  Part part() const;
  Spartan2Geometry geometry() const;

  // How the board wires the part.
  void set_mode(ConfigMode mode);
  ConfigMode mode() const;
  // The user code USERCODE reads once the part is configured (all ones
  // before).
  void set_usercode(std::uint32_t usercode);
  std::uint32_t usercode() const;
  UserDesign& design();
  // Whether CFG_OUT shifts one pipeline bit before the words read (the
  // default) or starts with their first bit.
  void set_cfg_out_pipeline(bool pipeline);

  // The pins and the status register.
  bool done() const;
  bool init() const;  // driven low by a CRC error
  bool crc_error() const;
  bool synced() const;  // the configuration logic saw a sync word
  // Start-up finished with DONE high and the interconnect active: the design
  // runs and the user registers reach it.
  bool user_mode() const;
  std::uint32_t status_word() const;

  // Serial configuration from outside JTAG: one bit on DIN at a CCLK edge,
  // taken like a CFG_IN bit (a PROM feeds them in master-serial mode).
  void serial_configuration_bit(bool bit);
  // The PROGRAM pin pulsed low (by a PROM's CF): the configuration is
  // cleared as at power-on; the TAP keeps its state.
  void pulse_program();

 protected:
  DataRegister* select_register(std::uint32_t instruction) override;
  std::uint32_t capture_ir_value() const override;
  void on_clock(TapState before, TapState after) override;
  void on_power_on() override;

 private:
  class Logic;
  std::unique_ptr<Logic> logic_;
};

}  // namespace velnor::bench
