// The parts the bench knows. Each family is a Device subclass that adds its
// configuration logic and memory by overriding the register selection, the
// IR capture and the clock hooks: the Spartan-II lives in spartan2.cpp, the
// XCF PROMs in xcf.cpp.
#include <array>
#include <stdexcept>

#include "bench/device.h"
#include "bench/spartan2.h"
#include "bench/xcf.h"

namespace velnor::bench {

namespace {

struct PartInfo {
  Part part;
  const char* key;
  const char* name;
  std::uint32_t idcode;  // bits 27..0
  bool fpga;
};

constexpr std::array<PartInfo, 9> kParts = {{
    {Part::Xc2s15, "xc2s15", "XC2S15", 0x0608093, true},
    {Part::Xc2s30, "xc2s30", "XC2S30", 0x060C093, true},
    {Part::Xc2s50, "xc2s50", "XC2S50", 0x0610093, true},
    {Part::Xc2s100, "xc2s100", "XC2S100", 0x0614093, true},
    {Part::Xc2s150, "xc2s150", "XC2S150", 0x0618093, true},
    {Part::Xc2s200, "xc2s200", "XC2S200", 0x061C093, true},
    {Part::Xcf01s, "xcf01s", "XCF01S", 0x5044093, false},
    {Part::Xcf02s, "xcf02s", "XCF02S", 0x5045093, false},
    {Part::Xcf04s, "xcf04s", "XCF04S", 0x5046093, false},
}};

}  // namespace

std::unique_ptr<Device> make_part(Part part, std::uint32_t version) {
  if (version > 0xF) throw std::invalid_argument("IDCODE version is one hex digit");
  for (const PartInfo& info : kParts) {
    if (info.part != part) continue;
    const std::uint32_t idcode = (version << 28) | info.idcode;
    if (info.fpga) return std::make_unique<Spartan2>(part, info.name, idcode);
    return std::make_unique<Xcf>(part, info.name, idcode);
  }
  throw std::invalid_argument("unknown part");
}

std::unique_ptr<Device> make_generic_device(std::uint32_t idcode, int ir_length,
                                            std::uint32_t ir_capture) {
  // IDCODE bit 0 is always 1; a code with bit 0 clear stands for a part
  // without an identification register, which resets to BYPASS (all ones).
  // Otherwise the IDCODE instruction is all ones but bit 0, as on Xilinx's
  // 8-bit parts.
  if (ir_length < 2 || ir_length > 32) {
    throw std::invalid_argument("instruction register length must be 2..32");
  }
  const std::uint32_t all_ones =
      ir_length == 32 ? 0xFFFFFFFFu : (std::uint32_t{1} << ir_length) - 1;
  const std::uint32_t idcode_instruction = (idcode & 1) != 0 ? all_ones - 1 : all_ones;
  return std::make_unique<Device>("other", idcode, ir_length, ir_capture, idcode_instruction);
}

bool part_from_name(const std::string& name, Part* part) {
  for (const PartInfo& info : kParts) {
    if (name == info.key) {
      *part = info.part;
      return true;
    }
  }
  return false;
}

}  // namespace velnor::bench
