// Test bitstreams for the Spartan-II parts, laid out the way the vendor's
// bitstream generator lays them out (dummy and sync words, the register
// writes, every frame of the device, both CRC checks), and deliberately
// broken variants of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/device.h"

namespace velnor::bench {

// Where the start-up sequence takes its clock from (COR bits 21..20).
enum class StartupClock { Cclk, User, Jtag };

struct BitstreamOptions {
  Part part = Part::Xc2s200;
  StartupClock startup_clock = StartupClock::Jtag;
  std::uint32_t seed = 1;  // picks the frame contents
  // Faults, for tests.
  bool wrong_first_crc = false;            // the CRC word before LFRM does not match
  int extra_frames = 0;                    // frames more (or, negative, fewer) than the device has
  bool write_to_missing_register = false;  // a type-1 write to address 13
  bool wrong_frame_length = false;         // FLR one word off
};

// The configuration data alone (what a .bit file carries after its header):
// starts FF FF FF FF AA 99 55 66, ends with four zero words.
std::vector<std::uint8_t> make_bitstream(const BitstreamOptions& options);

// The 16-bit configuration CRC after folding in one register write: 32 data
// bits least significant first, then the 4 low address bits.
std::uint16_t config_crc_step(std::uint16_t crc, std::uint32_t address, std::uint32_t word);

struct BitFileFields {
  std::string design = "bench_design.ncd";  // field a
  std::string part = "2s200fg256";          // field b
  std::string date = "2026/12/08";          // field c
  std::string time = "00:00:00";            // field d
};

// A .bit container: the 13-byte preamble, fields a..d (each text with its
// NUL, length counted), then e with the data length and the data.
std::vector<std::uint8_t> make_bit_file(const std::vector<std::uint8_t>& data,
                                        const BitFileFields& fields);

// The part name field the vendor's tools write for a part, e.g. "2s200fg256".
std::string bit_file_part_name(Part part);

}  // namespace velnor::bench
