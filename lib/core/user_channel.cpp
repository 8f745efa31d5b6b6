// A user channel is a DR scan of USER1 or USER2. The design waits for a start
// bit of 1, then takes the data bytes most significant bit first and answers
// with bytes of its own. On a chain where the FPGA is alone the scan stays in
// Shift-DR between transfers, so one frame may span many of them; with other
// devices around, every transfer is a frame of its own, padded with p bits
// so its data reach the FPGA and its answers reach TDO.
#include "core/user_channel.h"

#include <cstring>

#include "core/diagnostics.h"
#include "core/fpga.h"
#include "core/library_state.h"
#include "core/worker_slot.h"
#include "jtag/chain_scan.h"
#include "jtag/tap.h"
#include "velnor.h"

namespace velnor {
namespace {

// At most 7 devices on each side of the FPGA: 14 pad bits.
constexpr std::size_t kPadBytes = 2;

// The final piece of a padded transfer runs through these, so the pad bits
// never touch memory beyond the caller's count.
std::uint8_t padded_transmit[kChannelPieceBytes + kPadBytes];
std::uint8_t padded_receive[kChannelPieceBytes + kPadBytes + 1];

std::uint32_t select_channel(std::int32_t channel) {
  std::uint32_t result = 0;
  if (channel != library.loaded_channel) {
    result |= tap_reset(6);
    result |= tap_idle(1);
    library.loaded_channel = 0;
  }
  std::uint32_t instruction;
  if (channel == 1) {
    instruction = USER1;
  } else if (channel == 2) {
    instruction = USER2;
  } else {
    return result;
  }
  result |= shift_ir(instruction, FPGA_IR_LENGTH);
  result |= shift_dr(nullptr, nullptr, 0, DR_ENTER);
  if (result == VELNOR_OK) library.loaded_channel = channel;
  return result;
}

std::uint32_t channel_shift(const std::uint8_t* transmit, std::uint8_t* receive,
                            std::int32_t bit_count, bool end_frame) {
  std::uint32_t result = shift_dr(transmit, receive, bit_count, end_frame ? DR_EXIT : 0);
  if (end_frame) {
    result |= tap_idle(1);
    library.loaded_channel = 0;
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
std::uint32_t shift_final_piece(const std::uint8_t* transmit, std::uint8_t* receive,
                                std::int32_t bytes, std::int32_t p, std::uint8_t* receive_start,
                                std::int32_t total) {
  const auto length = static_cast<std::size_t>(bytes);
  if (transmit != nullptr) {
    std::memcpy(padded_transmit, transmit, length);
  } else {
    std::memset(padded_transmit, 0, length);
  }
  std::memset(padded_transmit + length, 0, kPadBytes);
  std::memset(padded_receive + length, 0, kPadBytes + 1);
  const std::uint32_t result = channel_shift(
      padded_transmit, receive != nullptr ? padded_receive : nullptr, 8 * bytes + p, true);
  if (receive != nullptr) {
    std::memcpy(receive, padded_receive, length);
    drop_pad_bits(receive_start, total, padded_receive + length, p);
  }
  return result;
}

// | step | action                                                       |
// |------|--------------------------------------------------------------|
// | 1    | RUNNING; p = u + (r when receiving)                          |
// | 2    | channel not open: select it, send the start bit (1)          |
// | 3    | pieces of up to 4096 bytes; the last carries the pad and ends |
// |      | the frame when p > 0; the count word falls after each piece  |
void spi_worker() {
  mark_operation_running();
  const OperationParameters& operation = library.operation;
  const std::int32_t channel = operation.channel;
  const std::int32_t p =
      chain_position.bypass_bits + (operation.receive != nullptr ? chain_position.index : 0);
  const std::uint8_t* transmit = operation.transmit;
  std::uint8_t* receive = operation.receive;
  const std::int32_t total = *operation.count;

  std::uint32_t result = 0;
  if (library.open_channel != channel) {
    static const std::uint8_t kStartBit = 0xFF;
    result = select_channel(channel);
    result |= channel_shift(&kStartBit, nullptr, 1, false);
    library.open_channel = channel;
  }
  for (std::int32_t rest = total; rest != 0 && result == VELNOR_OK;) {
    const std::int32_t piece = rest < kChannelPieceBytes ? rest : kChannelPieceBytes;
    if (piece == rest && p != 0) {
      result |= shift_final_piece(transmit, receive, piece, p, operation.receive, total);
      library.open_channel = 0;
    } else {
      result |= channel_shift(transmit, receive, 8 * piece, false);
    }
    if (transmit != nullptr) transmit += piece;
    if (receive != nullptr) receive += piece;
    rest -= piece;
    publish_count(operation.count, rest);
  }
  finish_operation(result);
}

// The memory-access frame on channel 1:
// | offset | content                                                        |
// |--------|----------------------------------------------------------------|
// | 0..3   | 0x80 | address 31..24, address 23..16, 15..8, 7..0             |
// | 4..    | write: records 0x40 + n (n = 1..63) and n data bytes, then 0x00 |
// |        | read: n bytes 0x21, then 0x00 0x00; data byte k comes back in   |
// |        | received byte 6 + k                                            |
constexpr std::uint8_t kJmemWrite = 0;
constexpr std::uint8_t kJmemVerify = 3;
constexpr std::uint8_t kRecordBase = 0x40;
constexpr std::uint8_t kReadCommand = 0x21;
constexpr std::uint32_t kFrameLimit = 8192;
constexpr std::uint32_t kLastRecordOffset = 8188;
constexpr std::uint32_t kRecordRoomEnd = 8190;
constexpr std::uint32_t kMaxRecordBytes = 63;
constexpr std::uint32_t kReadDataOffset = 6;
constexpr std::uint32_t kMaxReadBytes = 8190;
// The design's memory is paged in 64 KiB; its address counter wraps inside
// a page, so no pass may cross a page end.
constexpr std::uint32_t kPageBytes = 0x10000;

std::uint8_t frame_buffer[kFrameLimit + 8];
std::uint8_t reply_buffer[kFrameLimit + 8];

std::uint32_t send_frame(std::uint32_t frame_length, std::uint8_t* reply) {
  auto count = static_cast<std::int32_t>(frame_length);
  return spi_xfer(1, frame_buffer, reply, &count);
}

}  // namespace

std::uint32_t spi_xfer(std::uint8_t channel, const std::uint8_t* transmit, std::uint8_t* receive,
                       std::int32_t* count) {
  const std::uint32_t gate = worker_gate();
  if (gate != VELNOR_OK) return gate;
  if (count == nullptr) {
    const std::uint32_t result = select_channel(channel);
    library.open_channel = channel;
    return result;
  }
  library.operation.channel = channel;
  library.operation.transmit = transmit;
  library.operation.receive = receive;
  library.operation.count = count;
  return start_operation(WORKER_STARTING, count, spi_worker);
}

std::uint32_t memory_access(std::uint8_t mode, std::uint32_t address, std::uint8_t* buffer,
                            std::uint32_t length) {
  if (length != 0 && buffer == nullptr) return 1;
  while (length != 0) {
    frame_buffer[0] = static_cast<std::uint8_t>(0x80 | address >> 24);
    frame_buffer[1] = static_cast<std::uint8_t>(address >> 16);
    frame_buffer[2] = static_cast<std::uint8_t>(address >> 8);
    frame_buffer[3] = static_cast<std::uint8_t>(address);
    const std::uint32_t page_rest = kPageBytes - (address & (kPageBytes - 1));
    const std::uint32_t limit = length < page_rest ? length : page_rest;
    std::uint32_t moved = 0;
    if (mode == kJmemWrite) {
      std::uint32_t offset = 4;
      while (moved < limit && offset <= kLastRecordOffset) {
        std::uint32_t n = kMaxRecordBytes;
        if (kRecordRoomEnd - offset < n) n = kRecordRoomEnd - offset;
        if (limit - moved < n) n = limit - moved;
        frame_buffer[offset++] = static_cast<std::uint8_t>(kRecordBase + n);
        std::memcpy(frame_buffer + offset, buffer + moved, n);
        offset += n;
        moved += n;
      }
      frame_buffer[offset++] = 0x00;
      const std::uint32_t result = send_frame(offset, nullptr);
      if (result != VELNOR_OK) return result;
    } else {
      moved = limit < kMaxReadBytes ? limit : kMaxReadBytes;
      std::memset(frame_buffer + 4, kReadCommand, moved);
      frame_buffer[4 + moved] = 0x00;
      frame_buffer[5 + moved] = 0x00;
      const std::uint32_t result = send_frame(moved + kReadDataOffset, reply_buffer);
      if (result != VELNOR_OK) return result;
      const std::uint8_t* data = reply_buffer + kReadDataOffset;
      if (mode == kJmemVerify) {
        for (std::uint32_t k = 0; k < moved; ++k) {
          if (buffer[k] != data[k]) {
            diagnostic("Verify error %08X\n", address + k);
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
