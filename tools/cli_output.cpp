#include "cli_output.h"

#include <cstdio>

#include "velnor.h"

namespace velnor::tools {

std::string result_names(uint32_t result) {
  static const struct {
    uint32_t bit;
    const char* name;
  } kBits[] = {
      {VELNOR_ERR_DRIVER, "VELNOR_ERR_DRIVER"},
      {VELNOR_ERR_PROBE, "VELNOR_ERR_PROBE"},
      {VELNOR_ERR_JTAG, "VELNOR_ERR_JTAG"},
      {VELNOR_ERR_FILE, "VELNOR_ERR_FILE"},
      {VELNOR_BUSY, "VELNOR_BUSY"},
      {VELNOR_ERR_NO_TARGET, "VELNOR_ERR_NO_TARGET"},
      {VELNOR_ERR_POWER_DOWN, "VELNOR_ERR_POWER_DOWN"},
      {VELNOR_ERR_FORMAT, "VELNOR_ERR_FORMAT"},
      {VELNOR_ERR_DEVICE_MISMATCH, "VELNOR_ERR_DEVICE_MISMATCH"},
      {VELNOR_ERR_SHUTDOWN_A, "VELNOR_ERR_SHUTDOWN_A"},
      {VELNOR_ERR_SHUTDOWN_B, "VELNOR_ERR_SHUTDOWN_B"},
      {VELNOR_ERR_CRC, "VELNOR_ERR_CRC"},
  };
  std::string names;
  for (const auto& entry : kBits) {
    if ((result & entry.bit) == 0) continue;
    if (!names.empty()) names += " | ";
    names += entry.name;
  }
  return names;
}

int report_failure(const char* what, uint32_t result) {
  std::fflush(stdout);
  std::fprintf(stderr, "velnorctl: %s failed: 0x%08X (%s)\n", what, result,
               result_names(result).c_str());
  return kExitFailed;
}

void print_hex(const char* label, const uint8_t* bytes, std::size_t count) {
  std::printf("%s", label);
  for (std::size_t i = 0; i < count; ++i) std::printf(" %02X", bytes[i]);
  std::printf("\n");
}

void draw_progress(uint32_t total, int32_t remaining) {
  constexpr int kWidth = 40;
  const uint32_t done = total - static_cast<uint32_t>(remaining);
  if (done > total) return;
  const int filled = total == 0 ? kWidth : static_cast<int>(uint64_t{done} * kWidth / total);
  std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<std::size_t>(filled), '#').c_str(),
               std::string(static_cast<std::size_t>(kWidth - filled), '.').c_str(),
               total == 0 ? 100 : static_cast<int>(uint64_t{done} * 100 / total));
}

void Progress::update(std::uint32_t done) const {
  if (shown) draw_progress(total, static_cast<std::int32_t>(total - done));
}

void Progress::finish() const {
  if (shown) {
    draw_progress(total, 0);
    std::fprintf(stderr, "\n");
  }
}

}  // namespace velnor::tools
