// Loading a bitstream into the selected Spartan-II over JTAG.
#pragma once

#include <cstdint>

namespace velnor {

// The pieces a bitstream is read and shifted in.
constexpr std::int32_t kConfigPieceBytes = 4096;

// source: a file name, or bitstream bytes in memory when *count is not 0 and
// the first byte is 0xFF (raw configuration data starts with dummy words).
// Bit 31 of *count runs the configuration on a worker thread. A result word.
std::uint32_t configure(const void* source, std::int32_t* count);

// The operation itself, on whichever thread runs it.
std::uint32_t configure_fpga(const void* source, std::int32_t* count);

}  // namespace velnor
