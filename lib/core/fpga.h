// The Spartan-II on the chain: finding and selecting it, reading its IDCODE,
// USERCODE and configuration status, and shutting it down over JTAG.
#pragma once

#include <cstdint>

namespace velnor {

// The FPGA's 5-bit instructions.
constexpr std::uint32_t FPGA_IR_LENGTH = 5;
constexpr std::uint32_t USER1 = 0x02;
constexpr std::uint32_t USER2 = 0x03;
constexpr std::uint32_t CFG_OUT = 0x04;
constexpr std::uint32_t CFG_IN = 0x05;
constexpr std::uint32_t USERCODE = 0x08;
constexpr std::uint32_t IDCODE = 0x09;
constexpr std::uint32_t JSTART = 0x0C;

// Status register bits.
constexpr std::uint32_t STATUS_CRC_ERROR = 0x00000001;
constexpr std::uint32_t STATUS_DONE = 0x00004000;
constexpr std::uint32_t STATUS_UPPER_HALF = 0xFFFF0000;  // zero on a live device

// True for the IDCODEs (version nibble ignored) of XC2S15 .. XC2S200.
bool is_supported_fpga(std::uint32_t idcode);

// Gate, then selects the FPGA: from the remembered index, or by scanning the
// chain (after sensing target power) for the first supported part whose
// IDCODE reads back the same. A result word; 0 with the FPGA selected.
std::uint32_t check_target();

// tap_reset(6), which also closes the frame of an open user channel.
std::uint32_t reset_ending_any_frame();

// Each resets the TAP first; out may be null (the scan still runs).
std::uint32_t read_idcode(std::uint32_t* out);
std::uint32_t read_usercode(std::uint32_t* out);
std::uint32_t read_status(std::uint32_t* out);

// Four received bytes (first bit in bit 7 of byte 0) to a word whose bit k is
// the k-th bit received.
std::uint32_t word_from_tdo(const std::uint8_t* bytes);

// Writes bytes to CFG_IN, which must be loaded, in one DR scan that delivers
// them to the FPGA on a 32-bit word boundary whatever sits between TDI and
// the FPGA.
std::uint32_t write_cfg_in(const std::uint8_t* bytes, std::int32_t byte_count);

// Runs the configuration logic's shutdown sequence; the FPGA ends
// unconfigured (DONE low) and still selected.
std::uint32_t fpga_shutdown();

std::uint32_t get_status(std::uint32_t* idcode, std::uint32_t* status, std::uint32_t* usercode);
std::uint32_t shutdown();

}  // namespace velnor
