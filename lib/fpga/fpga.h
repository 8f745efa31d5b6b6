// The Spartan-II on the chain: finding and selecting it, reading its IDCODE,
// USERCODE and configuration status, writing its configuration logic, and
// shutting it down over JTAG.
#pragma once

#include <cstdint>

#include "fpga/target.h"

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

// JSTART runs the start-up (or shutdown) sequence on this many clocks in
// Shift-DR.
constexpr std::int32_t STARTUP_CLOCKS = 16;

// Status register bits.
constexpr std::uint32_t STATUS_CRC_ERROR = 0x00000001;
constexpr std::uint32_t STATUS_DONE = 0x00004000;
constexpr std::uint32_t STATUS_UPPER_HALF = 0xFFFF0000;  // zero on a live device

// True for the IDCODEs (version nibble ignored) of XC2S15 .. XC2S200.
bool is_supported_fpga(std::uint32_t idcode);

// Selects the FPGA: from the remembered index, or by scanning the chain
// (after sensing target power) for the first supported part whose IDCODE
// reads back the same. A result word; 0 with the FPGA selected.
std::uint32_t check_target(Target& target);

// Each resets the TAP first; out may be null (the scan still runs).
std::uint32_t read_idcode(Target& target, std::uint32_t* out);
std::uint32_t read_usercode(Target& target, std::uint32_t* out);
std::uint32_t read_status(Target& target, std::uint32_t* out);

// Writing the configuration logic through CFG_IN, which must be loaded. With
// u devices between TDI and the FPGA, their u bypass registers would put u
// stray zeros ahead of the data: cfg_in_begin enters Shift-DR with
// (32 - u) mod 32 leading zeros, which make that a whole zero word the
// logic ignores, and the last cfg_in_data adds u trailing zeros that push
// the last data bit into the FPGA and leaves Shift-DR.
std::uint32_t cfg_in_begin(Target& target);
std::uint32_t cfg_in_data(Target& target, const std::uint8_t* bytes, std::int32_t byte_count,
                          bool last);
// Both in one DR scan.
std::uint32_t write_cfg_in(Target& target, const std::uint8_t* bytes, std::int32_t byte_count);

// Runs the configuration logic's shutdown sequence; the FPGA ends
// unconfigured (DONE low) and still selected.
std::uint32_t fpga_shutdown(Target& target);

// The operations behind the exports; each checks the target first.
std::uint32_t get_status(Target& target, std::uint32_t* idcode, std::uint32_t* status,
                         std::uint32_t* usercode);
std::uint32_t shutdown(Target& target);

}  // namespace velnor
