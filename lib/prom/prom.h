// The XCF01S/02S/04S configuration PROM on the chain: finding it, and
// reading, erasing and programming its memory over JTAG in ISC mode.
#pragma once

#include <cstdint>

#include "fpga/target.h"

namespace velnor {

// The PROM's 8-bit instructions.
constexpr std::uint32_t PROM_IR_LENGTH = 8;
constexpr std::uint32_t PROM_IDCODE = 0xFE;
constexpr std::uint32_t PROM_BYPASS = 0xFF;
constexpr std::uint32_t ISC_ENABLE = 0xE8;
constexpr std::uint32_t ISC_DISABLE = 0xF0;
constexpr std::uint32_t ISC_ADDRESS_SHIFT = 0xEB;
constexpr std::uint32_t ISC_READ = 0xEF;
constexpr std::uint32_t ISC_DATA_SHIFT = 0xED;
constexpr std::uint32_t ISC_PROGRAM = 0xEA;
constexpr std::uint32_t ISC_ERASE = 0xEC;

// Callers address the PROM in blocks of this many bytes.
constexpr std::int32_t PROM_BLOCK_BYTES = 512;

// What the library knows of each accepted part.
struct PromPart {
  // Without the version nibble: real parts carry steppings 0 to 15 (0xD and
  // 0xF are common), and each stepping takes the same instructions.
  std::uint32_t idcode;
  std::uint32_t size_bytes;  // memory size
  std::int32_t page_bytes;   // one ISC_DATA_SHIFT buffer; 32 address units per page
};

// The accepted part with this IDCODE, whatever its version nibble, or null.
const PromPart* prom_part(std::uint32_t idcode);

// Selects the PROM: from the remembered index, or by scanning the chain
// (after sensing target power) for the first accepted part whose IDCODE
// reads back the same. A result word; 0 with the PROM selected.
std::uint32_t check_prom(Target& target);
// The part check_prom selected.
const PromPart& selected_prom(const Target& target);

std::uint32_t read_prom_idcode(Target& target, std::uint32_t* out);
// ISC_ENABLE with its six data bits, which both reading and writing use.
std::uint32_t prom_isc_enable(Target& target);
// Leaves ISC mode, waits for the PROM and resets the TAP.
std::uint32_t prom_isc_disable(Target& target);
// ISC_ADDRESS_SHIFT with the 16-bit address register value, then two idle
// clocks.
std::uint32_t load_prom_address(Target& target, std::uint32_t value);
// The address register value of a byte address: callers address the PROM in
// 512-byte blocks, any offset within a block is dropped; the register counts
// 32 units per page, and values at or past 64 Ki units wrap.
std::uint32_t prom_address_value(const PromPart& part, std::int32_t byte_address);

// The exports' work: each checks the PROM first and refuses (with
// VELNOR_ERR_FORMAT) negative numbers, a null buffer and ranges past the
// end of the part's memory.
std::uint32_t prom_read(Target& target, std::uint8_t* buffer, std::int32_t address,
                        std::int32_t length);
std::uint32_t prom_program_image(Target& target, const std::uint8_t* data, std::int32_t address,
                                 std::int32_t length);
std::uint32_t prom_erase_all(Target& target);

}  // namespace velnor
