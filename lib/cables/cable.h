// The one interface between the JTAG layer and a cable: four operations that
// every cable fills in, over that cable's own state. Nothing above it knows
// which cable is in use.
//
// shift clocks bit_count TCK cycles. TDI of cycle i is stream bit i of tdi
// (most significant bit first, zeros when tdi is null); TMS is tms for every
// cycle but the last and tms_last for the last; the TDO the chain presents in
// cycle i lands in stream bit i of tdo, in the same bit order (each tdo byte
// cleared before its first bit). A cable may hold shifts whose TDO nobody
// reads and send them with the next transfer; flush sends them now, and the
// layers above call it before each wait on the hardware and at the end of
// each operation. It is null on a cable that sends every shift at once.
#pragma once

#include <cstdint>

namespace velnor {

struct CableOps {
  // 0 when the cable was found and opened.
  std::int32_t (*open)(void* cable, std::uint32_t unit);
  // 1 when the cable senses target supply, 0 when it senses none, -1 when
  // the cable could not be asked.
  std::int32_t (*target_power)(void* cable);
  void (*close)(void* cable);
  // 0, or nonzero when an exchange with the cable failed; TDO then reads 0
  // where no answer came.
  std::int32_t (*shift)(void* cable, const std::uint8_t* tdi, std::uint8_t* tdo,
                        std::uint32_t bit_count, int tms, int tms_last);
  // 0, or nonzero when sending what was held failed.
  std::int32_t (*flush)(void* cable);
};

// A cable of some kind with its state.
struct Cable {
  CableOps ops = {};
  void* state = nullptr;
  // Set by every failed exchange: an operation that saw one ends with
  // VELNOR_ERR_PROBE in its result, whatever its own steps returned.
  bool failed = false;

  std::int32_t open(std::uint32_t unit) { return ops.open(state, unit); }
  std::int32_t target_power() {
    const std::int32_t power = ops.target_power(state);
    if (power < 0) failed = true;
    return power;
  }
  void close() { ops.close(state); }
  void shift(const std::uint8_t* tdi, std::uint8_t* tdo, std::uint32_t bit_count, int tms,
             int tms_last) {
    if (ops.shift(state, tdi, tdo, bit_count, tms, tms_last) != 0) failed = true;
  }
  void flush() {
    if (ops.flush != nullptr && ops.flush(state) != 0) failed = true;
  }
};

// The cable kind of a selector's high half names a cable identifier
// (1 "mox_usb2", 2 "mox_xpar"); null for any other kind.
const char* cable_identifier(std::uint32_t kind);
// The cable with that identifier, its state the process's one of that kind;
// a cable with no operations when none.
Cable cable_named(const char* identifier);

}  // namespace velnor
