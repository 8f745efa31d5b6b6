// The EZ-USB AN2131 chip: its 8051 core with 8 KiB of RAM at 0 for code and
// data, and the USB core's register block in external data memory — the
// port pins wired to the JTAG chain, the endpoint buffers with their
// control/status and byte-count handshakes, the setup data of endpoint 0
// and USBCS for renumeration. The chip knows nothing of time or threads;
// the USB device model (ezusb.h) runs it and plays the host's side through
// the host_* calls.
//
// Endpoint pairing (USBPAIR): PR2OUT, PR4OUT and PR6OUT pair OUT2/OUT3,
// OUT4/OUT5 and OUT6/OUT7 into one double-buffered endpoint. The host
// addresses the even endpoint only, and the 8051 uses only the even one's
// registers and buffer address, as in Anchor's own pairing example (the
// endpoint-pair sample of the EZ-USB kit: USBPAIR = 0x09, then OUT2CS,
// OUT2BC and OUT2BUF alone): packets land in the two buffers in turn, and
// OUT2BUF, OUT2BC and OUT2CS's BUSY show the buffer the 8051 is to read
// next (BUSY set: it holds nothing yet). Writing OUT2BC hands that buffer
// back to the host and turns the 8051 to the other one. The host gets a
// third packet only once the 8051 gave one back; until then it is NAKed.
// The odd endpoint's registers, its buffer address and a re-arm of a buffer
// the 8051 does not hold are violations, as are the IN pairing bits, which
// this model does not emulate.
//
// Cable wiring (Wiring::Velnor, our cable): PC1 TCK, PC2 TMS, PA5 TDI are
// outputs once their OE bits are set (an undriven line is pulled high); PC0
// reads the chain's TDO and PC3 the target supply. Wiring::OpenUlink is the
// ULINK pod that OpenOCD's OpenULINK firmware drives: PB0 TDI, PB1 TMS, PB2
// TCK out, TDO in on PA5; its TRST (PB3) and RESET (PB5) lines reach no pin
// of this board's chain.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "bench/chain.h"
#include "bench/mcs51.h"

namespace velnor::bench {

// The eight bytes of a SETUP packet.
struct UsbSetup {
  std::uint8_t request_type = 0;  // bit 7: device to host
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint16_t length = 0;
};

class An2131 final : public XdataBus {
 public:
  static constexpr std::uint16_t kRamSize = 0x2000;
  static constexpr std::size_t kPacketSize = 64;

  // Register addresses (external data memory).
  static constexpr std::uint16_t kCpucs = 0x7F92;
  static constexpr std::uint16_t kPortAcfg = 0x7F93;
  static constexpr std::uint16_t kPortBcfg = 0x7F94;
  static constexpr std::uint16_t kPortCcfg = 0x7F95;
  static constexpr std::uint16_t kOutA = 0x7F96;
  static constexpr std::uint16_t kOutB = 0x7F97;
  static constexpr std::uint16_t kOutC = 0x7F98;
  static constexpr std::uint16_t kPinsA = 0x7F99;
  static constexpr std::uint16_t kPinsB = 0x7F9A;
  static constexpr std::uint16_t kPinsC = 0x7F9B;
  static constexpr std::uint16_t kOeA = 0x7F9C;
  static constexpr std::uint16_t kOeB = 0x7F9D;
  static constexpr std::uint16_t kOeC = 0x7F9E;
  static constexpr std::uint16_t kIn07Irq = 0x7FA9;
  static constexpr std::uint16_t kOut07Irq = 0x7FAA;
  static constexpr std::uint16_t kUsbIrq = 0x7FAB;
  static constexpr std::uint16_t kIn07Ien = 0x7FAC;
  static constexpr std::uint16_t kOut07Ien = 0x7FAD;
  static constexpr std::uint16_t kUsbIen = 0x7FAE;
  static constexpr std::uint16_t kUsbBav = 0x7FAF;
  static constexpr std::uint16_t kEp0Cs = 0x7FB4;  // also IN0CS
  static constexpr std::uint16_t kIn0Bc = 0x7FB5;
  static constexpr std::uint16_t kOut0Bc = 0x7FC5;
  static constexpr std::uint16_t kSudPtrH = 0x7FD4;
  static constexpr std::uint16_t kSudPtrL = 0x7FD5;
  static constexpr std::uint16_t kUsbCs = 0x7FD6;
  static constexpr std::uint16_t kUsbFrameL = 0x7FD8;
  static constexpr std::uint16_t kUsbFrameH = 0x7FD9;
  static constexpr std::uint16_t kUsbPair = 0x7FDD;
  static constexpr std::uint16_t kIn07Val = 0x7FDE;
  static constexpr std::uint16_t kOut07Val = 0x7FDF;
  // The autopointer: AUTODATA reads or writes the byte AUTOPTRH:AUTOPTRL
  // points at, then the pointer steps to the next address.
  static constexpr std::uint16_t kAutoPtrH = 0x7FE3;
  static constexpr std::uint16_t kAutoPtrL = 0x7FE4;
  static constexpr std::uint16_t kAutoData = 0x7FE5;
  static constexpr std::uint16_t kSetupDat = 0x7FE8;
  // Endpoint n's buffer, control/status and byte count (n = 0..7).
  static constexpr std::uint16_t in_buffer(int n) {
    return static_cast<std::uint16_t>(0x7F00 - 0x80 * n);
  }
  static constexpr std::uint16_t out_buffer(int n) {
    return static_cast<std::uint16_t>(0x7EC0 - 0x80 * n);
  }
  static constexpr std::uint16_t in_cs(int n) { return static_cast<std::uint16_t>(0x7FB4 + 2 * n); }
  static constexpr std::uint16_t out_cs(int n) {
    return static_cast<std::uint16_t>(0x7FC4 + 2 * n);
  }

  // Bits.
  static constexpr std::uint8_t kCpuReset = 0x01;  // CPUCS 8051RES
  static constexpr std::uint8_t kStall = 0x01;     // INnCS/OUTnCS, EP0CS EP0STALL
  static constexpr std::uint8_t kBusy = 0x02;      // INnCS/OUTnCS
  static constexpr std::uint8_t kHsnak = 0x02;     // EP0CS
  static constexpr std::uint8_t kIn0Busy = 0x04;   // EP0CS
  static constexpr std::uint8_t kSudav = 0x01;     // USBIRQ
  static constexpr std::uint8_t kSof = 0x02;
  static constexpr std::uint8_t kSutok = 0x04;
  static constexpr std::uint8_t kUsbReset = 0x10;  // USBIRQ URESIR
  static constexpr std::uint8_t kRenum = 0x02;     // USBCS
  static constexpr std::uint8_t kDiscoe = 0x04;
  static constexpr std::uint8_t kDiscon = 0x08;
  static constexpr std::uint8_t kAven = 0x01;      // USBBAV: autovectoring on
  static constexpr std::uint8_t kPairIn = 0x07;    // USBPAIR PR2IN, PR4IN, PR6IN
  static constexpr std::uint8_t kPair2Out = 0x08;  // USBPAIR PR2OUT; PR4OUT and PR6OUT above
  // With AVEN, the core puts the INT2 vector of the highest-priority USB
  // request into the low address byte of the LJMP at 0x43 (at 0x45).
  static constexpr std::uint16_t kAutovectorByte = 0x45;

  using ViolationSink = std::function<void(std::string)>;
  enum class Wiring : std::uint8_t { Velnor, OpenUlink };

  // Comes up as at power-on: RAM cleared, every port an input, the CPU
  // held in reset (CPUCS 8051RES set), RENUM clear, DISCOE set and DISCON
  // clear (on the bus).
  An2131(Chain& chain, ViolationSink violation, Wiring wiring = Wiring::Velnor);
  An2131(const An2131&) = delete;
  An2131& operator=(const An2131&) = delete;

  Mcs51& cpu();
  std::uint64_t cycles() const;  // machine cycles executed
  std::span<std::uint8_t> ram();
  // 8051RES: holding resets the core; registers and RAM keep their contents.
  bool cpu_held() const;
  void set_cpu_held(bool held);
  // Runs at least the given machine cycles (none while held or after the
  // core crashed on the undefined opcode); returns those spent.
  std::uint64_t run(std::uint64_t cycles);
  bool crashed() const;
  // Called whenever the firmware does something the outside can see (a pin
  // level, an endpoint handshake, USBCS): the device model keeps time by it.
  void set_activity_handler(std::function<void()> handler);
  std::uint64_t activity_count() const;
  // The machine cycle of the firmware's last write to a port register, seen
  // outside or not (pin bytes that only set the levels again): busy, not
  // waiting in a poll loop.
  std::uint64_t last_port_write() const;

  // USB core state the host side sees.
  bool renum() const;
  // Off the bus: the 1.5 kOhm pull-up on D+ hangs on the DISCON# pin, which
  // pulls it up only while DISCOE drives the pin and DISCON is clear; a
  // floating pin (DISCOE clear) disconnects as much as DISCON does.
  bool off_bus() const;
  std::uint8_t in_valid() const;
  std::uint8_t out_valid() const;
  void start_of_frame(std::uint16_t frame);

  // The host's USB bus reset, as every enumeration starts: the core arms
  // the OUT endpoints 1..7 (a firmware may wait for its first OUT packet
  // without ever writing OUTnBC) and flags URESIR. IN endpoints keep
  // whatever the firmware armed.
  void host_bus_reset();

  // Bulk and interrupt endpoints 1..7; a pair by its even endpoint.
  // Armed: the endpoint takes the host's next packet (else it is NAKed).
  bool out_armed(int endpoint) const;
  // Packets in the endpoint's buffers (two when paired) that the 8051 has
  // not handed back yet.
  int out_held(int endpoint) const;
  bool out_stalled(int endpoint) const;
  // The host's packet into an armed OUT endpoint: BUSY clears, OUTnBC holds
  // its length, OUT07IRQ flags it (a pair: into the buffer whose turn it is).
  void host_out(int endpoint, std::span<const std::uint8_t> packet);
  bool in_armed(int endpoint) const;
  std::uint8_t in_count(int endpoint) const;  // INnBC of the armed packet
  bool in_stalled(int endpoint) const;
  // The packet the firmware armed; taking it clears BUSY and flags IN07IRQ.
  std::vector<std::uint8_t> host_take_in(int endpoint);

  // Endpoint 0 when the firmware answers (RENUM set). host_setup fills
  // SETUPDAT, raises SUDAV and sets HSNAK; the firmware answers with data
  // (IN0BUF/IN0BC or SUDPTR), a stall, or by clearing HSNAK.
  void host_setup(const UsbSetup& setup);
  bool ep0_stalled() const;
  bool ep0_handshake_done() const;  // HSNAK cleared
  // Data-stage bytes the firmware provided since the last call: a SUDPTR
  // descriptor whole, or one IN0BC packet (flagged short when below 64).
  struct Ep0Data {
    std::vector<std::uint8_t> bytes;
    bool last = false;  // a descriptor or a short packet ends the stage
  };
  bool ep0_take_in(Ep0Data* data);

  // XdataBus: everything from 0x2000 up.
  std::uint8_t read_xdata(std::uint16_t address) override;
  void write_xdata(std::uint16_t address, std::uint8_t value) override;

 private:
  struct Endpoint {
    bool busy = false;
    bool stalled = false;
    bool has_data = false;   // OUT: the host's packet waits in the buffer
    bool reported = false;   // one violation per handshake, not per byte
    std::uint8_t count = 0;  // INnBC / OUTnBC
  };
  // An OUT pair: which of its two buffers (0: the even endpoint's, 1: the
  // odd one's) the host fills next and which the 8051 reads next.
  struct Pair {
    bool on = false;
    int host_side = 0;
    int cpu_side = 0;
  };
  static constexpr std::uint16_t kRegisterBase = 0x7B40;

  std::uint8_t& reg(std::uint16_t address);
  // A MOVX where nothing is, reported once per address.
  void report_unmapped(std::uint16_t address, const char* verb);
  // Reports text the first time address is misused.
  void report_once(std::uint16_t address, std::string text);
  // The pair OUT endpoint n belongs to while pairing is on, else nullptr.
  Pair* out_pair(int endpoint);
  const Pair* out_pair(int endpoint) const;
  // The OUT buffer (endpoint number) the 8051 reaches through endpoint n's
  // registers and buffer address: the buffer whose turn it is in a pair.
  // -1 for the odd endpoint of a pair, a violation reported at address.
  int cpu_out_buffer(int endpoint, std::uint16_t address);
  void write_out_count(int endpoint, std::uint16_t address);
  void write_pairing(std::uint8_t value);
  // The address AUTODATA reaches now; the pointer steps past it.
  std::uint16_t autopointer_step();
  // RAM below kRamSize, the register block above: what MOVX reaches.
  std::uint8_t read_external(std::uint16_t address);
  void write_external(std::uint16_t address, std::uint8_t value);
  void activity();
  void violation(std::string text);
  void update_pins();
  void update_interrupt();
  void write_in_count(int endpoint, std::uint8_t value);
  void start_descriptor(std::uint16_t address);
  // The INT2 autovector of the highest-priority enabled USB request.
  std::uint8_t autovector();
  // The endpoint whose buffer holds the address, or -1; *in tells which way.
  static int buffer_endpoint(std::uint16_t address, bool* in);

  Chain& chain_;
  ViolationSink violation_;
  const Wiring wiring_;
  Mcs51 cpu_;
  std::array<std::uint8_t, 0x8000 - kRegisterBase> registers_{};
  std::array<Endpoint, 8> in_{};
  std::array<Endpoint, 8> out_{};
  std::array<Pair, 3> out_pairs_{};  // OUT2/3, OUT4/5, OUT6/7
  bool held_ = true;
  bool crashed_ = false;
  bool hsnak_ = false;
  bool ep0_stalled_ = false;
  std::vector<std::uint8_t> ep0_descriptor_;
  bool ep0_descriptor_ready_ = false;
  // Levels the chain last saw from this cable: TCK, TMS, TDI.
  bool tck_ = true, tms_ = true, tdi_ = true;
  std::function<void()> on_activity_;
  std::uint64_t activity_count_ = 0;
  std::uint64_t last_port_write_ = 0;
  std::vector<std::uint16_t> reported_addresses_;
  std::uint16_t autopointer_ = 0;
};

}  // namespace velnor::bench
