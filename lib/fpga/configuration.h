// Loading a bitstream into the selected Spartan-II over JTAG.
#pragma once

#include <cstdint>

#include "base/bitfile.h"
#include "fpga/target.h"

namespace velnor {

// The pieces a bitstream is read and shifted in.
constexpr std::int32_t CONFIG_PIECE_BYTES = 4096;

// source is in memory when *count is not 0 and its first byte is 0xFF (raw
// configuration data starts with dummy words); otherwise it is a file name.
bool is_in_memory(const void* source, const std::int32_t* count);

// The operation: checks the source (a file name, or bitstream bytes in
// memory, see is_in_memory), then the target, then configures the FPGA;
// *count falls as the data go. A result word.
std::uint32_t configure_fpga(Target& target, const void* source, std::int32_t* count,
                             const Progress& progress);

// The header of a bitstream file; false when it cannot be opened or is not
// one.
bool read_bitfile_info(const char* path, BitFileHeader* header);

}  // namespace velnor
