#include "bench/chain.h"

#include <stdexcept>
#include <utility>

namespace velnor::bench {

void Chain::add(std::unique_ptr<Device> device) {
  if (devices_.size() >= kMaxDevices) {
    throw std::length_error("a chain holds at most 16 devices");
  }
  if (powered_) device->power_on_reset();
  devices_.push_back(std::move(device));
}

std::size_t Chain::size() const { return devices_.size(); }

Device& Chain::device(std::size_t index) { return *devices_.at(index); }

void Chain::set_pins(bool tck, bool tms, bool tdi) {
  const bool rising = tck && !tck_;
  const bool falling = !tck && tck_;
  tck_ = tck;
  tms_ = tms;
  tdi_ = tdi;
  if (rising) {
    rising_edge();
  } else if (falling) {
    falling_edge();
  }
}

bool Chain::input_of(std::size_t index) const {
  if (index + 1 == devices_.size()) return tdi_;
  if (open_after_ && *open_after_ == index + 1) return true;  // open input floats high
  const Device& neighbour = *devices_[index + 1];
  return neighbour.tdo_enabled() ? neighbour.tdo() : true;
}

void Chain::rising_edge() {
  ++cycles_;
  const bool tracing = trace_ != nullptr && trace_->enabled();
  const bool tdo_before = tracing && tdo();
  if (powered_) {
    // Every device samples at once: a rising edge never moves a TDO, so
    // reading the neighbour's TDO in turn sees the level it drove before.
    for (std::size_t i = 0; i < devices_.size(); ++i) {
      devices_[i]->rising_edge(tms_, input_of(i));
    }
  }
  if (tracing) {
    // Unpowered parts have no state; they show as Test-Logic-Reset, where
    // they come up.
    std::uint64_t states = 0;
    if (powered_) {
      for (std::size_t i = 0; i < devices_.size(); ++i) {
        states |= static_cast<std::uint64_t>(devices_[i]->state()) << (4 * i);
      }
    }
    trace_->record_clock(tms_, tdi_, tdo_before, states);
  }
}

void Chain::falling_edge() {
  if (!powered_) return;
  for (auto& device : devices_) device->falling_edge();
}

bool Chain::tdo() const {
  if (tdo_stuck_) return *tdo_stuck_;
  // Nothing driving leaves the line to the cable's pull-up.
  if (!powered_ || devices_.empty() || (open_after_ && *open_after_ == 0)) return true;
  const Device& first = *devices_.front();
  return first.tdo_enabled() ? first.tdo() : true;
}

bool Chain::clock(bool tms, bool tdi) {
  set_pins(false, tms, tdi);
  const bool sampled = tdo();
  set_pins(true, tms, tdi);
  return sampled;
}

std::uint64_t Chain::cycle_count() const { return cycles_; }

void Chain::set_tdo_stuck(std::optional<bool> level) { tdo_stuck_ = level; }

void Chain::set_open_after(std::optional<std::size_t> index) { open_after_ = index; }

void Chain::set_powered(bool powered) {
  if (powered && !powered_) {
    for (auto& device : devices_) device->power_on_reset();
  }
  if (!powered && powered_) {
    for (auto& device : devices_) device->power_off();
  }
  powered_ = powered;
}

bool Chain::powered() const { return powered_; }

void Chain::set_trace(Trace* trace) { trace_ = trace; }

}  // namespace velnor::bench
