// JTAG sequences for one Spartan-II on a chain, as the library drives them:
// instructions with every other device in BYPASS, configuration data shifted
// most significant bit first per byte, the status read through CFG_OUT, and
// the start-up clocks under JSTART. Every scan starts and ends in
// Run-Test/Idle.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "bench/chain.h"
#include "bench/spartan2.h"

namespace velnor::bench::testing {

// Words as the bytes a .bit file holds them in: most significant first.
inline std::vector<std::uint8_t> word_bytes(std::initializer_list<std::uint32_t> words) {
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t word : words) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      bytes.push_back(static_cast<std::uint8_t>(word >> shift));
    }
  }
  return bytes;
}

// The library's fixed packet sequences (no sync word in any of them).
inline std::vector<std::uint8_t> status_read_words() { return word_bytes({0x2800E001, 0}); }
inline std::vector<std::uint8_t> shutdown_words() {
  return word_bytes(
      {0x30008001, 9, 0x30012001, 0x00A0BF2D, 0x30008001, 5, 0x30008001, 7, 0x00000000});
}
inline std::vector<std::uint8_t> restore_words() {
  return word_bytes({0x30008001, 8, 0x30012001, 0x00A03F2D, 0x00000000});
}

class FpgaDriver {
 public:
  // fpga: the FPGA's index on the chain (0 nearest TDO).
  explicit FpgaDriver(Chain& chain, std::size_t fpga = 0) : chain_(chain), fpga_(fpga) {}

  // Test-Logic-Reset, then Run-Test/Idle.
  void reset() {
    for (int i = 0; i < 5; ++i) chain_.clock(true, false);
    chain_.clock(false, false);
  }

  // The FPGA gets code, every other device BYPASS (all ones). The cycle
  // into Run-Test/Idle after Update-IR is the first with the new
  // instruction.
  void instruction(std::uint32_t code) {
    enter(true);
    for (std::size_t i = 0; i < chain_.size(); ++i) {
      const int length = chain_.device(i).ir_length();
      for (int bit = 0; bit < length; ++bit) {
        const bool value = i == fpga_ ? ((code >> bit) & 1) != 0 : true;
        const bool last = i + 1 == chain_.size() && bit + 1 == length;
        chain_.clock(last, value);
      }
    }
    leave();
  }

  // A DR scan shifting the bytes, each most significant bit first. The
  // devices on the TDI side of the FPGA sit in BYPASS: their captured
  // zeros reach the FPGA first and the last bits stay in them, so callers
  // with such devices pad for them.
  void write(const std::vector<std::uint8_t>& bytes) {
    enter(false);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      for (int bit = 7; bit >= 0; --bit) {
        const bool last = i + 1 == bytes.size() && bit == 0;
        chain_.clock(last, ((bytes[i] >> bit) & 1) != 0);
      }
    }
    leave();
  }

  // A DR scan of zeros: the FPGA's first bits in shift order ('0'/'1'),
  // past the bypass bits of the devices nearer TDO.
  std::string read(std::size_t bits) {
    enter(false);
    std::string out;
    const std::size_t total = bits + fpga_;
    for (std::size_t i = 0; i < total; ++i) {
      const bool level = chain_.clock(i + 1 == total, false);
      if (i >= fpga_) out.push_back(level ? '1' : '0');
    }
    leave();
    return out;
  }

  void idle(int clocks) {
    for (int i = 0; i < clocks; ++i) chain_.clock(false, false);
  }

  // The library's configuration: CFG_IN with the data, then JSTART, a
  // 16-bit DR scan and one idle clock.
  void configure(const std::vector<std::uint8_t>& data) {
    reset();
    instruction(Spartan2::kCfgIn);
    write(data);
    start_up_clocks();
  }

  void start_up_clocks() {
    instruction(Spartan2::kJstart);
    read(16);
    idle(1);
  }

  // CFG_IN with the status read, then the 33 bits of CFG_OUT: one
  // pipeline bit, then STAT bit 31 down to bit 0.
  std::string status_bits() {
    instruction(Spartan2::kCfgIn);
    write(status_read_words());
    instruction(Spartan2::kCfgOut);
    return read(33);
  }

  std::uint32_t status() {
    const std::string bits = status_bits();
    std::uint32_t word = 0;
    for (std::size_t i = 1; i < bits.size(); ++i) word = word << 1 | (bits[i] == '1' ? 1u : 0u);
    return word;
  }

  // The library's shutdown: the words, JSTART and its clocks, the restore.
  void shut_down() {
    instruction(Spartan2::kCfgIn);
    write(shutdown_words());
    start_up_clocks();
    instruction(Spartan2::kCfgIn);
    write(restore_words());
  }

 private:
  // From Run-Test/Idle to the first Shift cycle.
  void enter(bool ir) {
    chain_.clock(true, false);
    if (ir) chain_.clock(true, false);
    chain_.clock(false, false);  // Capture
    chain_.clock(false, false);  // Shift
  }
  // From Exit1 through Update to Run-Test/Idle.
  void leave() {
    chain_.clock(true, false);
    chain_.clock(false, false);
  }

  Chain& chain_;
  std::size_t fpga_;
};

}  // namespace velnor::bench::testing
