// The library's exported entry points. Each passes the gate, then hands the
// session down to the operation; none lets an exception cross the C
// boundary.
#include <cstring>

#include "api/session.h"
#include "api/worker_slot.h"
#include "cables/cable.h"
#include "fpga/configuration.h"
#include "fpga/fpga.h"
#include "fpga/user_channel.h"
#include "jtag/chain_scan.h"
#include "platform/platform.h"
#include "prom/prom.h"
#include "velnor.h"

using namespace velnor;

namespace {

constexpr std::uint32_t AUTO_USB = VELNOR_CABLE_USB;  // USB device 0
constexpr std::uint32_t AUTO_PARALLEL = VELNOR_CABLE_PARALLEL | VELNOR_DEFAULT_LPT_BASE;

Target& target() { return session().target; }

// Unloaded with the cable still open, the library must not leave a cable's
// thread running in code that is gone.
void close_cable_at_unload() { velnor_free(); }

// An operation's result once the cable has sent all of its shifts.
std::uint32_t sent(std::uint32_t result) {
  target().jtag.cable.flush();
  return result;
}

std::uint32_t configuration_operation(Session& it) {
  return sent(configure_fpga(it.target, it.worker.operation.source, it.worker.operation.count,
                             running_progress(it)));
}

std::uint32_t transfer_operation(Session& it) {
  const OperationParameters& operation = it.worker.operation;
  return sent(channel_transfer(it.target, operation.channel, operation.transmit, operation.receive,
                               operation.count, running_progress(it)));
}

}  // namespace

extern "C" {

VELNOR_API const char* VELNOR_CALL velnor_version(void) { return VELNOR_VERSION_TEXT; }

VELNOR_API uint32_t VELNOR_CALL velnor_free(void) {
  Session& it = session();
  // Closing the cable under a running worker would pull it from under its
  // shifts: wait for the operation to finish (its result stays for the gate).
  wait_for_operation(it);
  if (it.cable_open) {
    it.target.jtag.cable.close();
    it.cable_open = 0;
  }
  return 0;
}

VELNOR_API uint32_t VELNOR_CALL velnor_init(uint32_t cable_selector) {
  velnor_free();
  if (cable_selector == VELNOR_CABLE_AUTO) {
    if (velnor_init(AUTO_USB) == VELNOR_OK) return VELNOR_OK;
    return velnor_init(AUTO_PARALLEL);
  }
  const Cable cable = cable_named(cable_identifier(cable_selector >> VELNOR_CABLE_KIND_SHIFT));
  if (cable.ops.open == nullptr) return VELNOR_ERR_DRIVER;
  static const bool closes_at_unload = platform::at_unload(close_cable_at_unload);
  (void)closes_at_unload;
  Session& it = session();
  it.target.jtag.cable = cable;
  if (it.target.jtag.cable.open(cable_selector & VELNOR_CABLE_UNIT_MASK) != 0) {
    return VELNOR_ERR_PROBE;
  }
  it.cable_open = 1;
  return VELNOR_OK;
}

VELNOR_API uint32_t VELNOR_CALL velnor_check_daisychain(void) {
  return is_daisychain(target().jtag) ? 1 : 0;
}

VELNOR_API uint32_t VELNOR_CALL velnor_get_status(uint32_t* idcode, uint32_t* status,
                                                  uint32_t* usercode) {
  const std::uint32_t gate = worker_gate(session());
  if (gate != VELNOR_OK) return gate;
  return sent(get_status(target(), idcode, status, usercode));
}

VELNOR_API uint32_t VELNOR_CALL velnor_shutdown(void) {
  const std::uint32_t gate = worker_gate(session());
  if (gate != VELNOR_OK) return gate;
  return sent(shutdown(target()));
}

VELNOR_API uint32_t VELNOR_CALL velnor_config(const void* source, int32_t* count) {
  Session& it = session();
  std::uint32_t result = worker_gate(it);
  if (result != VELNOR_OK) return result;
  result = check_target(it.target);
  if (result != VELNOR_OK) return result;
  if (source == nullptr) return worker_gate(it);
  if (count == nullptr) return VELNOR_ERR_FORMAT;
  if (it.worker.state.load(std::memory_order_acquire) != WORKER_IDLE) return VELNOR_BUSY;
  it.worker.operation.source = source;
  it.worker.operation.count = count;
  return start_operation(it, WORKER_REQUESTED, count, configuration_operation);
}

VELNOR_API uint32_t VELNOR_CALL velnor_spi_xfer(uint8_t channel, const uint8_t* transmit,
                                                uint8_t* receive, int32_t* count) {
  Session& it = session();
  const std::uint32_t gate = worker_gate(it);
  if (gate != VELNOR_OK) return gate;
  if (count == nullptr) return select_channel(it.target, channel);
  it.worker.operation.channel = channel;
  it.worker.operation.transmit = transmit;
  it.worker.operation.receive = receive;
  it.worker.operation.count = count;
  return start_operation(it, WORKER_STARTING, count, transfer_operation);
}

VELNOR_API uint32_t VELNOR_CALL jmem_access(uint8_t mode, uint32_t address, uint8_t* buffer,
                                            uint32_t length) {
  if (length != 0 && buffer == nullptr) return 1;
  const std::uint32_t gate = worker_gate(session());
  if (gate != VELNOR_OK) return gate;
  return sent(memory_access(target(), mode, address, buffer, length));
}

VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_read(uint8_t* buffer, uint32_t address,
                                                   uint32_t length) {
  const std::uint32_t gate = worker_gate(session());
  if (gate != VELNOR_OK) return gate;
  return sent(
      prom_read(target(), buffer, static_cast<int32_t>(address), static_cast<int32_t>(length)));
}

VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_program(const uint8_t* data, uint32_t address,
                                                      uint32_t length) {
  const std::uint32_t gate = worker_gate(session());
  if (gate != VELNOR_OK) return gate;
  return sent(prom_program_image(target(), data, static_cast<int32_t>(address),
                                 static_cast<int32_t>(length)));
}

VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_erase(void) {
  const std::uint32_t gate = worker_gate(session());
  if (gate != VELNOR_OK) return gate;
  return sent(prom_erase_all(target()));
}

VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_info(uint32_t* idcode, uint32_t* size_bytes) {
  std::uint32_t result = worker_gate(session());
  if (result != VELNOR_OK) return result;
  result = check_prom(target());
  if (result != VELNOR_OK) return result;
  const PromPart& part = selected_prom(target());
  if (idcode != nullptr) *idcode = part.idcode;
  if (size_bytes != nullptr) *size_bytes = part.size_bytes;
  return VELNOR_OK;
}

VELNOR_API uint32_t VELNOR_CALL velnor_scan_chain(int32_t* count) {
  const std::uint32_t gate = worker_gate(session());
  if (gate != VELNOR_OK) return gate;
  Jtag& jtag = target().jtag;
  if (jtag.cable.target_power() == 0) return VELNOR_ERR_POWER_DOWN;
  const bool identified = scan_chain(jtag);
  jtag.cable.flush();
  if (count != nullptr) *count = jtag.device_count;
  return identified ? VELNOR_OK : VELNOR_ERR_NO_TARGET;
}

VELNOR_API uint32_t VELNOR_CALL velnor_chain_device(int32_t index, VelnorChainDevice* device) {
  const Jtag& jtag = target().jtag;
  if (device == nullptr || index < 0 || index >= jtag.device_count || index >= CHAIN_CAPACITY) {
    return 0;
  }
  const ChainDevice& entry = jtag.devices[index];
  std::memset(device, 0, sizeof *device);
  if (entry.name != nullptr) std::strncpy(device->name, entry.name, sizeof device->name - 1);
  device->idcode = entry.idcode;
  device->ir_length = entry.ir_length;
  device->ir_capture = entry.ir_capture;
  return 1;
}

VELNOR_API uint32_t VELNOR_CALL velnor_bitfile_info(const char* path, VelnorBitFileInfo* info) {
  if (path == nullptr || info == nullptr) return VELNOR_ERR_FILE;
  BitFileHeader header;
  if (!read_bitfile_info(path, &header)) return VELNOR_ERR_FILE;
  static_assert(sizeof info->design_name == BITFILE_TEXT_SIZE);
  std::memcpy(info->design_name, header.design_name, BITFILE_TEXT_SIZE);
  std::memcpy(info->part_name, header.part_name, BITFILE_TEXT_SIZE);
  std::memcpy(info->date, header.date, BITFILE_TEXT_SIZE);
  std::memcpy(info->time, header.time, BITFILE_TEXT_SIZE);
  info->length = header.length;
  return VELNOR_OK;
}

}  // extern "C"
