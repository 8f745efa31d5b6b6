// TAP-level primitives over the cable's shift, addressing one selected device
// of the chain: every other device holds BYPASS and the primitives add the
// bypass bits on both sides themselves.
//
// Buffers handed to and back from the primitives are most significant bit
// first: stream bit p is mask 0x80 >> (p % 8) of byte p / 8. JTAG values
// (instructions, IDCODEs) go into the chain least significant bit first.
#pragma once

#include <cstdint>

namespace velnor {

// Where the selected device sits; devices count from 0 at the TDO end.
struct ChainPosition {
  std::int32_t index;
  std::int32_t ir_lead;      // IR bits between the device and TDO: shifted before the instruction
  std::int32_t ir_trail;     // IR bits between TDI and the device: shifted after it
  std::int32_t dr_lead;      // BYPASS bits between the device and TDO
  std::int32_t dr_trail;     // BYPASS bits between TDI and the device
  std::int32_t bypass_bits;  // dr_trail, for code that pads its own scans
};

extern ChainPosition chain_position;

// shift_dr flags.
constexpr std::uint32_t DR_EXIT = 1;   // leave Shift-DR on the last bit, then Update-DR
constexpr std::uint32_t DR_ENTER = 2;  // walk from Idle/Update to Shift-DR first
constexpr std::uint32_t DR_SKIP = 4;   // with DR_ENTER and a tdo buffer: skip dr_lead bits
constexpr std::uint32_t DR_PAD = 8;    // with DR_EXIT and a tdi buffer: push through dr_trail bits
constexpr std::uint32_t DR_SCAN = DR_EXIT | DR_ENTER | DR_SKIP | DR_PAD;

// The instruction scan buffer: lead, instruction and trail together.
constexpr std::int32_t kMaxInstructionScanBits = 64;

// Each primitive returns 0, except shift_ir, which refuses a scan longer than
// the instruction buffer (VELNOR_ERR_JTAG) without touching the chain.
std::uint32_t tap_reset(std::int32_t clocks);
std::uint32_t tap_idle(std::int32_t clocks);
std::uint32_t shift_ir(std::uint32_t instruction, std::int32_t ir_length);
std::uint32_t shift_dr(const std::uint8_t* tdi, std::uint8_t* tdo, std::int32_t bit_count,
                       std::uint32_t flags);
std::uint32_t scan_dr(const std::uint8_t* tdi, std::uint8_t* tdo, std::int32_t bit_count);

// Removes the first bit_count bits of a most-significant-first stream,
// leaving byte_count bytes at the start of buffer. When bit_count is not a
// multiple of 8 the buffer must hold bit_count / 8 + byte_count + 1 bytes.
void drop_leading_bits(std::uint8_t* buffer, std::int32_t byte_count, std::int32_t bit_count);

// Reverses the bit order inside each byte: the cable's least-significant-
// first TDO becomes the primitives' most-significant-first.
void reverse_bits_in_bytes(std::uint8_t* bytes, std::int32_t byte_count);

}  // namespace velnor
