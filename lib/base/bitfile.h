// Reader of Xilinx bitstream file headers (.bit): a 13-byte preamble, text
// fields keyed "a" (design), "b" (part), "c" (date), "d" (time) in any
// order, then key "e" with the 4-byte length of the configuration data that
// follows. All numbers are big-endian. The reader takes its bytes from any
// source, so it never touches a file itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velnor {

constexpr std::size_t BITFILE_TEXT_SIZE = 64;

struct BitFileHeader {
  // Each text as stored in the file, cut to 63 characters and a NUL when
  // longer; empty when the field is missing.
  char design_name[BITFILE_TEXT_SIZE];
  char part_name[BITFILE_TEXT_SIZE];
  char date[BITFILE_TEXT_SIZE];
  char time[BITFILE_TEXT_SIZE];
  std::uint32_t length;  // configuration data bytes
};

// Up to count bytes into buffer; how many, 0 at the end or on failure.
struct ByteSource {
  std::size_t (*read)(void* context, std::uint8_t* buffer, std::size_t count);
  void* context;
};

// Reads up to count bytes, retrying short reads; false when the source ends
// first.
bool read_exactly(const ByteSource& source, void* buffer, std::size_t count);

// Reads the header, leaving the source at the first data byte. False when it
// is not the header of a bitstream file.
bool read_bitfile_header(const ByteSource& source, BitFileHeader* header);

}  // namespace velnor
