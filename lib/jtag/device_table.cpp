#include "jtag/device_table.h"

#include <cstring>

namespace velnor {

// Virtex and Spartan-II parts of the same array size share one IDCODE; the
// Virtex names come first and so name a Spartan-II XC2S100..200 as well.
const DeviceType DEVICE_TYPES[] = {
    {"xcf01s", 0x5044093, 8},  {"xcf02s", 0x5045093, 8},  {"xcf04s", 0x5046093, 8},
    {"xcf08p", 0x5057093, 16}, {"xcf16p", 0x5058093, 16}, {"xcf32p", 0x5059093, 16},
    {"18v01", 0x5024093, 8},   {"18v02", 0x5025093, 8},   {"18v04", 0x5026093, 8},
    {"18v256", 0x5022093, 8},  {"18v512", 0x5023093, 8},  {"v812em", 0x0C28093, 5},
    {"v405em", 0x0C38093, 5},  {"v3200", 0x0A68093, 5},   {"v2600", 0x0A5C093, 5},
    {"v2000", 0x0A50093, 5},   {"v1600", 0x0A48093, 5},   {"v1000", 0x0A40093, 5},
    {"v600", 0x0A30093, 5},    {"v400", 0x0A28093, 5},    {"v300", 0x0A20093, 5},
    {"v200", 0x0A1C093, 5},    {"v100", 0x0A14093, 5},    {"v50", 0x0A10093, 5},
    {"v1000", 0x0640093, 5},   {"v800", 0x0638093, 5},    {"v600", 0x0630093, 5},
    {"v400", 0x0628093, 5},    {"v300", 0x0620093, 5},    {"v200", 0x061C093, 5},
    {"v150", 0x0618093, 5},    {"v100", 0x0614093, 5},    {"v50", 0x0610099, 5},
    {"2s200", 0x061C093, 5},   {"2s150", 0x0618093, 5},   {"2s100", 0x0614093, 5},
    {"2s50", 0x0610093, 5},    {"2s30", 0x060C093, 5},    {"2s15", 0x0608093, 5},
    {"3s50", 0x140D093, 6},    {"3s200", 0x1414093, 6},   {"3s400", 0x141C093, 6},
    {"3s1000", 0x1428093, 6},  {"3s1500", 0x1428093, 6},  {"3s2000", 0x1440093, 6},
    {"3s4000", 0x1448093, 6},  {"3s5000", 0x1450093, 6},  {"3s100e", 0x1C10093, 6},
    {"3s500e", 0x1C22093, 6},  {"3s1200e", 0x1C2E093, 6}, {"3s1600e", 0x1C3A093, 6},
    {nullptr, 0, 0},
};

bool add_part(AddedParts& parts, const char* name, std::uint32_t idcode, std::int32_t ir_length) {
  if (name == nullptr || name[0] == '\0') return false;
  const std::size_t length = strnlen(name, PART_NAME_SIZE);
  if (length == PART_NAME_SIZE) return false;
  const std::uint32_t code = idcode & IDCODE_WITHOUT_VERSION;
  if ((code & 1) == 0 || code == IDCODE_WITHOUT_VERSION) return false;
  if (ir_length < 2 || ir_length > MAX_ADDED_IR_LENGTH) return false;
  if (parts.count == ADDED_PART_CAPACITY) return false;
  AddedPart& part = parts.parts[parts.count];
  std::memcpy(part.name, name, length + 1);
  part.idcode = code;
  part.ir_length = ir_length;
  ++parts.count;
  return true;
}

}  // namespace velnor
