// A user channel is a DR scan of USER1 or USER2. The design waits for a start
// bit of 1, then takes the data bytes most significant bit first and answers
// with bytes of its own. On a chain where the FPGA is alone the scan stays in
// Shift-DR between transfers, so one frame may span many of them; with other
// devices around, every transfer is a frame of its own, padded with p bits
// so its data reach the FPGA and its answers reach TDO.
#include "fpga/user_channel.h"

#include <cstring>

#include "base/messages.h"
#include "fpga/fpga.h"
#include "jtag/chain_scan.h"
#include "jtag/tap.h"
#include "velnor.h"

namespace velnor {
namespace {

// At most 7 devices on each side of the FPGA: 14 pad bits.
constexpr std::size_t PAD_BYTES = 2;

// The final piece of a padded transfer runs through these, so the pad bits
// never touch memory beyond the caller's count.
std::uint8_t padded_transmit[CHANNEL_PIECE_BYTES + PAD_BYTES];
std::uint8_t padded_receive[CHANNEL_PIECE_BYTES + PAD_BYTES + 1];

std::uint32_t load_channel(Target& target, std::int32_t channel) {
  std::uint32_t result = 0;
  if (channel != target.loaded_channel) {
    result |= tap_reset(target.jtag, 6);
    result |= tap_idle(target.jtag, 1);
    target.loaded_channel = 0;
  }
  std::uint32_t instruction;
  if (channel == 1) {
    instruction = USER1;
  } else if (channel == 2) {
    instruction = USER2;
  } else {
    return result;
  }
  result |= shift_ir(target.jtag, instruction, FPGA_IR_LENGTH);
  result |= shift_dr(target.jtag, nullptr, nullptr, 0, DR_ENTER);
  if (result == VELNOR_OK) target.loaded_channel = channel;
  return result;
}

std::uint32_t channel_shift(Target& target, const std::uint8_t* transmit, std::uint8_t* receive,
                            std::int32_t bit_count, bool end_frame) {
  std::uint32_t result =
      shift_dr(target.jtag, transmit, receive, bit_count, end_frame ? DR_EXIT : 0);
  if (end_frame) {
    result |= tap_idle(target.jtag, 1);
    target.loaded_channel = 0;
  }
  return result;
}

// Removes the first p received bits of a whole transfer: bytes[0, total)
// followed by the tail bytes the final shift brought beyond the count.
void drop_pad_bits(std::uint8_t* bytes, std::int32_t total, const std::uint8_t* tail,
                   std::int32_t p) {
  auto at = [&](std::int32_t j) { return j < total ? bytes[j] : tail[j - total]; };
  const std::int32_t whole = p / 8;
  const std::int32_t bits = p % 8;
  for (std::int32_t i = 0; i < total; ++i) {
    const unsigned pair = static_cast<unsigned>(at(whole + i)) << 8 | at(whole + i + 1);
    bytes[i] = static_cast<std::uint8_t>(pair >> (8 - bits));
  }
}

// The last piece with its p pad bits, ending the frame.
std::uint32_t shift_final_piece(Target& target, const std::uint8_t* transmit, std::uint8_t* receive,
                                std::int32_t bytes, std::int32_t p, std::uint8_t* receive_start,
                                std::int32_t total) {
  const auto length = static_cast<std::size_t>(bytes);
  if (transmit != nullptr) {
    std::memcpy(padded_transmit, transmit, length);
  } else {
    std::memset(padded_transmit, 0, length);
  }
  std::memset(padded_transmit + length, 0, PAD_BYTES);
  std::memset(padded_receive + length, 0, PAD_BYTES + 1);
  const std::uint32_t result = channel_shift(
      target, padded_transmit, receive != nullptr ? padded_receive : nullptr, 8 * bytes + p, true);
  if (receive != nullptr) {
    std::memcpy(receive, padded_receive, length);
    drop_pad_bits(receive_start, total, padded_receive + length, p);
  }
  return result;
}

// The design waits for a start bit of 1 before its data.
std::uint32_t open_frame(Target& target, std::int32_t channel) {
  static const std::uint8_t START_BIT = 0xFF;
  std::uint32_t result = load_channel(target, channel);
  result |= channel_shift(target, &START_BIT, nullptr, 1, false);
  target.open_channel = result == VELNOR_OK ? channel : 0;
  return result;
}

}  // namespace

// clang-format off
// | step | action                                                        |
// |------|---------------------------------------------------------------|
// | 1    | RUNNING; p = u + (r when receiving)                           |
// | 2    | channel not open: select it, send the start bit (1)           |
// | 3    | pieces of up to 4096 bytes; the last carries the pad and ends |
// |      | the frame when p > 0; the count word falls after each piece   |
// clang-format on
std::uint32_t channel_transfer(Target& target, std::int32_t channel, const std::uint8_t* transmit,
                               std::uint8_t* receive, std::int32_t* count,
                               const Progress& progress) {
  progress.mark_running();
  const ChainPosition& at = target.jtag.position;
  const std::int32_t p = at.bypass_bits + (receive != nullptr ? at.index : 0);
  std::uint8_t* const receive_start = receive;
  const std::int32_t total = *count;

  std::uint32_t result = 0;
  if (target.open_channel != channel) result = open_frame(target, channel);
  for (std::int32_t rest = total; rest != 0 && result == VELNOR_OK && !target.jtag.cable.failed;) {
    const std::int32_t piece = rest < CHANNEL_PIECE_BYTES ? rest : CHANNEL_PIECE_BYTES;
    if (piece == rest && p != 0) {
      result |= shift_final_piece(target, transmit, receive, piece, p, receive_start, total);
      target.open_channel = 0;
    } else {
      result |= channel_shift(target, transmit, receive, 8 * piece, false);
    }
    if (transmit != nullptr) transmit += piece;
    if (receive != nullptr) receive += piece;
    rest -= piece;
    publish_count(count, rest);
  }
  return result;
}

bool is_data_channel(std::int32_t channel) { return channel == 1 || channel == 2; }

std::uint32_t check_channel_target(Target& target, std::int32_t channel) {
  if (target.fpga_index < 0 || target.open_channel != channel) return check_target(target);
  const std::uint32_t powered = sense_power(target);
  if (powered != VELNOR_OK) return powered;
  // Another device's operation ends the frame; an open one is the FPGA's.
  select_device(target.jtag, target.fpga_index);
  return VELNOR_OK;
}

std::uint32_t select_channel(Target& target, std::int32_t channel) {
  if (!is_data_channel(channel)) {
    target.open_channel = 0;
    return load_channel(target, 0);
  }
  return open_frame(target, channel);
}

namespace {

// The memory-access frame on channel 1:
// | offset | content                                                        |
// |--------|----------------------------------------------------------------|
// | 0..3   | 0x80 | address 31..24, address 23..16, 15..8, 7..0             |
// | 4..    | write: records 0x40 + n (n = 1..63) and n data bytes, then 0x00 |
// |        | read: n bytes 0x21, then 0x00 0x00; data byte k comes back in   |
// |        | received byte 6 + k                                            |
constexpr std::uint8_t JMEM_WRITE = 0;
constexpr std::uint8_t JMEM_VERIFY = 3;
constexpr std::uint8_t RECORD_BASE = 0x40;
constexpr std::uint8_t READ_COMMAND = 0x21;
constexpr std::uint32_t FRAME_LIMIT = 8192;
constexpr std::uint32_t LAST_RECORD_OFFSET = 8188;
constexpr std::uint32_t RECORD_ROOM_END = 8190;
constexpr std::uint32_t MAX_RECORD_BYTES = 63;
constexpr std::uint32_t READ_DATA_OFFSET = 6;
constexpr std::uint32_t MAX_READ_BYTES = 8190;
// The design's memory is paged in 64 KiB; its address counter wraps inside
// a page, so no pass may cross a page end.
constexpr std::uint32_t PAGE_BYTES = 0x10000;

std::uint8_t frame_buffer[FRAME_LIMIT + 8];
std::uint8_t reply_buffer[FRAME_LIMIT + 8];

std::uint32_t send_frame(Target& target, std::uint32_t frame_length, std::uint8_t* reply) {
  auto count = static_cast<std::int32_t>(frame_length);
  return channel_transfer(target, 1, frame_buffer, reply, &count, Progress{});
}

}  // namespace

std::uint32_t memory_access(Target& target, std::uint8_t mode, std::uint32_t address,
                            std::uint8_t* buffer, std::uint32_t length) {
  if (length != 0 && buffer == nullptr) return 1;
  while (length != 0) {
    frame_buffer[0] = static_cast<std::uint8_t>(0x80 | address >> 24);
    frame_buffer[1] = static_cast<std::uint8_t>(address >> 16);
    frame_buffer[2] = static_cast<std::uint8_t>(address >> 8);
    frame_buffer[3] = static_cast<std::uint8_t>(address);
    const std::uint32_t page_rest = PAGE_BYTES - (address & (PAGE_BYTES - 1));
    const std::uint32_t limit = length < page_rest ? length : page_rest;
    std::uint32_t moved = 0;
    if (mode == JMEM_WRITE) {
      std::uint32_t offset = 4;
      while (moved < limit && offset <= LAST_RECORD_OFFSET) {
        std::uint32_t n = MAX_RECORD_BYTES;
        if (RECORD_ROOM_END - offset < n) n = RECORD_ROOM_END - offset;
        if (limit - moved < n) n = limit - moved;
        frame_buffer[offset++] = static_cast<std::uint8_t>(RECORD_BASE + n);
        std::memcpy(frame_buffer + offset, buffer + moved, n);
        offset += n;
        moved += n;
      }
      frame_buffer[offset++] = 0x00;
      const std::uint32_t result = send_frame(target, offset, nullptr);
      if (result != VELNOR_OK) return result;
    } else {
      moved = limit < MAX_READ_BYTES ? limit : MAX_READ_BYTES;
      std::memset(frame_buffer + 4, READ_COMMAND, moved);
      frame_buffer[4 + moved] = 0x00;
      frame_buffer[5 + moved] = 0x00;
      const std::uint32_t result = send_frame(target, moved + READ_DATA_OFFSET, reply_buffer);
      if (result != VELNOR_OK) return result;
      const std::uint8_t* data = reply_buffer + READ_DATA_OFFSET;
      if (mode == JMEM_VERIFY) {
        for (std::uint32_t k = 0; k < moved; ++k) {
          if (buffer[k] != data[k]) {
            message("Verify error %08X\n", address + k);
            return 1;
          }
        }
      } else {
        std::memcpy(buffer, data, moved);
      }
    }
    buffer += moved;
    address += moved;
    length -= moved;
  }
  return 0;
}

}  // namespace velnor
