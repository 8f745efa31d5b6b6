// The 1 Mbit shift that the side-by-side benchmarks give every tool: the
// same random bits through one DR scan, from velnor's TAP primitives or as
// an SVF file for the peers.
#pragma once

#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "jtag/tap.h"

namespace velnor::perf {

constexpr int SHIFT_BITS = 1 << 20;

inline std::vector<std::uint8_t> shift_data() {
  std::vector<std::uint8_t> data(SHIFT_BITS / 8);
  std::mt19937 random(1);
  for (std::uint8_t& byte : data) byte = static_cast<std::uint8_t>(random());
  return data;
}

// Test-Logic-Reset, then Shift-DR through to Run-Test/Idle.
inline std::uint32_t shift_with_velnor(Jtag& jtag) {
  const std::vector<std::uint8_t> data = shift_data();
  std::uint32_t result = tap_reset(jtag, 6);
  result |= shift_dr(jtag, data.data(), nullptr, SHIFT_BITS, DR_ENTER | DR_EXIT);
  return result;
}

inline void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The same kind of shift as an SVF file (one SDR from Run-Test/Idle).
inline void write_shift_svf(const std::string& path) {
  std::ostringstream svf;
  svf << "ENDIR IDLE;\nENDDR IDLE;\nSTATE RESET;\nSTATE IDLE;\nSDR " << SHIFT_BITS << " TDI (";
  std::mt19937 random(1);
  for (int i = 0; i < SHIFT_BITS / 4; ++i) svf << "0123456789ABCDEF"[random() % 16];
  svf << ");\nSTATE RESET;\n";
  write_file(path, svf.str());
}

}  // namespace velnor::perf
