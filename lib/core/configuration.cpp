// The whole bitstream travels in one DR scan through CFG_IN: the scan is
// entered once, every piece but the last is shifted without leaving
// Shift-DR, and the last one leaves it. JSTART with 16 clocks then runs the
// start-up sequence, and the status register tells whether the FPGA took it.
#include "core/configuration.h"

#include <cstring>

#include "core/diagnostics.h"
#include "core/fpga.h"
#include "core/library_state.h"
#include "core/worker_slot.h"
#include "jtag/bitfile.h"
#include "jtag/tap.h"
#include "velnor.h"

namespace velnor {
namespace {

constexpr std::int32_t kStartupClocks = 16;

// The piece being sent; the worker slot lets one configuration at a time
// use it.
std::uint8_t config_buffer[kConfigPieceBytes];

bool is_in_memory(const void* source, const std::int32_t* count) {
  return count != nullptr && *count != 0 && *static_cast<const std::uint8_t*>(source) == 0xFF;
}

// Enters Shift-DR of CFG_IN with the alignment bits that let the data reach
// the FPGA on a word boundary (see write_cfg_in).
std::uint32_t begin_config() {
  std::uint32_t result = reset_ending_any_frame();
  result |= shift_ir(CFG_IN, FPGA_IR_LENGTH);
  result |= shift_dr(nullptr, nullptr, (32 - chain_position.bypass_bits) % 32, DR_ENTER);
  library.loaded_channel = -1;
  return result;
}

std::uint32_t send_config_chunk(const std::uint8_t* data, std::int32_t byte_count, bool last) {
  const std::int32_t u = chain_position.bypass_bits;
  std::uint32_t result;
  if (last && u > 0) {
    result = shift_dr(data, nullptr, 8 * byte_count, 0);
    result |= shift_dr(nullptr, nullptr, u, DR_EXIT);
  } else {
    result = shift_dr(data, nullptr, 8 * byte_count, last ? DR_EXIT : 0);
  }
  if (last) {
    result |= shift_ir(JSTART, FPGA_IR_LENGTH);
    result |= scan_dr(nullptr, nullptr, kStartupClocks);
    result |= tap_idle(1);
  }
  return result;
}

// A file read may deliver less than asked; only the end of the file before
// the piece is full is a failure.
bool fill_from_file(BitFile* file, std::int32_t piece) {
  for (std::int32_t filled = 0; filled < piece;) {
    const std::size_t got =
        bitfile_read(file, config_buffer + filled, static_cast<std::size_t>(piece - filled));
    if (got == 0) return false;
    filled += static_cast<std::int32_t>(got);
  }
  return true;
}

void config_thread() {
  library.worker_state.store(WORKER_STARTING, std::memory_order_release);
  finish_operation(configure_fpga(library.operation.source, library.operation.count));
}

}  // namespace

std::uint32_t configure_fpga(const void* source, std::int32_t* count) {
  std::uint32_t status = 0;
  std::uint32_t result = read_status(&status);
  if (status & STATUS_UPPER_HALF) {
    diagnostic("status read error\n");
    return VELNOR_ERR_CRC;
  }
  if (result != VELNOR_OK) return result;
  if (status & STATUS_DONE) {
    result = fpga_shutdown();
    if (result != VELNOR_OK) return result;
  }

  BitFile* file = nullptr;
  std::int32_t total;
  if (is_in_memory(source, count)) {
    total = *count;
  } else {
    // A count given with a name bounds it: a name that does not end within
    // it is not read past the caller's bytes.
    if (*count > 0 && std::memchr(source, 0, static_cast<std::size_t>(*count)) == nullptr) {
      return VELNOR_ERR_FILE;
    }
    file = bitfile_open(static_cast<const char*>(source));
    if (file == nullptr) return VELNOR_ERR_FILE;
    // A length past what a count word can show cannot be a Spartan-II's.
    if (file->length > 0x7FFFFFFF) {
      bitfile_close(file);
      return VELNOR_ERR_FILE;
    }
    total = static_cast<std::int32_t>(file->length);
    publish_count(count, total);
  }
  mark_operation_running();

  result = begin_config();
  for (std::int32_t sent = 0; result == VELNOR_OK && sent < total;) {
    const std::int32_t piece = total - sent < kConfigPieceBytes ? total - sent : kConfigPieceBytes;
    const bool last = sent + kConfigPieceBytes >= total;
    if (file != nullptr) {
      if (!fill_from_file(file, piece)) {
        result |= VELNOR_ERR_FILE;
        break;
      }
    } else {
      std::memcpy(config_buffer, static_cast<const std::uint8_t*>(source) + sent,
                  static_cast<std::size_t>(piece));
    }
    result |= send_config_chunk(config_buffer, piece, last);
    publish_count(count, total - sent - piece);
    sent += piece;
  }
  if (file != nullptr) bitfile_close(file);

  read_status(&status);
  if (status & STATUS_CRC_ERROR) result |= VELNOR_ERR_CRC;
  if ((status & STATUS_DONE) == 0) result |= VELNOR_ERR_CRC;
  return result;
}

std::uint32_t configure(const void* source, std::int32_t* count) {
  const std::uint32_t checked = check_target();
  if (checked != VELNOR_OK) return checked;
  if (source == nullptr) return worker_gate();
  if (count == nullptr) return VELNOR_ERR_FORMAT;
  if (library.worker_state.load(std::memory_order_acquire) != WORKER_IDLE) return VELNOR_BUSY;
  library.operation.source = source;
  library.operation.count = count;
  return start_operation(WORKER_REQUESTED, count, config_thread);
}

}  // namespace velnor
