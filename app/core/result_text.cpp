#include "result_text.h"

#include <array>
#include <utility>

#include "velnor.h"

namespace moxtest {

std::optional<std::string_view> result_message(std::uint32_t result) {
  // Both shutdown bits say the same: the FPGA did not stop.
  static constexpr std::array<std::pair<std::uint32_t, std::string_view>, 11> kMessages = {{
      {VELNOR_ERR_DRIVER, "  DLL or DeviceDriver error"},
      {VELNOR_ERR_PROBE, "  Probe error"},
      {VELNOR_ERR_JTAG, "  JTAG Communication error"},
      {VELNOR_ERR_FILE, "  Configration file error"},
      {VELNOR_ERR_NO_TARGET, "  NO Target error"},
      {VELNOR_ERR_POWER_DOWN, "  Target power down"},
      {VELNOR_ERR_FORMAT, "  format error"},
      {VELNOR_ERR_DEVICE_MISMATCH, "  device not match"},
      {VELNOR_ERR_SHUTDOWN_A, "  Can't shutdown"},
      {VELNOR_ERR_SHUTDOWN_B, "  Can't shutdown"},
      {VELNOR_ERR_CRC, "  CRC error"},
  }};
  for (const auto& [bit, message] : kMessages)
    if (result == bit) return message;
  return std::nullopt;
}

}  // namespace moxtest
