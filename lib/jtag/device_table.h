// The Xilinx parts the library recognises on a chain.
#pragma once

#include <cstdint>

namespace velnor {

struct DeviceType {
  const char* name;      // short part name; null ends the table
  std::uint32_t idcode;  // without the version nibble (compare with IDCODE & 0x0FFFFFFF)
  std::int32_t ir_length;
};

constexpr std::uint32_t IDCODE_WITHOUT_VERSION = 0x0FFFFFFF;

// Searched in order; the first row whose code and capture pattern fit wins.
extern const DeviceType DEVICE_TYPES[];

// Parts a caller adds for its board (a CPLD, another maker's part), searched
// after DEVICE_TYPES in the order added.
constexpr std::int32_t ADDED_PART_CAPACITY = 16;
constexpr std::int32_t PART_NAME_SIZE = 16;  // 15 characters and the NUL
// An instruction scan holds at most 64 bits, FPGA or PROM instruction
// included; no part beside them can take more than 32.
constexpr std::int32_t MAX_ADDED_IR_LENGTH = 32;

struct AddedPart {
  char name[PART_NAME_SIZE];
  std::uint32_t idcode;  // without the version nibble
  std::int32_t ir_length;
};

struct AddedParts {
  AddedPart parts[ADDED_PART_CAPACITY] = {};
  std::int32_t count = 0;
};

// Appends a part, its version nibble ignored. False, adding nothing, for a
// null or empty name or one of more than 15 characters, an IDCODE that
// cannot be one (bit 0 is 1 in every IDCODE; all ones is an open TDO line),
// an IR length outside 2 .. MAX_ADDED_IR_LENGTH, or a full list.
bool add_part(AddedParts& parts, const char* name, std::uint32_t idcode, std::int32_t ir_length);

}  // namespace velnor
