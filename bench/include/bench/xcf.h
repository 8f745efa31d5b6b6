// The XCF01S/02S/04S Platform Flash configuration PROMs: their JTAG
// instructions, in-system configuration (ISC) mode, the flash array behind
// the page buffer and the address register, the self-timed erase and program
// operations with their busy status, and the CONFIG instruction that pulses
// CF.
//
// Bits are stored in the order they are shifted into ISC_DATA_SHIFT, and
// ISC_READ and the serial configuration output give them back in that
// order. The array is exposed as bytes in .bit order: stored bit k is mask
// 0x80 >> (k % 8) of byte k / 8.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/clock.h"
#include "bench/device.h"

namespace velnor::bench {

// The array and its pages. The address register counts 32 units per page on
// every part, so a unit is 64 bits on the XCF01S and 128 on the others.
struct XcfGeometry {
  static constexpr int kUnitsPerPage = 32;
  int size_bits;
  int page_bits;  // the ISC_DATA_SHIFT buffer, programmed as one page
  constexpr int size_bytes() const { return size_bits / 8; }
  constexpr int page_bytes() const { return page_bits / 8; }
  constexpr int pages() const { return size_bits / page_bits; }
  constexpr int unit_bits() const { return page_bits / kUnitsPerPage; }
};
// Throws std::invalid_argument for a part that is not an XCF.
XcfGeometry xcf_geometry(Part part);

class Xcf : public Device {
 public:
  static constexpr std::uint32_t kStatus = 0xE3;  // 8 bits, bit 2 = ready
  static constexpr std::uint32_t kIscEnable = 0xE8;
  static constexpr std::uint32_t kIscProgram = 0xEA;
  static constexpr std::uint32_t kIscAddressShift = 0xEB;
  static constexpr std::uint32_t kIscErase = 0xEC;
  static constexpr std::uint32_t kIscDataShift = 0xED;
  static constexpr std::uint32_t kConfig = 0xEE;
  static constexpr std::uint32_t kIscRead = 0xEF;
  static constexpr std::uint32_t kIscDisable = 0xF0;
  static constexpr std::uint32_t kUsercode = 0xFD;
  static constexpr std::uint32_t kIdcode = 0xFE;

  static constexpr int kEnableBits = 6;
  static constexpr int kAddressBits = 16;
  static constexpr int kStatusBits = 8;
  // The only address the erase flows shift before ISC_ERASE; with any other
  // the bench erases nothing.
  static constexpr std::uint16_t kEraseAddress = 0x0001;

  // How long the self-timed operations keep the part busy (the longest
  // waits the vendor's fixed-wait flows allow them), and how long after
  // ISC_DISABLE the PROM takes before CONFIG can reload the FPGA from it.
  static constexpr std::uint64_t kProgramNs = 14'000'000;
  static constexpr std::uint64_t kEraseNs = 15'000'000'000;
  static constexpr std::uint64_t kDisableNs = 110'000'000;

  // IR capture: 001 in bits 2..0 always; bit 3 (read protection) 0.
  static constexpr std::uint32_t kCaptureIscMode = 1u << 4;
  static constexpr std::uint32_t kCaptureReady = 1u << 5;      // 0 while busy
  static constexpr std::uint32_t kCaptureSucceeded = 1u << 7;  // bits 7..6 = 10
  // The status register: 0 while an erase or program runs.
  static constexpr std::uint32_t kStatusReady = 1u << 2;

  Xcf(Part part, const char* name, std::uint32_t idcode);
  ~Xcf() override;

  Part part() const;
  XcfGeometry geometry() const;

  // The board's clock times the operations; until set, the part's own.
  void set_clock(VirtualClock& clock);
  // The CF pin: called when CONFIG pulses it.
  void set_config_handler(std::function<void()> handler);
  // Told of every instruction refused because an erase or program is still
  // running (the text names the part and the instruction).
  void set_violation_handler(std::function<void(std::string)> handler);

  bool isc_mode() const;
  std::uint16_t address() const;
  // True while an erase or program runs.
  bool busy();
  // The array (size_bytes() bytes, .bit order). An operation whose time has
  // passed completes first.
  const std::vector<std::uint8_t>& memory();
  // Replaces the array: the bytes from the start, the rest erased. Throws
  // std::invalid_argument when they do not fit.
  void load_memory(const std::vector<std::uint8_t>& bytes);

 protected:
  DataRegister* select_register(std::uint32_t instruction) override;
  std::uint32_t capture_ir_value() const override;
  void on_clock(TapState before, TapState after) override;
  void on_power_on() override;
  void on_power_off() override;

 private:
  class Logic;
  std::unique_ptr<Logic> logic_;
};

}  // namespace velnor::bench
