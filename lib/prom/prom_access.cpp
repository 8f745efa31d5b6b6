// Finding the PROM, the ISC steps every PROM operation shares, and reading.
#include <cstddef>

#include "base/bit_order.h"
#include "jtag/device_table.h"
#include "jtag/tap.h"
#include "platform/platform.h"
#include "prom/prom.h"
#include "velnor.h"

namespace velnor {
namespace {

// The XCF01S shifts its data in pages of 2048 bits, the larger parts in
// pages of 4096; the address register counts 32 units per page on all three.
constexpr PromPart PROM_PARTS[] = {
    {0x5044093, 128 * 1024, 256},  // XCF01S, 1 Mbit
    {0x5045093, 256 * 1024, 512},  // XCF02S, 2 Mbit
    {0x5046093, 512 * 1024, 512},  // XCF04S, 4 Mbit
};

// ISC_ENABLE's data register takes six bits: 001101 in shift order.
constexpr std::uint8_t ISC_ENABLE_BITS = 0x34;
constexpr std::uint32_t ISC_DISABLE_WAIT_MS = 110;
constexpr std::int32_t READ_PIECE_BYTES = 1024;

// clang-format off
// | step | action                                                        |
// |------|---------------------------------------------------------------|
// | 1    | TAP reset                                                     |
// | 2    | leave ISC mode                                                |
// | 3    | BYPASS twice                                                  |
// | 4, 5 | ISC_ENABLE with its six bits, twice                           |
// | 6    | leave ISC mode                                                |
// | 7    | ISC_ENABLE with its six bits: the PROM stays in ISC mode      |
// clang-format on
std::uint32_t prom_read_enable(Target& target) {
  std::uint32_t result = tap_reset(target.jtag, 6);
  result |= prom_isc_disable(target);
  result |= shift_ir(target.jtag, PROM_BYPASS, PROM_IR_LENGTH);
  result |= shift_ir(target.jtag, PROM_BYPASS, PROM_IR_LENGTH);
  result |= prom_isc_enable(target);
  result |= prom_isc_enable(target);
  result |= prom_isc_disable(target);
  result |= prom_isc_enable(target);
  return result;
}

std::uint32_t prom_read_block(Target& target, std::uint8_t* buffer, std::int32_t address,
                              std::int32_t length) {
  std::uint32_t result =
      load_prom_address(target, prom_address_value(selected_prom(target), address));
  result |= shift_ir(target.jtag, ISC_READ, PROM_IR_LENGTH);
  result |= tap_idle(target.jtag, 1);
  result |= tap_idle(target.jtag, 50);
  result |= scan_dr(target.jtag, nullptr, buffer, 8 * length);
  return result;
}

}  // namespace

const PromPart* prom_part(std::uint32_t idcode) {
  for (const PromPart& part : PROM_PARTS) {
    if (part.idcode == (idcode & IDCODE_WITHOUT_VERSION)) return &part;
  }
  return nullptr;
}

const PromPart& selected_prom(const Target& target) {
  return *prom_part(target.jtag.devices[target.prom_index].idcode);
}

std::uint32_t check_prom(Target& target) {
  return check_device(
      target, &target.prom_index, [](std::uint32_t idcode) { return prom_part(idcode) != nullptr; },
      read_prom_idcode);
}

std::uint32_t read_prom_idcode(Target& target, std::uint32_t* out) {
  return read_word(target, PROM_IDCODE, PROM_IR_LENGTH, out);
}

std::uint32_t prom_isc_enable(Target& target) {
  std::uint32_t result = shift_ir(target.jtag, ISC_ENABLE, PROM_IR_LENGTH);
  return result | scan_dr(target.jtag, &ISC_ENABLE_BITS, nullptr, 6);
}

std::uint32_t prom_isc_disable(Target& target) {
  std::uint32_t result = shift_ir(target.jtag, ISC_DISABLE, PROM_IR_LENGTH);
  result |= tap_idle(target.jtag, 10);
  target.jtag.cable.flush();
  platform::sleep_ms(ISC_DISABLE_WAIT_MS);
  result |= tap_reset(target.jtag, 10);
  return result;
}

std::uint32_t load_prom_address(Target& target, std::uint32_t value) {
  std::uint8_t bits[2];
  lsb_first_stream(value, 16, bits);
  std::uint32_t result = shift_ir(target.jtag, ISC_ADDRESS_SHIFT, PROM_IR_LENGTH);
  result |= scan_dr(target.jtag, bits, nullptr, 16);
  result |= tap_idle(target.jtag, 1);
  result |= tap_idle(target.jtag, 1);
  return result;
}

std::uint32_t prom_address_value(const PromPart& part, std::int32_t byte_address) {
  const std::int32_t block_start = byte_address / PROM_BLOCK_BYTES * PROM_BLOCK_BYTES;
  return static_cast<std::uint32_t>(block_start / part.page_bytes * 32) & 0xFFFF;
}

std::uint32_t prom_read(Target& target, std::uint8_t* buffer, std::int32_t address,
                        std::int32_t length) {
  if (address < 0 || length < 0 || (length > 0 && buffer == nullptr)) return VELNOR_ERR_FORMAT;
  const std::uint32_t checked = check_prom(target);
  if (checked != VELNOR_OK) return checked;
  const std::int64_t start = address / PROM_BLOCK_BYTES * PROM_BLOCK_BYTES;
  if (start + length > selected_prom(target).size_bytes) return VELNOR_ERR_FORMAT;
  std::uint32_t result = prom_read_enable(target);
  while (length != 0 && result == VELNOR_OK && !target.jtag.cable.failed) {
    const std::int32_t piece = length <= READ_PIECE_BYTES ? length : READ_PIECE_BYTES;
    result |= prom_read_block(target, buffer, address, piece);
    result |= sense_power(target);
    buffer += piece;
    address += piece;
    length -= piece;
  }
  return result;
}

}  // namespace velnor
