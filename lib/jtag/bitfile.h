// Reader of Xilinx bitstream files (.bit): a 13-byte preamble, text fields
// keyed "a" (design), "b" (part), "c" (date), "d" (time) in any order, then
// key "e" with the 4-byte length of the configuration data that follows.
// All numbers are big-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace velnor {

constexpr std::size_t kBitFileTextSize = 64;

struct BitFile {
  std::uint8_t preamble[13];
  platform::Handle handle;
  std::uint32_t length;  // configuration data bytes
  // Each text as stored in the file, cut to 63 characters and a NUL when
  // longer; empty when the field is missing.
  char design_name[kBitFileTextSize];
  char part_name[kBitFileTextSize];
  char date[kBitFileTextSize];
  char time[kBitFileTextSize];
};

// The open file positioned at its first data byte, or null when the file
// cannot be opened or its header is not one of a bitstream file.
BitFile* bitfile_open(const char* path);
// Reads up to count bytes; returns how many, 0 at the end or on failure.
std::size_t bitfile_read(BitFile* file, std::uint8_t* buffer, std::size_t count);
void bitfile_close(BitFile* file);

}  // namespace velnor
