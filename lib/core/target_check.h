// The check every target operation starts with, shared by the FPGA and the
// PROM operations: the worker gate, then the device selected from its
// remembered chain index, or found by a chain scan.
#pragma once

#include <cstdint>

namespace velnor {

// With *remembered at 0 or more, only reselects that device (no power
// sense, no scan). Otherwise senses target power, scans the chain, forgets
// both remembered indices, and takes the first device whose scanned IDCODE
// `accepts`, provided read_back reads the same 32 bits from it; its index
// goes to *remembered. A result word; 0 with the device selected.
std::uint32_t check_device(std::int32_t* remembered, bool (*accepts)(std::uint32_t idcode),
                           std::uint32_t (*read_back)(std::uint32_t* idcode));

// Reads a 32-bit register of the selected device (TAP reset, instruction,
// one DR scan); the first bit out is bit 0. out may be null.
std::uint32_t read_word(std::uint32_t instruction, std::uint32_t ir_length, std::uint32_t* out);

}  // namespace velnor
