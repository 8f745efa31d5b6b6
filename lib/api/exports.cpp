// The library's exported entry points. Each passes the gate, then hands the
// session down to the operation; none lets an exception cross the C
// boundary.
#include <cstring>
#include <mutex>

#include "api/session.h"
#include "api/worker_slot.h"
#include "base/messages.h"
#include "cables/cable.h"
#include "fpga/configuration.h"
#include "fpga/fpga.h"
#include "fpga/user_channel.h"
#include "jtag/chain_scan.h"
#include "jtag/device_table.h"
#include "platform/platform.h"
#include "prom/prom.h"
#include "velnor.h"

using namespace velnor;

namespace {

constexpr std::uint32_t AUTO_USB = VELNOR_CABLE_USB;  // USB device 0
constexpr std::uint32_t AUTO_PARALLEL = VELNOR_CABLE_PARALLEL | VELNOR_DEFAULT_LPT_BASE;

// An operation that saw its cable fail says so, whatever its steps returned.
std::uint32_t with_cable_failure(const Session& it, std::uint32_t result) {
  return it.target.jtag.cable.failed ? result | VELNOR_ERR_PROBE : result;
}

// How an operation ended, once the cable has sent all of its shifts: what
// it returned, unless its cable failed.
std::uint32_t concluded(Session& it, std::uint32_t result) {
  it.target.jtag.cable.flush();
  return with_cable_failure(it, result);
}

// An export's work on the target: under the call lock, past the gate, with
// the cable's failures counted from here.
template <typename Work>
std::uint32_t gated(Work work) {
  Session& it = session();
  const std::lock_guard<std::mutex> lock(it.calls);
  const std::uint32_t gate = worker_gate(it);
  if (gate != VELNOR_OK) return gate;
  it.target.jtag.cable.failed = false;
  return concluded(it, work(it.target));
}

std::uint32_t configuration_operation(Session& it) {
  return concluded(it, configure_fpga(it.target, it.worker.operation.source,
                                      it.worker.operation.count, running_progress(it)));
}

std::uint32_t transfer_operation(Session& it) {
  const OperationParameters& operation = it.worker.operation;
  return concluded(it, channel_transfer(it.target, operation.channel, operation.transmit,
                                        operation.receive, operation.count, running_progress(it)));
}

void close_cable(Session& it) {
  // Closing the cable under a running worker would pull it from under its
  // shifts: wait for the operation to finish (its result stays for its
  // poll).
  wait_for_operation(it);
  if (it.cable_open) {
    it.target.jtag.cable.close();
    it.cable_open = 0;
  }
}

// Unloaded with the cable still open, the library must not leave a cable's
// thread running in code that is gone.
void close_cable_at_unload() {
  Session& it = session();
  const std::lock_guard<std::mutex> lock(it.calls);
  close_cable(it);
}

std::uint32_t open_cable(Session& it, std::uint32_t cable_selector) {
  close_cable(it);
  if (cable_selector == VELNOR_CABLE_AUTO) {
    if (open_cable(it, AUTO_USB) == VELNOR_OK) return VELNOR_OK;
    return open_cable(it, AUTO_PARALLEL);
  }
  const Cable cable = cable_named(cable_identifier(cable_selector >> VELNOR_CABLE_KIND_SHIFT));
  if (cable.ops.open == nullptr) return VELNOR_ERR_DRIVER;
  static const bool closes_at_unload = platform::at_unload(close_cable_at_unload);
  (void)closes_at_unload;
  // The cable may now lead to another board: nothing found before counts
  // (the parts the program added stay known).
  const AddedParts added = it.target.jtag.added_parts;
  it.target = Target{};
  it.target.jtag.added_parts = added;
  it.target.jtag.cable = cable;
  if (it.target.jtag.cable.open(cable_selector & VELNOR_CABLE_UNIT_MASK) != 0) {
    return VELNOR_ERR_PROBE;
  }
  it.cable_open = 1;
  return VELNOR_OK;
}

}  // namespace

extern "C" {

VELNOR_API const char* VELNOR_CALL velnor_version(void) { return VELNOR_VERSION_TEXT; }

VELNOR_API uint32_t VELNOR_CALL velnor_free(void) {
  Session& it = session();
  const std::lock_guard<std::mutex> lock(it.calls);
  close_cable(it);
  return 0;
}

VELNOR_API uint32_t VELNOR_CALL velnor_init(uint32_t cable_selector) {
  Session& it = session();
  const std::lock_guard<std::mutex> lock(it.calls);
  return open_cable(it, cable_selector);
}

VELNOR_API uint32_t VELNOR_CALL velnor_check_daisychain(void) {
  Session& it = session();
  const std::lock_guard<std::mutex> lock(it.calls);
  // With the cable closed there is no chain to answer about.
  return it.cable_open != 0 && is_daisychain(it.target.jtag) ? 1 : 0;
}

VELNOR_API uint32_t VELNOR_CALL velnor_get_status(uint32_t* idcode, uint32_t* status,
                                                  uint32_t* usercode) {
  return gated([&](Target& target) { return get_status(target, idcode, status, usercode); });
}

VELNOR_API uint32_t VELNOR_CALL velnor_shutdown(void) {
  return gated([](Target& target) { return shutdown(target); });
}

VELNOR_API uint32_t VELNOR_CALL velnor_config(const void* source, int32_t* count) {
  Session& it = session();
  const std::lock_guard<std::mutex> lock(it.calls);
  if (source == nullptr) return poll_operation(it, WORKER_CONFIGURATION);
  std::uint32_t result = worker_gate(it);
  if (result != VELNOR_OK) return result;
  if (count == nullptr) return VELNOR_ERR_FORMAT;
  it.target.jtag.cable.failed = false;
  it.worker.operation.source = source;
  it.worker.operation.count = count;
  return start_operation(it, WORKER_CONFIGURATION, WORKER_REQUESTED, count,
                         configuration_operation);
}

VELNOR_API uint32_t VELNOR_CALL velnor_spi_xfer(uint8_t channel, const uint8_t* transmit,
                                                uint8_t* receive, int32_t* count) {
  Session& it = session();
  const std::lock_guard<std::mutex> lock(it.calls);
  const bool pending = it.worker.state.load(std::memory_order_acquire) != WORKER_IDLE &&
                       it.worker.kind.load(std::memory_order_relaxed) == WORKER_TRANSFER;
  if (transmit == nullptr && receive == nullptr && count == nullptr && pending) {
    return poll_operation(it, WORKER_TRANSFER);
  }
  std::uint32_t result = worker_gate(it);
  if (result != VELNOR_OK) return result;
  if (!is_data_channel(channel) && !(channel == 0 && count == nullptr)) return VELNOR_ERR_FORMAT;
  it.target.jtag.cable.failed = false;
  result = with_cable_failure(it, check_channel_target(it.target, channel));
  if (result != VELNOR_OK) return result;
  if (count == nullptr) return concluded(it, select_channel(it.target, channel));
  it.worker.operation.channel = channel;
  it.worker.operation.transmit = transmit;
  it.worker.operation.receive = receive;
  it.worker.operation.count = count;
  return start_operation(it, WORKER_TRANSFER, WORKER_STARTING, count, transfer_operation);
}

VELNOR_API uint32_t VELNOR_CALL jmem_access(uint8_t mode, uint32_t address, uint8_t* buffer,
                                            uint32_t length) {
  if (length != 0 && buffer == nullptr) return VELNOR_ERR_FORMAT;
  return gated([&](Target& target) {
    const std::uint32_t checked = check_channel_target(target, 1);
    if (checked != VELNOR_OK) return checked;
    return memory_access(target, mode, address, buffer, length);
  });
}

VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_read(uint8_t* buffer, uint32_t address,
                                                   uint32_t length) {
  return gated([&](Target& target) {
    return prom_read(target, buffer, static_cast<int32_t>(address), static_cast<int32_t>(length));
  });
}

VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_program(const uint8_t* data, uint32_t address,
                                                      uint32_t length) {
  return gated([&](Target& target) {
    return prom_program_image(target, data, static_cast<int32_t>(address),
                              static_cast<int32_t>(length));
  });
}

VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_erase(void) {
  return gated([](Target& target) { return prom_erase_all(target); });
}

VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_info(uint32_t* idcode, uint32_t* size_bytes) {
  return gated([&](Target& target) {
    const std::uint32_t result = check_prom(target);
    if (result != VELNOR_OK) return result;
    if (idcode != nullptr) *idcode = target.jtag.devices[target.prom_index].idcode;
    if (size_bytes != nullptr) *size_bytes = selected_prom(target).size_bytes;
    return VELNOR_OK;
  });
}

VELNOR_API uint32_t VELNOR_CALL velnor_scan_chain(int32_t* count) {
  return gated([&](Target& target) {
    const std::uint32_t powered = sense_power(target);
    if (powered != VELNOR_OK) return powered;
    // The scan resets every TAP: a user channel's frame ends there.
    target.open_channel = 0;
    const bool identified = scan_chain(target.jtag);
    if (count != nullptr) *count = target.jtag.device_count;
    return identified ? VELNOR_OK : VELNOR_ERR_NO_TARGET;
  });
}

VELNOR_API uint32_t VELNOR_CALL velnor_chain_device(int32_t index, VelnorChainDevice* device) {
  Session& it = session();
  const std::lock_guard<std::mutex> lock(it.calls);
  const Jtag& jtag = it.target.jtag;
  // With the cable closed there is no chain to answer about.
  if (device == nullptr || !it.cable_open || index < 0 || index >= jtag.device_count ||
      index >= CHAIN_CAPACITY) {
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

VELNOR_API uint32_t VELNOR_CALL velnor_add_part(const char* name, uint32_t idcode,
                                                int32_t ir_length) {
  Session& it = session();
  const std::lock_guard<std::mutex> lock(it.calls);
  return add_part(it.target.jtag.added_parts, name, idcode, ir_length) ? VELNOR_OK
                                                                       : VELNOR_ERR_FORMAT;
}

VELNOR_API void VELNOR_CALL velnor_set_message_callback(VelnorMessageCallback callback,
                                                        void* context) {
  set_message_callback(callback, context);
}

}  // extern "C"
