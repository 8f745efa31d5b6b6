// A minimal AN2131 for running the cable firmware on the 8051 core: the port
// registers wired to a JTAG chain, the endpoint buffers with their BUSY/count
// handshakes, the autopointer, setup packets and the control registers the
// firmware writes. The host side of each endpoint is a method.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "bench/chain.h"
#include "bench/mcs51.h"

namespace velnor::bench {

class An2131TestBus : public XdataBus {
 public:
  // The OUT endpoints the firmware serves, by their count registers.
  enum class Out : std::uint16_t { Ep2 = 0x7FC9, Ep4 = 0x7FCD, Ep6 = 0x7FD1 };

  // The pins at one rising TCK edge, with the core's cycle count then.
  struct Edge {
    bool tms;
    bool tdi;
    std::uint64_t cycle;
  };

  explicit An2131TestBus(Chain& chain);
  void attach(const Mcs51& cpu);  // time stamps come from its cycle counter

  std::uint8_t read_xdata(std::uint16_t address) override;
  void write_xdata(std::uint16_t address, std::uint8_t value) override;

  std::uint8_t reg(std::uint16_t address) const;
  bool tck() const;
  bool tms() const;
  bool tdi() const;

  // Host side.
  bool out_armed(Out endpoint) const;
  void send(Out endpoint, std::span<const std::uint8_t> packet);
  bool reply_armed() const;
  std::vector<std::uint8_t> take_reply();
  void send_setup(const std::array<std::uint8_t, 8>& setup);

  bool target_powered = true;
  std::vector<Edge> rising_edges;
  std::uint64_t pinsc_reads_with_tck_high = 0;
  std::uint64_t last_out_rearm_cycle = 0;
  std::uint64_t last_reply_cycle = 0;
  std::vector<std::uint8_t> ep0_writes;            // EP0CS values written
  std::vector<std::uint16_t> descriptor_pointers;  // SUDPTRH:SUDPTRL when SUDPTRL is written
  std::vector<std::uint8_t> in0_packet;            // IN0BUF when IN0BC is written
  std::vector<std::uint8_t> usbcs_writes;
  // MOVX outside the chip's registers and buffers (0x7B40..0x7FFF): the
  // AN2131 has nothing there.
  std::uint64_t stray_accesses = 0;

 private:
  void drive_pins();
  std::uint64_t now() const;
  std::uint16_t autopointer() const;

  Chain& chain_;
  const Mcs51* cpu_ = nullptr;
  std::vector<std::uint8_t> memory_ = std::vector<std::uint8_t>(0x10000, 0);
  std::vector<std::uint8_t> reply_;
  bool tck_ = true, tms_ = true, tdi_ = true;
};

}  // namespace velnor::bench
