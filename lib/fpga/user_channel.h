// Exchanging bytes with the design in a configured FPGA through its JTAG
// user registers (channel 1 = USER1, channel 2 = USER2), and the
// memory-access protocol a design may speak on channel 1.
#pragma once

#include <cstdint>

#include "fpga/target.h"

namespace velnor {

// Transfers are shifted in pieces of at most this many bytes.
constexpr std::int32_t CHANNEL_PIECE_BYTES = 4096;

// 1 (USER1) and 2 (USER2) carry data; 0 names no channel.
bool is_data_channel(std::int32_t channel);

// Makes sure the chain position is the FPGA's before a transfer on channel:
// a frame that goes on needs only the supply sensed (a TAP reset would end
// it); a new one gets the full target check. A result word.
std::uint32_t check_channel_target(Target& target, std::int32_t channel);

// Opens the channel's frame (instruction, Shift-DR, start bit); channel 0
// closes any open frame.
std::uint32_t select_channel(Target& target, std::int32_t channel);

// Sends *count bytes on a data channel (zeros for a null transmit) and
// stores as many received (none for a null receive), opening the channel's
// frame with its start bit when it is not open; *count falls as the data
// go. A result word.
std::uint32_t channel_transfer(Target& target, std::int32_t channel, const std::uint8_t* transmit,
                               std::uint8_t* receive, std::int32_t* count,
                               const Progress& progress);

// mode 0 writes buffer to the design's memory at address, 3 verifies it,
// any other value reads into it; the FPGA must have been checked with
// check_channel_target for channel 1. 0 when done, 1 at the first verify
// mismatch, or the result word of a failed transfer.
std::uint32_t memory_access(Target& target, std::uint8_t mode, std::uint32_t address,
                            std::uint8_t* buffer, std::uint32_t length);

}  // namespace velnor
