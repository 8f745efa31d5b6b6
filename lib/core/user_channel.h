// Exchanging bytes with the design in a configured FPGA through its JTAG
// user registers (channel 1 = USER1, channel 2 = USER2), and the
// memory-access protocol a design may speak on channel 1.
#pragma once

#include <cstdint>

namespace velnor {

// Transfers are shifted in pieces of at most this many bytes.
constexpr std::int32_t kChannelPieceBytes = 4096;

// With a null count only selects the channel (any number other than 1 and 2
// closes it). Otherwise sends *count bytes (zeros for a null transmit) and
// stores as many received (none for a null receive), on a worker thread
// when bit 31 of *count is set. A result word.
std::uint32_t spi_xfer(std::uint8_t channel, const std::uint8_t* transmit, std::uint8_t* receive,
                       std::int32_t* count);

// mode 0 writes buffer to the design's memory at address, 3 verifies it,
// any other value reads into it. 0 when done, 1 at the first verify
// mismatch, or the result word of a refused transfer.
std::uint32_t memory_access(std::uint8_t mode, std::uint32_t address, std::uint8_t* buffer,
                            std::uint32_t length);

}  // namespace velnor
