// The library's exported entry points. Each is a thin C function over the
// subsystems; none lets an exception cross the C boundary.
#include <cstring>

#include "cables/cable_ops.h"
#include "core/configuration.h"
#include "core/fpga.h"
#include "core/library_state.h"
#include "core/user_channel.h"
#include "core/worker_slot.h"
#include "jtag/bitfile.h"
#include "jtag/chain_scan.h"
#include "prom/prom.h"
#include "velnor.h"

using namespace velnor;

namespace {

constexpr std::uint32_t kAutoUsb = VELNOR_CABLE_USB;  // USB device 0
constexpr std::uint32_t kAutoParallel = VELNOR_CABLE_PARALLEL | VELNOR_DEFAULT_LPT_BASE;
// Neither cable uses a rate; the value is what the cables were always given.
constexpr std::uint32_t kCableRate = 115200;

}  // namespace

extern "C" {

VELNOR_API uint32_t VELNOR_CALL velnor_free(void) {
  // Closing the cable under a running worker would pull it from under its
  // shifts: wait for the operation to finish (its result stays for the gate).
  wait_for_operation();
  if (library.cable_open) {
    library.cable.close();
    library.cable_open = 0;
  }
  return 0;
}

VELNOR_API uint32_t VELNOR_CALL velnor_init(uint32_t cable_selector) {
  velnor_free();
  if (cable_selector == VELNOR_CABLE_AUTO) {
    if (velnor_init(kAutoUsb) == VELNOR_OK) return VELNOR_OK;
    return velnor_init(kAutoParallel);
  }
  const CableOps* ops =
      cable_ops_named(cable_identifier(cable_selector >> VELNOR_CABLE_KIND_SHIFT));
  if (ops == nullptr) return VELNOR_ERR_DRIVER;
  library.cable = *ops;
  library.reverse_tdo = 1;
  char description[kCableDescriptionSize];
  if (library.cable.open(cable_selector & VELNOR_CABLE_UNIT_MASK, kCableRate, description) != 0) {
    return VELNOR_ERR_PROBE;
  }
  library.cable_open = 1;
  return VELNOR_OK;
}

VELNOR_API uint32_t VELNOR_CALL velnor_check_daisychain(void) { return is_daisychain() ? 1 : 0; }

VELNOR_API uint32_t VELNOR_CALL velnor_get_status(uint32_t* idcode, uint32_t* status,
                                                  uint32_t* usercode) {
  return get_status(idcode, status, usercode);
}

VELNOR_API uint32_t VELNOR_CALL velnor_shutdown(void) { return shutdown(); }

VELNOR_API uint32_t VELNOR_CALL velnor_config(const void* source, int32_t* count) {
  return configure(source, count);
}

VELNOR_API uint32_t VELNOR_CALL velnor_spi_xfer(uint8_t channel, const uint8_t* transmit,
                                                uint8_t* receive, int32_t* count) {
  return spi_xfer(channel, transmit, receive, count);
}

VELNOR_API uint32_t VELNOR_CALL jmem_access(uint8_t mode, uint32_t address, uint8_t* buffer,
                                            uint32_t length) {
  return memory_access(mode, address, buffer, length);
}

VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_read(uint8_t* buffer, uint32_t address,
                                                   uint32_t length) {
  return prom_read(buffer, static_cast<int32_t>(address), static_cast<int32_t>(length));
}

VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_program(const uint8_t* data, uint32_t address,
                                                      uint32_t length) {
  return prom_program_image(data, static_cast<int32_t>(address), static_cast<int32_t>(length));
}

VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_erase(void) { return prom_erase_all(); }

VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_info(uint32_t* idcode, uint32_t* size_bytes) {
  const std::uint32_t result = check_prom();
  if (result != VELNOR_OK) return result;
  if (idcode != nullptr) *idcode = selected_prom().idcode;
  if (size_bytes != nullptr) *size_bytes = selected_prom().size_bytes;
  return VELNOR_OK;
}

VELNOR_API uint32_t VELNOR_CALL velnor_scan_chain(int32_t* count) {
  const std::uint32_t gate = worker_gate();
  if (gate != VELNOR_OK) return gate;
  if (library.cable.target_power() == 0) return VELNOR_ERR_POWER_DOWN;
  const bool identified = scan_chain();
  if (count != nullptr) *count = device_count;
  return identified ? VELNOR_OK : VELNOR_ERR_NO_TARGET;
}

VELNOR_API uint32_t VELNOR_CALL velnor_chain_device(int32_t index, VelnorChainDevice* device) {
  if (device == nullptr || index < 0 || index >= device_count || index >= kChainCapacity) return 0;
  const ChainDevice& entry = chain_devices[index];
  std::memset(device, 0, sizeof *device);
  if (entry.name != nullptr) std::strncpy(device->name, entry.name, sizeof device->name - 1);
  device->idcode = entry.idcode;
  device->ir_length = entry.ir_length;
  device->ir_capture = entry.ir_capture;
  return 1;
}

VELNOR_API uint32_t VELNOR_CALL velnor_bitfile_info(const char* path, VelnorBitFileInfo* info) {
  if (path == nullptr || info == nullptr) return VELNOR_ERR_FILE;
  BitFile* file = bitfile_open(path);
  if (file == nullptr) return VELNOR_ERR_FILE;
  static_assert(sizeof info->design_name == kBitFileTextSize);
  std::memcpy(info->design_name, file->design_name, kBitFileTextSize);
  std::memcpy(info->part_name, file->part_name, kBitFileTextSize);
  std::memcpy(info->date, file->date, kBitFileTextSize);
  std::memcpy(info->time, file->time, kBitFileTextSize);
  info->length = file->length;
  bitfile_close(file);
  return VELNOR_OK;
}

}  // extern "C"
