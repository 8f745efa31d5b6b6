// A record of everything that crossed the bench's pins: each printer-port
// access and each TCK cycle with the levels the chain saw and the TAP state
// every device reached. Off until enabled, so long jobs cost nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/tap.h"

namespace velnor::bench {

struct TraceEntry {
  enum class Kind : std::uint8_t { PortWrite, PortRead, Clock };
  Kind kind;
  std::uint16_t port = 0;  // PortWrite, PortRead
  std::uint8_t value = 0;  // PortWrite, PortRead
  bool tms = false;        // Clock: levels sampled at the rising edge
  bool tdi = false;
  bool tdo = false;          // Clock: TDO presented before the rising edge
  std::uint64_t states = 0;  // Clock: TAP state after the edge, 4 bits per device, device 0 lowest
  TapState state(int device) const;
};

class Trace {
 public:
  void enable(bool on);
  bool enabled() const;
  void clear();
  void record_port_write(std::uint16_t port, std::uint8_t value);
  void record_port_read(std::uint16_t port, std::uint8_t value);
  void record_clock(bool tms, bool tdi, bool tdo, std::uint64_t states);

  const std::vector<TraceEntry>& entries() const;
  // Views for tests.
  std::vector<std::uint8_t> port_writes(std::uint16_t port) const;
  std::vector<std::uint8_t> port_reads(std::uint16_t port) const;
  std::vector<TraceEntry> clocks() const;
  // One character '0'/'1' per TCK cycle, in order.
  std::string tms_bits() const;
  std::string tdi_bits() const;
  std::string tdo_bits() const;
  std::size_t clock_count() const;

 private:
  bool enabled_ = false;
  std::vector<TraceEntry> entries_;
};

}  // namespace velnor::bench
