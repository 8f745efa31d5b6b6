// The JTAG chain: devices in order from TDO (index 0) to TDI, the shared TCK
// and TMS, and the faults a real board can have.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "bench/device.h"
#include "bench/trace.h"

namespace velnor::bench {

class Chain {
 public:
  // The trace keeps each device's TAP state in 4 bits of 64.
  static constexpr std::size_t kMaxDevices = 16;

  // Appends at the TDI end; at most kMaxDevices.
  void add(std::unique_ptr<Device> device);
  std::size_t size() const;
  Device& device(std::size_t index);

  // Pins as the cable drives them. TCK edges clock every device at once:
  // on the rising edge each device samples the TDO its neighbour on the TDI
  // side drove since the last falling edge (the chain TDI for the last one).
  void set_pins(bool tck, bool tms, bool tdi);
  // The chain's TDO as the cable sees it: a device not shifting leaves the
  // line to the cable's pull-up (1); faults override.
  bool tdo() const;
  // One whole cycle from TCK high: falling edge with the new TMS/TDI, then
  // rising edge. Returns TDO as it was just before the rising edge.
  bool clock(bool tms, bool tdi);
  std::uint64_t cycle_count() const;

  // Faults.
  void set_tdo_stuck(std::optional<bool> level);
  // Cuts the line from device index's TDO to its neighbour on the TDO side
  // (index == 0 cuts the chain's TDO); the open input floats high.
  void set_open_after(std::optional<std::size_t> index);
  // Unpowered devices drive nothing and reset when power returns.
  void set_powered(bool powered);
  bool powered() const;

  void set_trace(Trace* trace);

 private:
  bool input_of(std::size_t index) const;  // the level at device index's TDI
  void rising_edge();
  void falling_edge();
  std::vector<std::unique_ptr<Device>> devices_;
  bool tck_ = true, tms_ = true, tdi_ = true;
  std::optional<bool> tdo_stuck_;
  std::optional<std::size_t> open_after_;
  bool powered_ = true;
  std::uint64_t cycles_ = 0;
  Trace* trace_ = nullptr;
};

}  // namespace velnor::bench
