#include "bench/trace.h"

namespace velnor::bench {

TapState TraceEntry::state(int device) const {
  return static_cast<TapState>((states >> (4 * device)) & 0xF);
}

void Trace::enable(bool on) { enabled_ = on; }

bool Trace::enabled() const { return enabled_; }

void Trace::clear() { entries_.clear(); }

void Trace::record_port_write(std::uint16_t port, std::uint8_t value) {
  if (!enabled_) return;
  TraceEntry entry{TraceEntry::Kind::PortWrite};
  entry.port = port;
  entry.value = value;
  entries_.push_back(entry);
}

void Trace::record_port_read(std::uint16_t port, std::uint8_t value) {
  if (!enabled_) return;
  TraceEntry entry{TraceEntry::Kind::PortRead};
  entry.port = port;
  entry.value = value;
  entries_.push_back(entry);
}

void Trace::record_clock(bool tms, bool tdi, bool tdo, std::uint64_t states) {
  if (!enabled_) return;
  TraceEntry entry{TraceEntry::Kind::Clock};
  entry.tms = tms;
  entry.tdi = tdi;
  entry.tdo = tdo;
  entry.states = states;
  entries_.push_back(entry);
}

const std::vector<TraceEntry>& Trace::entries() const { return entries_; }

namespace {

std::vector<std::uint8_t> port_values(const std::vector<TraceEntry>& entries, TraceEntry::Kind kind,
                                      std::uint16_t port) {
  std::vector<std::uint8_t> values;
  for (const TraceEntry& entry : entries) {
    if (entry.kind == kind && entry.port == port) values.push_back(entry.value);
  }
  return values;
}

template <typename Level>
std::string clock_bits(const std::vector<TraceEntry>& entries, Level level) {
  std::string bits;
  for (const TraceEntry& entry : entries) {
    if (entry.kind == TraceEntry::Kind::Clock) bits.push_back(level(entry) ? '1' : '0');
  }
  return bits;
}

}  // namespace

std::vector<std::uint8_t> Trace::port_writes(std::uint16_t port) const {
  return port_values(entries_, TraceEntry::Kind::PortWrite, port);
}

std::vector<std::uint8_t> Trace::port_reads(std::uint16_t port) const {
  return port_values(entries_, TraceEntry::Kind::PortRead, port);
}

std::vector<TraceEntry> Trace::clocks() const {
  std::vector<TraceEntry> clocks;
  for (const TraceEntry& entry : entries_) {
    if (entry.kind == TraceEntry::Kind::Clock) clocks.push_back(entry);
  }
  return clocks;
}

std::string Trace::tms_bits() const {
  return clock_bits(entries_, [](const TraceEntry& e) { return e.tms; });
}

std::string Trace::tdi_bits() const {
  return clock_bits(entries_, [](const TraceEntry& e) { return e.tdi; });
}

std::string Trace::tdo_bits() const {
  return clock_bits(entries_, [](const TraceEntry& e) { return e.tdo; });
}

std::size_t Trace::clock_count() const {
  std::size_t count = 0;
  for (const TraceEntry& entry : entries_) {
    if (entry.kind == TraceEntry::Kind::Clock) ++count;
  }
  return count;
}

}  // namespace velnor::bench
