#include "core/target_check.h"

#include "core/fpga.h"
#include "core/library_state.h"
#include "core/worker_slot.h"
#include "jtag/chain_scan.h"
#include "jtag/tap.h"
#include "velnor.h"

namespace velnor {

std::uint32_t check_device(std::int32_t* remembered, bool (*accepts)(std::uint32_t idcode),
                           std::uint32_t (*read_back)(std::uint32_t* idcode)) {
  const std::uint32_t gate = worker_gate();
  if (gate != VELNOR_OK) return gate;
  if (*remembered >= 0) {
    select_device(*remembered);
    return VELNOR_OK;
  }
  if (library.cable.target_power() == 0) return VELNOR_ERR_POWER_DOWN;
  library.open_channel = 0;
  if (!scan_chain()) return VELNOR_ERR_NO_TARGET;
  library.fpga_index = -1;
  library.prom_index = -1;
  for (std::int32_t index = 0;; ++index) {
    const std::uint32_t idcode = select_device(index);
    if (idcode == 0) return VELNOR_ERR_NO_TARGET;
    if (!accepts(idcode)) continue;
    std::uint32_t read = 0;
    const std::uint32_t result = read_back(&read);
    if (read != idcode) return result | VELNOR_ERR_NO_TARGET;
    *remembered = index;
    return result;
  }
}

std::uint32_t read_word(std::uint32_t instruction, std::uint32_t ir_length, std::uint32_t* out) {
  std::uint8_t bytes[4];
  std::uint32_t result = reset_ending_any_frame();
  result |= shift_ir(instruction, static_cast<std::int32_t>(ir_length));
  result |= scan_dr(nullptr, bytes, 32);
  if (out != nullptr) *out = word_from_tdo(bytes);
  return result;
}

}  // namespace velnor
