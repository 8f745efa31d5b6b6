// The whole bitstream travels in one DR scan through CFG_IN: the scan is
// entered once, every piece but the last is shifted without leaving
// Shift-DR, and the last one leaves it. JSTART with 16 clocks then runs the
// start-up sequence, and the status register tells whether the FPGA took it.
#include "fpga/configuration.h"

#include <cstring>

#include "base/messages.h"
#include "fpga/fpga.h"
#include "jtag/tap.h"
#include "platform/platform.h"
#include "velnor.h"

namespace velnor {
namespace {

// The piece being sent; the worker slot lets one configuration at a time
// use it.
std::uint8_t config_buffer[CONFIG_PIECE_BYTES];

std::size_t read_from_file(void* file, std::uint8_t* buffer, std::size_t count) {
  return platform::read_file(reinterpret_cast<platform::Handle>(file), buffer, count);
}

// An open bitstream file, positioned at its first data byte.
struct OpenBitFile {
  platform::Handle handle = platform::NO_HANDLE;
  BitFileHeader header = {};

  ByteSource source() const { return {read_from_file, reinterpret_cast<void*>(handle)}; }
  bool open(const char* path) {
    handle = platform::open_file_for_reading(path);
    return handle != platform::NO_HANDLE && read_bitfile_header(source(), &header);
  }
  ~OpenBitFile() {
    if (handle != platform::NO_HANDLE) platform::close_file(handle);
  }
};

// Loads CFG_IN and enters Shift-DR with the alignment bits.
std::uint32_t begin_config(Target& target) {
  std::uint32_t result = reset_ending_any_frame(target);
  result |= shift_ir(target.jtag, CFG_IN, FPGA_IR_LENGTH);
  result |= cfg_in_begin(target);
  target.loaded_channel = -1;
  return result;
}

std::uint32_t send_config_piece(Target& target, const std::uint8_t* data, std::int32_t byte_count,
                                bool last) {
  std::uint32_t result = cfg_in_data(target, data, byte_count, last);
  if (last) {
    result |= shift_ir(target.jtag, JSTART, FPGA_IR_LENGTH);
    result |= scan_dr(target.jtag, nullptr, nullptr, STARTUP_CLOCKS);
    result |= tap_idle(target.jtag, 1);
  }
  return result;
}

}  // namespace

bool is_in_memory(const void* source, const std::int32_t* count) {
  return count != nullptr && *count != 0 && *static_cast<const std::uint8_t*>(source) == 0xFF;
}

bool read_bitfile_info(const char* path, BitFileHeader* header) {
  OpenBitFile file;
  if (!file.open(path)) return false;
  *header = file.header;
  return true;
}

std::uint32_t configure_fpga(Target& target, const void* source, std::int32_t* count,
                             const Progress& progress) {
  // The file is checked before the FPGA is touched: one that cannot deliver
  // every byte its header promises would stop the data half-way, after the
  // shutdown has already ended the running design.
  OpenBitFile file;
  const bool from_file = !is_in_memory(source, count);
  std::int32_t total;
  if (!from_file) {
    total = *count;
  } else {
    // A count given with a name bounds it: a name that does not end within
    // it is not read past the caller's bytes.
    if (*count > 0 && std::memchr(source, 0, static_cast<std::size_t>(*count)) == nullptr) {
      return VELNOR_ERR_FILE;
    }
    if (!file.open(static_cast<const char*>(source))) return VELNOR_ERR_FILE;
    // A length past what a count word can show cannot be a Spartan-II's.
    if (file.header.length > 0x7FFFFFFF) return VELNOR_ERR_FILE;
    if (platform::file_bytes_left(file.handle) < file.header.length) return VELNOR_ERR_FILE;
    total = static_cast<std::int32_t>(file.header.length);
  }

  std::uint32_t result = check_target(target);
  if (result != VELNOR_OK) return result;
  std::uint32_t status = 0;
  result = read_status(target, &status);
  if (status & STATUS_UPPER_HALF) {
    message("status read error\n");
    return VELNOR_ERR_CRC;
  }
  if (result != VELNOR_OK) return result;
  if (status & STATUS_DONE) {
    result = fpga_shutdown(target);
    if (result != VELNOR_OK) return result;
  }
  if (from_file) publish_count(count, total);
  progress.mark_running();

  result = begin_config(target);
  std::int32_t sent = 0;
  while (result == VELNOR_OK && sent < total) {
    // Power lost or the cable gone mid-way: stop rather than clock into
    // nothing; the status read below tells the rest.
    if (sent > 0) result |= sense_power(target);
    if (result != VELNOR_OK || target.jtag.cable.failed) break;
    const std::int32_t piece =
        total - sent < CONFIG_PIECE_BYTES ? total - sent : CONFIG_PIECE_BYTES;
    const bool last = sent + CONFIG_PIECE_BYTES >= total;
    if (from_file) {
      // A file read may deliver less than asked; only the end of the file
      // before the piece is full is a failure.
      if (!read_exactly(file.source(), config_buffer, static_cast<std::size_t>(piece))) {
        result |= VELNOR_ERR_FILE;
        break;
      }
    } else {
      std::memcpy(config_buffer, static_cast<const std::uint8_t*>(source) + sent,
                  static_cast<std::size_t>(piece));
    }
    result |= send_config_piece(target, config_buffer, piece, last);
    publish_count(count, total - sent - piece);
    sent += piece;
  }

  // The configuration logic, once synchronised, takes every later word as
  // the rest of the packet it was given; no sync word or shutdown through
  // JTAG brings it back, only PROGRAM or power.
  if (sent > 0 && sent < total) {
    message("configuration interrupted: pulse PROGRAM or cycle the power before the next\n");
  }
  read_status(target, &status);
  if (status & STATUS_CRC_ERROR) result |= VELNOR_ERR_CRC;
  if ((status & STATUS_DONE) == 0) result |= VELNOR_ERR_CRC;
  return result;
}

}  // namespace velnor
