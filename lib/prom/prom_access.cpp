// Finding the PROM, and reading it.
#include <cstddef>

#include "core/library_state.h"
#include "core/target_check.h"
#include "jtag/chain_scan.h"
#include "jtag/tap.h"
#include "platform/platform.h"
#include "prom/prom.h"
#include "velnor.h"

namespace velnor {
namespace {

// The XCF01S shifts its data in pages of 2048 bits, the larger parts in
// pages of 4096; the address register counts 32 units per page on all three.
constexpr PromPart kPromParts[] = {
    {0x05044093, 128 * 1024, 256},  // XCF01S, 1 Mbit
    {0x05045093, 256 * 1024, 512},  // XCF02S, 2 Mbit
    {0x05046093, 512 * 1024, 512},  // XCF04S, 4 Mbit
};

constexpr std::uint8_t kReadEnableData = 0x34;  // six bits 001101 in shift order
constexpr std::uint32_t kIscDisableWaitMs = 110;
constexpr std::int32_t kReadPieceBytes = 1024;

// | step | action                                                        |
// |------|---------------------------------------------------------------|
// | 1    | TAP reset                                                     |
// | 2    | leave ISC mode                                                |
// | 3    | BYPASS twice                                                  |
// | 4, 5 | ISC_ENABLE with its six bits, twice                           |
// | 6    | leave ISC mode                                                |
// | 7    | ISC_ENABLE with its six bits: the PROM stays in ISC mode      |
std::uint32_t prom_read_enable() {
  auto enable = [] {
    std::uint32_t result = shift_ir(ISC_ENABLE, PROM_IR_LENGTH);
    return result | scan_dr(&kReadEnableData, nullptr, 6);
  };
  std::uint32_t result = tap_reset(6);
  result |= prom_isc_disable();
  result |= shift_ir(PROM_BYPASS, PROM_IR_LENGTH);
  result |= shift_ir(PROM_BYPASS, PROM_IR_LENGTH);
  result |= enable();
  result |= enable();
  result |= prom_isc_disable();
  result |= enable();
  return result;
}

std::uint32_t prom_read_block(std::uint8_t* buffer, std::int32_t address, std::int32_t length) {
  std::uint8_t address_bytes[2];
  prom_address_bytes(selected_prom(), address, address_bytes);
  std::uint32_t result = shift_ir(ISC_ADDRESS_SHIFT, PROM_IR_LENGTH);
  result |= scan_dr(address_bytes, nullptr, 16);
  result |= tap_idle(1);
  result |= tap_idle(1);
  result |= shift_ir(ISC_READ, PROM_IR_LENGTH);
  result |= tap_idle(1);
  result |= tap_idle(50);
  result |= scan_dr(nullptr, buffer, 8 * length);
  return result;
}

}  // namespace

const PromPart* prom_part(std::uint32_t idcode) {
  for (const PromPart& part : kPromParts) {
    if (part.idcode == idcode) return &part;
  }
  return nullptr;
}

const PromPart& selected_prom() {
  return *prom_part(chain_devices[library.prom_index].idcode);
}

std::uint32_t check_prom() {
  return check_device(
      &library.prom_index, [](std::uint32_t idcode) { return prom_part(idcode) != nullptr; },
      read_prom_idcode);
}

std::uint32_t read_prom_idcode(std::uint32_t* out) {
  return read_word(PROM_IDCODE, PROM_IR_LENGTH, out);
}

std::uint32_t prom_isc_disable() {
  std::uint32_t result = shift_ir(ISC_DISABLE, PROM_IR_LENGTH);
  result |= tap_idle(10);
  platform::sleep_ms(kIscDisableWaitMs);
  result |= tap_reset(10);
  return result;
}

// Callers address the PROM in 512-byte blocks: any offset within a block is
// dropped. The register takes 32 units per page, least significant bit
// first; bytes at or past 64 Ki units wrap.
void prom_address_bytes(const PromPart& part, std::int32_t byte_address, std::uint8_t bytes[2]) {
  const std::int32_t block_start = byte_address / kPromBlockBytes * kPromBlockBytes;
  const auto value = static_cast<std::uint32_t>(block_start / part.page_bytes * 32) & 0xFFFF;
  bytes[0] = static_cast<std::uint8_t>(value);
  bytes[1] = static_cast<std::uint8_t>(value >> 8);
  reverse_bits_in_bytes(bytes, 2);
}

std::uint32_t prom_read(std::uint8_t* buffer, std::int32_t address, std::int32_t length) {
  const std::uint32_t checked = check_prom();
  if (checked != VELNOR_OK) return checked;
  if (address < 0 || length < 0 || (length > 0 && buffer == nullptr)) return VELNOR_ERR_FORMAT;
  const std::int64_t start = address / kPromBlockBytes * kPromBlockBytes;
  if (start + length > selected_prom().size_bytes) return VELNOR_ERR_FORMAT;
  prom_read_enable();
  while (length != 0) {
    const std::int32_t piece = length <= kReadPieceBytes ? length : kReadPieceBytes;
    prom_read_block(buffer, address, piece);
    buffer += piece;
    address += piece;
    length -= piece;
  }
  return VELNOR_OK;
}

}  // namespace velnor
