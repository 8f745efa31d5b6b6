// The design a configured Spartan-II runs, as the JTAG user registers USER1
// (channel 0) and USER2 (channel 1) reach it.
//
// Framing, the same for both channels and both designs: Capture-DR restarts
// it; the design then waits for the first 1 (the start bit; zeros before it
// are bypass and alignment bits of other devices) and takes bytes most
// significant bit first. While it receives byte j it shifts out its output
// byte j, most significant bit first; before the start bit it shifts zeros.
//
// Designs:
//   loopback  channel 0 answers 0xA5 as byte 0, channel 1 0x5A; after that
//             each channel answers with the byte it received one byte before.
//   memory    channel 0 carries frames to a RAM; channel 1 answers zeros.
//             A byte with bit 7 set starts a frame: it and three more bytes
//             are the address, bits 30..0 (bit 31 does not exist: the host
//             sets bit 7 of the first byte). Then records follow:
//               0x40 + n (n = 1..63), n data bytes written from the address on
//               0x21  read the byte at the address; it comes out in the
//                     output byte two bytes after the command
//               0x00  ends the frame
//             The address advances within its 64 KiB page (the low 16 bits
//             wrap). Bytes outside a frame other than a frame start, and
//             unknown record bytes, are ignored.
//   none      nothing behind the user registers.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>

namespace velnor::bench {

enum class DesignKind { Memory, Loopback, None };

class UserDesign {
 public:
  explicit UserDesign(DesignKind kind = DesignKind::Memory);
  DesignKind kind() const;
  void set_kind(DesignKind kind);

  // The JTAG side of channel 0 or 1: Capture-DR, the bit presented on TDO,
  // and a bit taken from TDI in Shift-DR.
  void capture(int channel);
  bool output(int channel) const;
  void shift(int channel, bool tdi);

  // The memory design's RAM (31 address bits, sparse, unwritten bytes 0).
  std::uint8_t read(std::uint32_t address) const;
  void write(std::uint32_t address, std::uint8_t value);

  // The board's supply returned: RAM and framing are lost.
  void power_on();

 private:
  struct Channel {
    bool started = false;  // the start bit was seen
    int bits = 0;          // of the byte being received
    std::uint8_t in = 0;
    std::uint8_t out = 0;       // the byte being sent
    std::uint32_t index = 0;    // of the byte being received and sent
    std::uint8_t previous = 0;  // loopback: the last byte received
  };
  enum class Parse { Idle, Address, Records, Data };

  std::uint8_t output_byte(int channel);  // output byte channels_[channel].index
  void take_byte(int channel, std::uint8_t byte);
  void memory_byte(std::uint8_t byte, std::uint32_t index);
  void advance_address();

  DesignKind kind_;
  std::array<Channel, 2> channels_{};
  // Memory frame parser.
  Parse parse_ = Parse::Idle;
  std::uint32_t address_ = 0;
  int pending_ = 0;  // address or data bytes still to come
  // Read data waiting for its output byte, by output byte index modulo 4.
  std::array<std::uint8_t, 4> replies_{};
  std::map<std::uint32_t, std::unique_ptr<std::array<std::uint8_t, 0x10000>>> pages_;
};

}  // namespace velnor::bench
